// The input's byte-stream parser: what a source may send, in any chunking.

#include "midi/MidiInputParser.h"

#include <gtest/gtest.h>

#include "MidiInputTestSupport.h"

namespace {

using inputtest::Bytes;
using inputtest::RecordingSink;

class Parser : public ::testing::Test {
protected:
    // The whole stream at once, then byte by byte into a fresh parser: both must agree.
    std::vector<Bytes> parse(const Bytes& stream) {
        MidiInputParser whole(&sink_);
        whole.feed(stream.data(), static_cast<int>(stream.size()), 0);
        RecordingSink single;
        MidiInputParser bytewise(&single);
        for (std::uint8_t byte : stream) {
            bytewise.feed(&byte, 1, 0);
        }
        EXPECT_EQ(sink_.all(), single.all());
        return sink_.all();
    }

    RecordingSink sink_;
};

TEST_F(Parser, ExpandsRunningStatusForThreeAndTwoByteMessages) {
    EXPECT_EQ(parse({0x90, 0x3C, 0x64, 0x3E, 0x00, 0xC5, 0x01, 0x02, 0xE0, 0x00, 0x40}),
              (std::vector<Bytes>{{0x90, 0x3C, 0x64},
                                  {0x90, 0x3E, 0x00},
                                  {0xC5, 0x01},
                                  {0xC5, 0x02},
                                  {0xE0, 0x00, 0x40}}));
}

// Real-time bytes go out at once, inside a channel message, a Song Position Pointer or
// System Exclusive alike, and the message around them completes as if they were not there.
TEST_F(Parser, DeliversRealTimeBytesAtOnceWithoutBreakingTheMessageAroundThem) {
    EXPECT_EQ(parse({0x90, 0xF8, 0x3C, 0xFE, 0x64, 0xF2, 0xFA, 0x10, 0xFB, 0x20, 0xF0, 0x01, 0xFC,
                     0x02, 0xF7, 0xFF}),
              (std::vector<Bytes>{{0xF8},
                                  {0xFE},
                                  {0x90, 0x3C, 0x64},
                                  {0xFA},
                                  {0xFB},
                                  {0xF2, 0x10, 0x20},
                                  {0xFC},
                                  {0xFF}}));
}

// A long System Exclusive is skipped whatever its length; it ends running status, and a
// source that never sends F7 loses nothing after its next status byte.
TEST_F(Parser, SkipsSystemExclusiveOfAnyLength) {
    Bytes stream{0x90, 0x3C, 0x64, 0xF0};
    stream.insert(stream.end(), 5000, 0x55);
    stream.insert(stream.end(), {0xF7, 0x3E, 0x64, 0xF0, 0x01, 0x02, 0xB0, 0x07, 0x7F});
    EXPECT_EQ(parse(stream), (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0xB0, 0x07, 0x7F}}));
}

// Data bytes with no status before them, the undefined status bytes (which end running
// status like any system common byte) and what follows those go nowhere.
TEST_F(Parser, IgnoresStrayDataAndUndefinedStatusBytes) {
    EXPECT_EQ(parse({0x12, 0x34, 0xF4, 0x12, 0xF5, 0xF9, 0xFD, 0x90, 0x3C, 0x64, 0xF9, 0x3D,
                     0x64, 0xF5, 0x3E, 0x64, 0xF6, 0x01, 0xF3, 0x05, 0x06, 0xF1, 0x21}),
              (std::vector<Bytes>{
                  {0x90, 0x3C, 0x64}, {0x90, 0x3D, 0x64}, {0xF6}, {0xF3, 0x05}, {0xF1, 0x21}}));
}

// A message split over feeds takes the time of the feed that completes it; running status
// outlives the feed, and reset() forgets it with the message in progress.
TEST_F(Parser, KeepsStateAcrossFeedsAndTimesEachMessageByItsLastByte) {
    MidiInputParser parser(&sink_);
    const Bytes first{0xF2, 0x7F};
    const Bytes second{0x01, 0x90, 0x3C};
    const Bytes third{0x64, 0x3E, 0x64};
    parser.feed(first.data(), 2, 100);
    parser.feed(second.data(), 3, 200);
    parser.feed(third.data(), 3, 300);
    parser.feed(second.data(), 3, 400);
    parser.reset();
    parser.feed(third.data(), 3, 500);
    ASSERT_EQ(sink_.all(),
              (std::vector<Bytes>{{0xF2, 0x7F, 0x01}, {0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}}));
    EXPECT_EQ(sink_.at(0).timeUs, 200);
    EXPECT_EQ(sink_.at(1).timeUs, 300);
    EXPECT_EQ(sink_.at(2).timeUs, 300);
}

}  // namespace
