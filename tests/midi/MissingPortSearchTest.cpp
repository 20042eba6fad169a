// Looking again for a port the setup names but that was not there when it was read.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "OutputPortDoubles.h"
#include "core/Setup.h"
#include "midi/MissingPortSearch.h"

namespace {

struct Machine {
    Machine() {
        auto owned = std::make_unique<FakeDriver>();
        driver = owned.get();
        driver->add("other:in");
        OutputPort::Drivers drivers;
        drivers.devices.push_back(std::move(owned));
        port = std::make_unique<OutputPort>(setup, std::move(drivers));
        port->setShowNote([this](const std::string& text) { notes.push_back(text); });
        port->refreshPortTable();
    }

    Setup setup;
    FakeDriver* driver = nullptr;
    std::unique_ptr<OutputPort> port;
    std::vector<std::string> notes;
};

TEST(MissingPortSearch, APortThatAppearsLaterIsOpenedOnceAndPlayedTo) {
    Machine machine;
    machine.port->selectPortByName("late:in");
    ASSERT_EQ(machine.setup.port.portId, PortState::kMissingPortId);
    MissingPortSearch search(machine.setup, *machine.port);
    EXPECT_FALSE(search.lookAgain());
    // Looking is quiet: the user was told once, when the setup was read.
    EXPECT_EQ(machine.notes.size(), 1u);

    const std::shared_ptr<FakeDevice> late = machine.driver->add("late:in");
    EXPECT_TRUE(search.lookAgain());
    EXPECT_EQ(machine.setup.port.portId, 1);
    EXPECT_EQ(machine.setup.port.portName, "late:in");
    EXPECT_EQ(late->openConnections(), 1);
    machine.port->sendShort(0x90, 60, 100);
    EXPECT_EQ(late->received().size(), 1u);

    // Found: nothing more to do, nothing opened twice.
    EXPECT_FALSE(search.lookAgain());
    EXPECT_EQ(late->openConnections(), 1);
    EXPECT_EQ(machine.notes.size(), 1u);
}

TEST(MissingPortSearch, APortThatIsThereIsLeftAloneEvenWhenItsOpenFailed) {
    Machine machine;
    machine.driver->devices[0] = std::make_shared<FakeDevice>("other:in", true);
    const std::shared_ptr<FakeDevice> other = machine.driver->devices[0];
    FakeConnection holder(other);  // someone else holds the exclusive device
    machine.port->selectPortByName("other:in");
    ASSERT_EQ(machine.setup.port.portId, 0);
    MissingPortSearch search(machine.setup, *machine.port);
    const int opens = machine.driver->opens;
    EXPECT_FALSE(search.lookAgain());
    EXPECT_EQ(machine.driver->opens, opens);
}

}  // namespace
