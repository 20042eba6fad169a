// The port table, choosing and opening ports, the share count, and lending a port between
// instances (in one process, through the real relay sockets).

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "OutputPortDoubles.h"
#include "core/Messages.h"
#include "core/Setup.h"
#include "midi/MidiLog.h"
#include "midi/OutputPort.h"

namespace {

using namespace Messages;

// The devices of one machine, shared by every instance running on it.
struct Machine {
    std::vector<std::shared_ptr<FakeDevice>> devices;
    std::shared_ptr<FakeDevice> synthesizer = std::make_shared<FakeDevice>("MIDI Mapper", false);
    bool mapperWorks = true;

    std::shared_ptr<FakeDevice> add(const std::string& name, bool exclusive = false) {
        devices.push_back(std::make_shared<FakeDevice>(name, exclusive));
        return devices.back();
    }
};

// One running instance: its setup, its port, the notes it showed.
struct Instance {
    explicit Instance(Machine& machine) {
        OutputPort::Drivers drivers;
        auto deviceDriver = std::make_unique<FakeDriver>();
        deviceDriver->devices = machine.devices;
        drivers.devices.push_back(std::move(deviceDriver));
        if (machine.mapperWorks) {
            auto mapper = std::make_unique<FakeDriver>();
            mapper->devices.push_back(machine.synthesizer);
            mapperDriver = mapper.get();
            drivers.mapper = std::move(mapper);
        }
        port = std::make_unique<OutputPort>(setup, std::move(drivers));
        port->setShowNote([this](const std::string& text) { notes.push_back(text); });
        port->setBroadcast([this](int message, std::intptr_t wParam, std::intptr_t lParam) {
            ownBroadcasts.push_back({message, wParam, lParam});
            return 1;
        });
    }

    PortState& state() { return setup.port; }

