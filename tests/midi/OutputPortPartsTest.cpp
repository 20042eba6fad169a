// The small pieces under the output port: message lengths, the lock-free ring, the ALSA
// event encoding and the MIDI log.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "midi/AlsaSeqDriver.h"
#include "midi/MidiBytes.h"
#include "midi/MidiLog.h"
#include "midi/SpscRing.h"

namespace {

// ---- Message lengths ----

struct LengthCase {
    int status;
    int length;
};

class MidiBytesLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(MidiBytesLength, FollowsFromTheStatusByte) {
    EXPECT_EQ(MidiBytes::lengthForStatus(static_cast<std::uint8_t>(GetParam().status)),
              GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, MidiBytesLength,
    ::testing::Values(LengthCase{0x00, 0}, LengthCase{0x7F, 0}, LengthCase{0x80, 3},
                      LengthCase{0x9F, 3}, LengthCase{0xAF, 3}, LengthCase{0xB0, 3},
                      LengthCase{0xC0, 2}, LengthCase{0xCF, 2}, LengthCase{0xD3, 2},
                      LengthCase{0xE0, 3}, LengthCase{0xEF, 3}, LengthCase{0xF0, 0},
                      LengthCase{0xF1, 2}, LengthCase{0xF2, 3}, LengthCase{0xF3, 2},
                      LengthCase{0xF4, 0}, LengthCase{0xF6, 1}, LengthCase{0xF7, 0},
                      LengthCase{0xF8, 1}, LengthCase{0xFF, 1}));

// ---- The ring ----

TEST(SpscRing, KeepsOrderAndRefusesWhenFull) {
    SpscRing<int, 8> ring;
    EXPECT_EQ(ring.front(), nullptr);
    EXPECT_FALSE(ring.pop());
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(ring.push(i));
    }
    EXPECT_FALSE(ring.push(99));
    for (int i = 0; i < 7; ++i) {
        ASSERT_NE(ring.front(), nullptr);
        EXPECT_EQ(*ring.front(), i);
        EXPECT_TRUE(ring.pop());
    }
    EXPECT_EQ(ring.front(), nullptr);
}

TEST(SpscRing, WrapsAroundManyTimes) {
    SpscRing<int, 4> ring;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(ring.push(i));
        ASSERT_TRUE(ring.push(i + 1));
        EXPECT_EQ(*ring.front(), i);
        ring.pop();
        EXPECT_EQ(*ring.front(), i + 1);
        ring.pop();
    }
}

TEST(SpscRing, HandsEveryItemAcrossThreadsInOrder) {
    SpscRing<int, 64> ring;
    constexpr int kCount = 200000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            while (!ring.push(i)) {
                std::this_thread::yield();
            }
        }
    });
    int expected = 0;
    while (expected < kCount) {
        if (const int* item = ring.front()) {
            ASSERT_EQ(*item, expected);
            ring.pop();
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
}

// ---- ALSA sequencer ----

snd_seq_event_t encoded(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                        bool* ok = nullptr) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    const std::uint8_t bytes[3] = {status, data1, data2};
    const bool result = AlsaSeqDriver::encode(bytes, event);
    if (ok != nullptr) {
        *ok = result;
    }
    return event;
}