    Setup setup;
    std::unique_ptr<OutputPort> port;
    FakeDriver* mapperDriver = nullptr;
    std::vector<std::string> notes;
    std::vector<PortMessage> ownBroadcasts;
};

std::vector<int> messageIds(const std::vector<PortMessage>& messages) {
    std::vector<int> ids;
    for (const PortMessage& message : messages) {
        ids.push_back(message.message);
    }
    return ids;
}

// ---- The port table ----

TEST(OutputPortTable, NoDevicesLeavesOnlyTheMapperAndOpensIt) {
    Machine machine;
    Instance one(machine);
    one.port->enumeratePorts();

    EXPECT_EQ(one.state().deviceCount, 0);
    EXPECT_EQ(one.state().portNames[0], "MIDI Mapper");
    EXPECT_EQ(one.state().portId, -1);
    EXPECT_EQ(one.state().portName, "MIDI Mapper");
    EXPECT_EQ(one.state().handle, one.port->instanceId());
    EXPECT_EQ(one.state().shareCount, 1);
    EXPECT_EQ(one.setup.portOpenedHere, 1);
    EXPECT_EQ(machine.synthesizer->openConnections(), 1);
    EXPECT_TRUE(one.ownBroadcasts.empty());
}

TEST(OutputPortTable, DevicesInDriverOrderThenTheMapper) {
    Machine machine;
    machine.add("Alpha (ALSA)");
    machine.add("Beta (ALSA)");
    Instance one(machine);
    auto second = std::make_unique<FakeDriver>();
    second->add("gamma:in (JACK)");
    OutputPort::Drivers drivers;
    auto first = std::make_unique<FakeDriver>();
    first->devices = machine.devices;
    drivers.devices.push_back(std::move(first));
    drivers.devices.push_back(std::move(second));
    OutputPort port(one.setup, std::move(drivers));
    port.refreshPortTable();

    ASSERT_EQ(one.setup.port.deviceCount, 3);
    EXPECT_EQ(one.setup.port.portNames[0], "Alpha (ALSA)");
    EXPECT_EQ(one.setup.port.portNames[1], "Beta (ALSA)");
    EXPECT_EQ(one.setup.port.portNames[2], "gamma:in (JACK)");
    EXPECT_EQ(one.setup.port.portNames[3], "MIDI Mapper");
    EXPECT_EQ(one.setup.port.portNames[4], "");
}

TEST(OutputPortTable, DevicesBeyondFortyNineAreLeftOut) {
    Machine machine;
    for (int i = 0; i < 60; ++i) {
        machine.add("device " + std::to_string(i));
    }
    Instance one(machine);
    one.port->enumeratePorts();

    EXPECT_EQ(one.state().deviceCount, 49);
    EXPECT_EQ(one.state().portNames[48], "device 48");
    EXPECT_EQ(one.state().portNames[49], "MIDI Mapper");

    one.port->releasePort();
    one.port->selectPortByName("device 55");
    EXPECT_EQ(one.state().portId, -2);
    EXPECT_EQ(one.notes, std::vector<std::string>{"Could not find port: device 55"});
}

TEST(OutputPortTable, ARefreshForgetsNamesOfDevicesThatWentAway) {
    Machine machine;
    machine.add("a");
    machine.add("b");
    Instance one(machine);
    auto driver = std::make_unique<FakeDriver>();
    FakeDriver* devices = driver.get();
    driver->devices = machine.devices;
    OutputPort::Drivers drivers;
    drivers.devices.push_back(std::move(driver));
    OutputPort port(one.setup, std::move(drivers));
    port.refreshPortTable();
    devices->devices.pop_back();
    port.refreshPortTable();

    EXPECT_EQ(one.setup.port.deviceCount, 1);
    EXPECT_EQ(one.setup.port.portNames[1], "MIDI Mapper");
    EXPECT_EQ(one.setup.port.portNames[2], "");
}

TEST(OutputPortTable, EnumerationWhileAPortIsOpenChangesNothing) {
    Machine machine;
    Instance one(machine);
    one.port->enumeratePorts();
    machine.add("late arrival");
    one.port->enumeratePorts();

    EXPECT_EQ(one.state().deviceCount, 0);
    EXPECT_EQ(machine.synthesizer->openConnections(), 1);
}

// ---- Choosing a port by name ----

TEST(OutputPortSelect, OfTwoDevicesWithTheSameNameTheLaterIsOpened) {
    Machine machine;
    auto first = machine.add("Twin");
    machine.add("Other");
    auto second = machine.add("Twin");
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    one.port->selectPortByName("Twin");

    EXPECT_EQ(one.state().portId, 2);
    EXPECT_EQ(first->openConnections(), 0);
    EXPECT_EQ(second->openConnections(), 1);
    one.port->sendShort(0x90, 60, 100);
    EXPECT_EQ(second->received().size(), 1u);
    EXPECT_TRUE(first->received().empty());
}

TEST(OutputPortSelect, MidiMapperByNameIsTheSynthesizerEvenWhenADeviceHasThatName) {
    Machine machine;
    auto impostor = machine.add("MIDI Mapper");
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    one.port->selectPortByName("MIDI Mapper");

    EXPECT_EQ(one.state().portId, -1);
    EXPECT_EQ(impostor->openConnections(), 0);
    EXPECT_EQ(machine.synthesizer->openConnections(), 1);
}

TEST(OutputPortSelect, NamesCompareExactly) {
    Machine machine;
    machine.add("Synth");
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    one.port->selectPortByName("synth");

    EXPECT_EQ(one.state().portId, -2);
    EXPECT_EQ(one.notes, std::vector<std::string>{"Could not find port: synth"});
}

TEST(OutputPortSelect, AMissingNameShowsTheNoteThenFailsAndBroadcastsBusy) {
    Machine machine;
    machine.add("Present");
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    one.ownBroadcasts.clear();
    one.port->selectPortByName("Absent");

    EXPECT_EQ(one.notes, std::vector<std::string>{"Could not find port: Absent"});
    EXPECT_EQ(one.state().portName, "Absent");
    EXPECT_EQ(one.state().portId, -2);
    EXPECT_EQ(one.state().handle, 0);
    EXPECT_EQ(one.setup.portOpenedHere, 0);
    EXPECT_EQ(one.ownBroadcasts, (std::vector<PortMessage>{{UM_PORT_BUSY, 0, -2}}));
}

TEST(OutputPortSelect, AFailedOpenBroadcastsBusyWithThePortIdAndStaysSilent) {
    Machine machine;
    machine.mapperWorks = false;
    Instance one(machine);
    one.port->enumeratePorts();

    EXPECT_EQ(one.state().handle, 0);
    EXPECT_EQ(one.setup.portOpenedHere, 0);
    EXPECT_EQ(one.state().shareCount, 0);
    EXPECT_EQ(one.ownBroadcasts, (std::vector<PortMessage>{{UM_PORT_BUSY, 0, -1}}));
    one.port->sendShort(0x90, 60, 100);  // dropped, no crash
}

// ---- Sending ----

struct SendCase {
    int status, data1, data2;
    Bytes expected;
};

class OutputPortSend : public ::testing::TestWithParam<SendCase> {};

// The status keeps its low byte; a data byte keeps the seven bits a data byte has on the wire.
TEST_P(OutputPortSend, EachValueIsMaskedNotClamped) {
    Machine machine;
    Instance one(machine);
    one.port->enumeratePorts();
    const SendCase& c = GetParam();
    one.port->sendShort(c.status, c.data1, c.data2);
    EXPECT_EQ(machine.synthesizer->received(), std::vector<Bytes>{c.expected});
}

INSTANTIATE_TEST_SUITE_P(Values, OutputPortSend,
                         ::testing::Values(SendCase{0x90, 60, 300, {0x90, 60, 44}},
                                           SendCase{0x90, 60, 100, {0x90, 60, 100}},
                                           SendCase{0x1C0, -1, 256, {0xC0, 0x7F, 0x00}},
                                           SendCase{0xB0 + 15, 123, 0, {0xBF, 123, 0}},
                                           SendCase{0x90, 60, 200, {0x90, 60, 0x48}},
                                           SendCase{-1, 0x1FF, -256, {0xFF, 0x7F, 0x00}}));

TEST(OutputPortSendLog, EverySentMessageIsLoggedWithThePortName) {
    char path[] = "/tmp/glimmerstave-midilog-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::string error;
        auto log = MidiLog::open(path, &error);
        ASSERT_NE(log, nullptr) << error;
        Machine machine;
        Instance one(machine);
        one.port->setMidiLog(log.get());
        one.port->sendShort(0x90, 1, 2);  // no port yet: not sent, not logged
        one.port->enumeratePorts();
        one.port->sendShort(0x90, 60, 300);
        one.port->sendShort(0xC5, 0x7F, 0);
        one.port->sendShort(0x90, 60, 200);  // goes out as velocity 0x48
        one.port->sendShortDue(0xF8, 0, 0, 0);
        log->flush();
    }
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) {
        lines.push_back(line.substr(line.find('\t') + 1));
    }
    ::unlink(path);
    // As many bytes as go on the wire: two for a program change, one for a Timing Clock.
    EXPECT_EQ(lines, (std::vector<std::string>{"MIDI Mapper\t90 3C 2C", "MIDI Mapper\tC5 7F",
                                               "MIDI Mapper\t90 3C 48", "MIDI Mapper\tF8"}));
}

// ---- Opening, releasing and reopening in one instance ----

TEST(OutputPortShare, ASingleInstanceOpensWithCountOneAndClosesAtZeroWithoutBroadcast) {
    Machine machine;
    Instance one(machine);
    one.port->enumeratePorts();
    ASSERT_EQ(one.state().shareCount, 1);
    one.port->releasePort();

    EXPECT_EQ(one.state().shareCount, 0);
    EXPECT_EQ(one.state().handle, 0);
    EXPECT_EQ(machine.synthesizer->openConnections(), 0);
    EXPECT_TRUE(one.ownBroadcasts.empty());
}

TEST(OutputPortShare, AReleaseWithoutAPortIsANoOp) {
    Machine machine;
    machine.mapperWorks = false;
    Instance one(machine);
    one.port->enumeratePorts();
    one.ownBroadcasts.clear();
    one.port->releasePort();
    one.port->releasePort();

    EXPECT_EQ(one.state().shareCount, 0);
    EXPECT_TRUE(one.ownBroadcasts.empty());
}

TEST(OutputPortShare, AHeldPortWithCountZeroIsClosedWithoutANegativeBroadcast) {
    Machine machine;
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->handlePortMessage(UM_SHARE_COUNT, 0, -1);  // a stray count from elsewhere
    one.port->releasePort();

    EXPECT_EQ(one.state().shareCount, 0);
    EXPECT_EQ(one.state().handle, 0);
    EXPECT_EQ(machine.synthesizer->openConnections(), 0);
    EXPECT_TRUE(one.ownBroadcasts.empty());
}