TEST(AlsaSeqEncode, ChannelMessagesBecomeTheirSequencerEvents) {
    snd_seq_event_t on = encoded(0x93, 60, 100);
    EXPECT_EQ(on.type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(on.data.note.channel, 3);
    EXPECT_EQ(on.data.note.note, 60);
    EXPECT_EQ(on.data.note.velocity, 100);

    snd_seq_event_t silentOn = encoded(0x90, 61, 0);  // stays a note-on with velocity 0
    EXPECT_EQ(silentOn.type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(silentOn.data.note.velocity, 0);

    snd_seq_event_t pan = encoded(0xBF, 10, 64);
    EXPECT_EQ(pan.type, SND_SEQ_EVENT_CONTROLLER);
    EXPECT_EQ(pan.data.control.channel, 15);
    EXPECT_EQ(pan.data.control.param, 10u);
    EXPECT_EQ(pan.data.control.value, 64);

    snd_seq_event_t program = encoded(0xC0, 0x7F, 0x55);
    EXPECT_EQ(program.type, SND_SEQ_EVENT_PGMCHANGE);
    EXPECT_EQ(program.data.control.value, 127);

    snd_seq_event_t bend = encoded(0xE1, 0x00, 0x40);
    EXPECT_EQ(bend.type, SND_SEQ_EVENT_PITCHBEND);
    EXPECT_EQ(bend.data.control.value, 0);
    EXPECT_EQ(encoded(0xE1, 0x7F, 0x7F).data.control.value, 8191);
    EXPECT_EQ(encoded(0xE1, 0x00, 0x00).data.control.value, -8192);
}

TEST(AlsaSeqEncode, DataBytesAboveSevenBitsAreMaskedAndSystemExclusiveRefused) {
    EXPECT_EQ(encoded(0x90, 0xBC, 0xFF).data.note.note, 0x3C);
    EXPECT_EQ(encoded(0x90, 0xBC, 0xFF).data.note.velocity, 0x7F);
    bool ok = true;
    encoded(0xF0, 1, 2, &ok);
    EXPECT_FALSE(ok);
    encoded(0x45, 1, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(encoded(0xF8, 0, 0, &ok).type, SND_SEQ_EVENT_CLOCK);
    EXPECT_TRUE(ok);
}

TEST(AlsaSeqDriver, WithoutASequencerThereAreNoDevicesAndOpeningFails) {
    if (::access("/dev/snd/seq", F_OK) == 0) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    AlsaSeqDriver driver;
    EXPECT_TRUE(driver.listDevices().empty());
    EXPECT_EQ(driver.open("Midi Through:Midi Through Port-0 (ALSA)", 0), nullptr);
}

// ---- The MIDI log ----

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class MidiLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glimmerstave-log-XXXXXX";
        const int fd = ::mkstemp(pattern);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path = pattern;
    }
    void TearDown() override { ::unlink(path.c_str()); }
    std::string path;
};

TEST_F(MidiLogTest, WritesTimeNameAndHexBytesInOrderAndAppends) {
    {
        std::ofstream(path) << "earlier line\n";
    }
    auto log = MidiLog::open(path, nullptr);
    ASSERT_NE(log, nullptr);
    const std::uint8_t first[3] = {0x90, 0x3C, 0x2C};
    const std::uint8_t second[3] = {0xB0, 0x7B, 0x00};
    log->record("recorder:in (JACK)", first);
    log->record("MIDI Mapper", second);
    log->flush();

    const auto lines = readLines(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier line");
    long long t1 = -1;
    long long t2 = -1;
    ASSERT_EQ(std::sscanf(lines[1].c_str(), "%lld\t", &t1), 1);
    ASSERT_EQ(std::sscanf(lines[2].c_str(), "%lld\t", &t2), 1);
    EXPECT_GE(t1, 0);
    EXPECT_GE(t2, t1);
    EXPECT_EQ(lines[1].substr(lines[1].find('\t')), "\trecorder:in (JACK)\t90 3C 2C");
    EXPECT_EQ(lines[2].substr(lines[2].find('\t')), "\tMIDI Mapper\tB0 7B 00");
}

TEST_F(MidiLogTest, ALongPortNameIsCutNotOverrun) {
    auto log = MidiLog::open(path, nullptr);
    const std::string longName(300, 'x');
    const std::uint8_t bytes[3] = {0x80, 1, 2};
    log->record(longName.c_str(), bytes);
    log->flush();
    const auto lines = readLines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find('\t' + std::string(MidiLog::kPortNameBytes - 1, 'x') + '\t'),
              std::string::npos);
}

TEST_F(MidiLogTest, MessagesBeyondTheRingAreCountedAsMissing) {
    auto log = MidiLog::open(path, nullptr);
    const std::uint8_t bytes[3] = {0x90, 1, 2};
    // Far more than the ring holds in one burst; the writer may drain some meanwhile.
    for (int i = 0; i < 100000; ++i) {
        log->record("p", bytes);
    }
    log.reset();
    std::size_t written = 0;
    unsigned long long missing = 0;
    for (const std::string& line : readLines(path)) {
        unsigned long long count = 0;
        if (std::sscanf(line.c_str(), "# %llu messages not logged", &count) == 1) {
            missing += count;
        } else {
            ++written;
        }
    }
    EXPECT_EQ(written + missing, 100000u);
    EXPECT_GT(missing, 0u);
}

TEST(MidiLog, AFileThatCannotBeOpenedIsReported) {
    std::string error;
    EXPECT_EQ(MidiLog::open("/nonexistent-dir/x.log", &error), nullptr);
    EXPECT_NE(error.find("/nonexistent-dir/x.log"), std::string::npos);
}

}  // namespace