TEST(OutputPortShare, ReopenClosesFirstSoAOneUserDeviceOpensAgain) {
    Machine machine;
    auto desk = machine.add("Desk", /*exclusive=*/true);
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    one.port->selectPortByName("Desk");
    one.state().shareCount = 3;
    one.setup.portOpenedHere = 7;
    one.port->handlePortMessage(UM_REOPEN_PORT, 0, 0);

    EXPECT_EQ(desk->openConnections(), 1);
    EXPECT_EQ(one.state().handle, one.port->instanceId());
    EXPECT_EQ(one.state().shareCount, 3);  // untouched
    EXPECT_EQ(one.setup.portOpenedHere, 7);
    one.port->sendShort(0x90, 1, 1);
    EXPECT_EQ(desk->received().size(), 1u);
}

TEST(OutputPortShare, AnInstanceWhoseOpenFailedTriesAgainAtReopen) {
    Machine machine;
    auto desk = machine.add("Desk", /*exclusive=*/true);
    FakeConnection holder(desk);  // someone else has it
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    one.port->selectPortByName("Desk");
    ASSERT_EQ(one.state().handle, 0);

    one.port->reopenPort();
    EXPECT_EQ(one.state().handle, 0);
}

TEST(OutputPortShare, PortIdsThatNameNothingFailToOpen) {
    Machine machine;
    machine.add("Only");
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->releasePort();
    for (int id : {-2, 1, 49, 1000}) {
        one.state().portId = id;
        one.port->openPort();
        EXPECT_EQ(one.state().handle, 0) << id;
        EXPECT_EQ(one.ownBroadcasts.back(), (PortMessage{UM_PORT_BUSY, 0, id}));
    }
}

TEST(OutputPortShare, ShareCountMessagesApplyOnlyToTheSamePortAndKeepSixteenBits) {
    Machine machine;
    Instance one(machine);
    one.port->enumeratePorts();
    one.port->handlePortMessage(UM_SHARE_COUNT, 5, 3);
    EXPECT_EQ(one.state().shareCount, 1);
    one.port->handlePortMessage(UM_SHARE_COUNT, 0x10004, -1);
    EXPECT_EQ(one.state().shareCount, 4);
}

// ---- Lending between instances ----

class OutputPortLending : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glimmerstave-lend-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::unique_ptr<Instance> start(std::intptr_t id) {
        auto instance = std::make_unique<Instance>(machine);
        EXPECT_TRUE(instance->port->enableLending(directory, id));
        bus.join(*instance->port);
        instance->port->enumeratePorts();
        bus.pump();
        return instance;
    }
    void choose(Instance& instance, const std::string& name) {
        instance.port->releasePort();
        instance.port->selectPortByName(name);
        bus.pump();
    }

    std::string directory;
    Machine machine;
    std::shared_ptr<FakeDevice> desk = machine.add("Desk", /*exclusive=*/true);
    FakeBus bus;
};

TEST_F(OutputPortLending, ABorrowerSoundsThroughTheLender) {
    auto a = start(101);
    auto b = start(102);
    choose(*a, "Desk");
    bus.log.clear();
    choose(*b, "Desk");

    EXPECT_EQ(messageIds(bus.log),
              (std::vector<int>{UM_PORT_BUSY, UM_SHARE_COUNT, UM_PORT_HANDLE, UM_SHARE_COUNT}));
    EXPECT_EQ(b->state().handle, 101);
    EXPECT_EQ(b->setup.portOpenedHere, 0);
    EXPECT_EQ(a->state().shareCount, 2);
    EXPECT_EQ(b->state().shareCount, 2);
    EXPECT_EQ(desk->openConnections(), 1);

    for (int note = 0; note < 40; ++note) {
        b->port->sendShort(0x90, note, 100);
    }
    a->port->sendShort(0x80, 5, 0);
    ASSERT_TRUE(desk->waitForMessages(41));
    std::vector<Bytes> fromB;
    for (const Bytes& bytes : desk->received()) {
        if (bytes[0] == 0x90) {
            fromB.push_back(bytes);
        }
    }
    ASSERT_EQ(fromB.size(), 40u);
    for (int note = 0; note < 40; ++note) {
        EXPECT_EQ(fromB[static_cast<std::size_t>(note)][1], note);
    }
}

// Two copies sharing a port, both sending MIDI clock, would double it: only the lender's goes
// out, while the borrower's notes still do.
TEST_F(OutputPortLending, OnlyTheCopyThatOpenedThePortSendsClock) {
    auto a = start(111);
    auto b = start(112);
    choose(*a, "Desk");
    choose(*b, "Desk");
    ASSERT_EQ(b->state().handle, 111);
    for (const int status : {0xFA, 0xF8, 0xFC}) {
        b->port->sendShortDue(status, 0, 0, 0);
        a->port->sendShortDue(status, 0, 0, 0);
    }
    b->port->sendShort(0x90, 60, 100);
    ASSERT_TRUE(desk->waitForMessages(4));
    std::vector<int> statuses;
    for (const Bytes& bytes : desk->received()) {
        statuses.push_back(bytes[0]);
    }
    EXPECT_EQ(statuses, (std::vector<int>{0xFA, 0xF8, 0xFC, 0x90}));
}

TEST_F(OutputPortLending, ThreeInstancesShareOneCount) {
    auto a = start(201);
    auto b = start(202);
    auto c = start(203);
    choose(*a, "Desk");
    choose(*b, "Desk");
    choose(*c, "Desk");

    EXPECT_EQ(c->state().handle, 201);
    for (auto* instance : {a.get(), b.get(), c.get()}) {
        EXPECT_EQ(instance->state().shareCount, 3);
    }
    c->port->sendShort(0x91, 1, 2);
    ASSERT_TRUE(desk->waitForMessages(1));
    EXPECT_EQ(desk->received()[0], (Bytes{0x91, 1, 2}));
}

TEST_F(OutputPortLending, AnInstanceWithItsOwnHandleKeepsIt) {
    auto a = start(301);
    auto b = start(302);
    const std::intptr_t own = b->state().handle;
    ASSERT_EQ(own, 302);
    b->port->handlePortMessage(UM_PORT_HANDLE, 301, b->state().portId);
    EXPECT_EQ(b->state().handle, own);
    EXPECT_EQ(b->state().shareCount, 1);
}

TEST_F(OutputPortLending, TheBorrowerLeavingFirstLeavesTheLenderItsPort) {
    auto a = start(401);
    auto b = start(402);
    choose(*a, "Desk");
    choose(*b, "Desk");
    b->port->releasePort();
    bus.pump();

    EXPECT_EQ(a->state().shareCount, 1);
    EXPECT_EQ(b->state().handle, 0);
    EXPECT_EQ(desk->openConnections(), 1);
    a->port->releasePort();
    // The relay's thread may let go of the connection a moment after the release.
    EXPECT_TRUE(desk->waitForOpenConnections(0));
}

TEST_F(OutputPortLending, TheLenderLeavingFirstKeepsThePortOpenForTheBorrower) {
    auto a = start(501);
    auto b = start(502);
    choose(*a, "Desk");
    choose(*b, "Desk");
    a->port->releasePort();
    bus.pump();

    EXPECT_EQ(a->state().handle, 0);
    EXPECT_EQ(b->state().shareCount, 1);
    EXPECT_EQ(desk->openConnections(), 1);
    b->port->sendShort(0x90, 64, 1);
    ASSERT_TRUE(desk->waitForMessages(1));

    // The last user lets go: the lender's relay closes the device.
    b->port->releasePort();
    EXPECT_TRUE(desk->waitForOpenConnections(0));
}

TEST_F(OutputPortLending, WhenTheLenderGoesAwayTheBorrowerFallsSilentThenReopensItsOwn) {
    auto a = start(601);
    auto b = start(602);
    choose(*a, "Desk");
    choose(*b, "Desk");
    bus.leave(*a->port);
    a.reset();
    ASSERT_EQ(desk->openConnections(), 0);

    b->port->sendShort(0x90, 1, 1);  // nobody to relay to: silent, no crash
    EXPECT_TRUE(desk->received().empty());

    b->port->handlePortMessage(UM_REOPEN_PORT, 0, 0);
    EXPECT_EQ(b->state().handle, 602);
    b->port->sendShort(0x90, 2, 2);
    EXPECT_EQ(desk->received(), std::vector<Bytes>{(Bytes{0x90, 2, 2})});
}

TEST_F(OutputPortLending, ABorrowerWhoseOwnOpenStillFailsKeepsALiveLender) {
    auto a = start(701);
    auto b = start(702);
    choose(*a, "Desk");
    choose(*b, "Desk");
    b->port->handlePortMessage(UM_REOPEN_PORT, 0, 0);

    EXPECT_EQ(b->state().handle, 701);
    b->port->sendShort(0x90, 3, 3);
    EXPECT_TRUE(desk->waitForMessages(1));
}

TEST_F(OutputPortLending, ALenderThatReopensTakesItsBorrowersAlong) {
    auto a = start(801);
    auto b = start(802);
    choose(*a, "Desk");
    choose(*b, "Desk");
    a->port->handlePortMessage(UM_REOPEN_PORT, 0, 0);

    EXPECT_EQ(desk->openConnections(), 1);
    b->port->sendShort(0x90, 4, 4);
    ASSERT_TRUE(desk->waitForMessages(1));
    EXPECT_EQ(desk->received()[0], (Bytes{0x90, 4, 4}));
}

TEST_F(OutputPortLending, ALenderThatLeftAndCameBackWhileLentPlaysOnItsPortAgain) {
    auto a = start(1101);
    auto b = start(1102);
    choose(*a, "Desk");
    choose(*b, "Desk");
    choose(*a, "MIDI Mapper");  // the borrower keeps the desk's connection open
    choose(*a, "Desk");         // its own open fails; the borrower hands it its own id

    EXPECT_EQ(a->state().handle, 1101);
    EXPECT_EQ(a->setup.portOpenedHere, 1);
    EXPECT_EQ(a->state().shareCount, 2);
    EXPECT_EQ(b->state().shareCount, 2);
    EXPECT_EQ(desk->openConnections(), 1);
    a->port->sendShort(0x90, 7, 7);
    ASSERT_TRUE(desk->waitForMessages(1));
    EXPECT_EQ(desk->received()[0], (Bytes{0x90, 7, 7}));

    b->port->releasePort();
    bus.pump();
    EXPECT_EQ(a->state().shareCount, 1);
    a->port->releasePort();
    EXPECT_TRUE(desk->waitForOpenConnections(0));
}

// The engine may play to the own connection's frame schedule: the port names each new one, and
// takes it back before the connection that owns it can close or be left to a borrower.
TEST_F(OutputPortLending, TheFrameScheduleIsTheOwnConnectionsAndIsTakenBackBeforeItCloses) {
    desk->framed = true;
    StepTimeline* playedByA = nullptr;
    StepTimeline* playedByB = nullptr;
    int closedWhilePlayed = 0;
    desk->onClose = [&](StepTimeline* closing) {
        closedWhilePlayed += closing == playedByA || closing == playedByB ? 1 : 0;
    };
    auto a = start(1301);
    auto b = start(1302);
    a->port->setTimelineListener([&](StepTimeline* timeline) { playedByA = timeline; });
    b->port->setTimelineListener([&](StepTimeline* timeline) { playedByB = timeline; });
    EXPECT_EQ(playedByA, nullptr) << "the synthesizer keeps no frames";

    choose(*a, "Desk");
    ASSERT_NE(playedByA, nullptr);
    StepTimeline* const desksFrames = playedByA;
    choose(*b, "Desk");
    EXPECT_EQ(playedByB, nullptr) << "a borrower plays on its own schedule";

    choose(*a, "MIDI Mapper");  // the borrower keeps the desk's connection open
    EXPECT_EQ(playedByA, nullptr);
    choose(*a, "Desk");  // and hands it back
    EXPECT_EQ(playedByA, desksFrames);

    a->port->handlePortMessage(UM_REOPEN_PORT, 0, 0);
    EXPECT_EQ(playedByA, desksFrames) << "an unchanged port keeps its connection";
    b->port->releasePort();
    bus.pump();
    a->port->releasePort();
    EXPECT_TRUE(desk->waitForOpenConnections(0));
    EXPECT_EQ(playedByA, nullptr);
    EXPECT_EQ(closedWhilePlayed, 0);
}

TEST_F(OutputPortLending, AReleaseAfterASetupNamedAnotherPortCountsDownTheHeldOne) {
    machine.add("Other");
    auto a = start(1201);
    auto b = start(1202);
    choose(*a, "Desk");
    choose(*b, "Desk");
    ASSERT_EQ(a->state().shareCount, 2);
    // As reading a setup does: the file's port replaces the id before the release.
    b->state().portId = 1;
    b->port->releasePort();
    bus.pump();
    EXPECT_EQ(a->state().shareCount, 1);
}

TEST_F(OutputPortLending, AHandleFromAnInstanceThatIsGoneIsNotTaken) {
    auto b = start(902);
    choose(*b, "Absent");
    bus.log.clear();
    b->port->handlePortMessage(UM_PORT_HANDLE, 999, b->state().portId);

    EXPECT_EQ(b->state().handle, 0);
    EXPECT_EQ(b->state().shareCount, 0);
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(OutputPortLending, AHandleForAnotherPortIsIgnored) {
    auto a = start(1001);
    auto b = start(1002);
    choose(*a, "Desk");
    choose(*b, "Absent");
    bus.log.clear();
    b->port->handlePortMessage(UM_PORT_HANDLE, 1001, a->state().portId);

    EXPECT_EQ(b->state().handle, 0);
    EXPECT_TRUE(bus.log.empty());
}

}  // namespace

namespace {

// The clock thread sends while the window thread keeps replacing the connection: no message
// may reach a connection that is being closed.
TEST(OutputPortConcurrency, SendsAndHandleChangesNeverOverlap) {
    Machine machine;
    auto a = machine.add("A");
    auto b = machine.add("B", /*exclusive=*/true);
    Instance one(machine);
    one.port->enumeratePorts();
    std::atomic<bool> stop{false};
    std::thread clock([&] {
        while (!stop.load()) {
            one.port->sendShort(0x90, 60, 100);
        }
    });
    for (int round = 0; round < 300; ++round) {
        FakeDevice& device = round % 2 == 0 ? *a : *b;
        one.port->releasePort();
        one.port->selectPortByName(device.name);
        // Let the sender reach the new connection before it is replaced again.
        ASSERT_TRUE(device.waitForMessages(device.received().size() + 1));
        one.port->reopenPort();
    }
    stop.store(true);
    clock.join();
    for (const auto& device : {a, b, machine.synthesizer}) {
        EXPECT_EQ(device->sendsWhileClosed(), 0);
    }
    EXPECT_FALSE(a->received().empty());
    EXPECT_FALSE(b->received().empty());
}

}  // namespace
