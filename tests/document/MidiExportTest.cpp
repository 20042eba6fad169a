#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "core/Random.h"
#include "core/Setup.h"
#include "document/MidiExport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Event {
    std::uint32_t tick;
    Bytes bytes;
    bool operator==(const Event&) const = default;
};

void PrintTo(const Event& event, std::ostream* out) {
    *out << "{" << event.tick << ":";
    for (const std::uint8_t byte : event.bytes) {
        *out << " " << std::hex << static_cast<int>(byte) << std::dec;
    }
    *out << "}";
}

// Reads back a format-0 file as written by the exporter (no running status), independently
// of the exporter's own code.
std::vector<Event> readTrack(const Bytes& file) {
    auto be = [&file](std::size_t at, int size) {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value = (value << 8) | file.at(at + static_cast<std::size_t>(i));
        }
        return value;
    };
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 14),
              (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}));
    EXPECT_EQ(Bytes(file.begin() + 14, file.begin() + 18), (Bytes{'M', 'T', 'r', 'k'}));
    const std::size_t end = 22 + be(18, 4);
    EXPECT_EQ(end, file.size());
    std::vector<Event> events;
    std::size_t at = 22;
    std::uint32_t tick = 0;
    while (at < end) {
        std::uint32_t delta = 0;
        std::uint8_t byte = 0;
        do {
            byte = file.at(at++);
            delta = (delta << 7) | (byte & 0x7F);
        } while (byte & 0x80);
        tick += delta;
        const std::uint8_t status = file.at(at);
        std::size_t length = 0;
        if (status == 0xFF) {
            length = 3 + file.at(at + 2);
        } else if ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) {
            length = 2;
        } else {
            length = 3;
        }
        events.push_back({tick, Bytes(file.begin() + static_cast<std::ptrdiff_t>(at),
                                      file.begin() + static_cast<std::ptrdiff_t>(at + length))});
        at += length;
    }
    return events;
}

// Every step silent; the test switches on what it needs.
Setup quietSetup() {
    Random::seed(5);
    ::Setup setup;
    for (Measure& measure : setup.measures) {
        for (Step& step : measure.steps) {
            step = Step();
            step.on = 0;
        }
    }
    setup.volume = 100;
    setup.bpm = 126.0;
    return setup;
}

TEST(MidiExport, RecordsEachStepAtItsTickAndStopAfterTheLast) {
    ::Setup setup = quietSetup();
    setup.port.channel = 2;
    setup.stepsPerMeasure = 2;
    Step& first = setup.measures[0].steps[0];
    first.on = 1;
    first.program = 5;
    first.duration = 0;
    const std::vector<Event> events = readTrack(MidiExport::render(setup, 3));
    // 126 BPM: 476190 microseconds per quarter (0x07441E).
    const std::vector<Event> expected = {
        {0, {0xFF, 0x51, 0x03, 0x07, 0x44, 0x1E}},
        // Step 0: note-on 0, program, pan, the note (velocity 100 scaled by 0.01f x 100 = 99),
        // and at once its release for duration 0.
        {0, {0x91, 60, 0}},
        {0, {0xC1, 5}},
        {0, {0xB1, 10, 64}},
        {0, {0x91, 60, 99}},
        {0, {0x91, 60, 0}},
        // Step 1 is silent but counts the note down to its note-off.
        {24, {0x91, 60, 0}},
        // Step 2 wraps to step 0 of the two-step measure.
        {48, {0x91, 60, 0}},
        {48, {0xC1, 5}},
        {48, {0xB1, 10, 64}},
        {48, {0x91, 60, 99}},
        {48, {0x91, 60, 0}},
        // stop(): all notes off on the setup's channel, after the last step.
        {72, {0xB1, 123, 0}},
        {72, {0xFF, 0x2F, 0x00}}};
    EXPECT_EQ(events, expected);
}

TEST(MidiExport, StartsOnTheSelectedMeasureAndFollowsTheChain) {
    ::Setup setup = quietSetup();
    setup.stepsPerMeasure = 1;
    setup.selectedMeasure = 3;
    for (int m = 0; m < Setup::kMeasureCount; ++m) {
        Step& step = setup.measures[static_cast<std::size_t>(m)].steps[0];
        step.on = 1;
        step.notes = IntArray{m};
        step.program = -1;
        step.duration = 17;
    }
    setup.measures[3].next = 6;
    setup.measures[3].repeats = 2;
    setup.measures[6].next = 1;
    std::vector<int> struck;
    for (const Event& event : readTrack(MidiExport::render(setup, 5))) {
        if (event.bytes.size() == 3 && event.bytes[0] == 0x90 && event.bytes[2] != 0) {
            struck.push_back(event.bytes[1] - 60);
        }
    }
    EXPECT_EQ(struck, (std::vector<int>{3, 3, 6, 1, 1}));
}

TEST(MidiExport, TheDefaultLengthIsOnePassThroughTheChainFromTheSelectedLoop) {
    ::Setup setup;
    for (int i = 0; i < Setup::kMeasureCount; ++i) {
        setup.measures[static_cast<std::size_t>(i)].next = static_cast<std::int16_t>(i);
        setup.measures[static_cast<std::size_t>(i)].repeats = 1;
    }
    EXPECT_EQ(MidiExport::chainPassMeasures(setup), 1);  // a loop on itself

    // 2 -> 5 (3 passes) -> 0 -> 5 again: the pass ends where the chain comes round.
    setup.selectedMeasure = 2;
    setup.measures[2].next = 5;
    setup.measures[5].repeats = 3;
    setup.measures[5].next = 0;
    setup.measures[0].next = 5;
    EXPECT_EQ(MidiExport::chainPassMeasures(setup), 5);

    // A file's zero or negative repeats still play once; a next out of range is taken as
    // the last loop, as playback takes it (here one looping on itself).
    setup.measures[5].repeats = -4;
    setup.measures[0].next = 999;
    EXPECT_EQ(MidiExport::chainPassMeasures(setup), 4);

    // Eight loops of many repeats are cut at the longest default.
    for (int i = 0; i < Setup::kMeasureCount; ++i) {
        setup.measures[static_cast<std::size_t>(i)].next = static_cast<std::int16_t>((i + 1) % 8);
        setup.measures[static_cast<std::size_t>(i)].repeats = 30;
    }
    EXPECT_EQ(MidiExport::chainPassMeasures(setup), MidiExport::kMaxChainMeasures);
}

TEST(MidiExport, LongGapsUseMultiByteDeltasAndTheLastTickIsTwentyFourPerStep) {
    ::Setup setup = quietSetup();
    setup.measures[0].steps[0].on = 1;
    setup.measures[0].steps[0].duration = 17;
    const Bytes file = MidiExport::render(setup, 100);
    const std::vector<Event> events = readTrack(file);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.back().tick, 2400u);
    EXPECT_EQ(events[events.size() - 2], (Event{2400, {0xB0, 123, 0}}));
}

TEST(MidiExport, OutOfRangeValuesBecomeValidDataBytes) {
    ::Setup setup = quietSetup();
    Step& step = setup.measures[0].steps[0];
    step.on = 1;
    step.velocity = 200;
    step.pan = -3;
    step.program = 300;
    for (const Event& event : readTrack(MidiExport::render(setup, 1))) {
        for (std::size_t i = 1; i < event.bytes.size() && event.bytes[0] != 0xFF; ++i) {
            EXPECT_LT(event.bytes[i], 0x80);
        }
    }
}

TEST(MidiExport, RefusesStepCountsOutsideItsRange) {
    ::Setup setup = quietSetup();
    EXPECT_THROW(MidiExport::render(setup, 0), std::invalid_argument);
    EXPECT_THROW(MidiExport::render(setup, -1), std::invalid_argument);
    EXPECT_THROW(MidiExport::render(setup, MidiExport::kMaxSteps + 1), std::invalid_argument);
}

struct TempoCase {
    double bpm;
    std::uint32_t microseconds;
};

class MidiExportTempo : public ::testing::TestWithParam<TempoCase> {};

TEST_P(MidiExportTempo, FitsTheTempoEvent) {
    EXPECT_EQ(MidiExport::microsecondsPerQuarter(GetParam().bpm), GetParam().microseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Tempi, MidiExportTempo,
    ::testing::Values(TempoCase{126.0, 476190}, TempoCase{120.0, 500000}, TempoCase{0.5, 0xFFFFFF},
                      TempoCase{4.0, 15000000}, TempoCase{1e9, 1}, TempoCase{0.0, 0xFFFFFF},
                      TempoCase{-60.0, 0xFFFFFF},
                      TempoCase{std::numeric_limits<double>::quiet_NaN(), 0xFFFFFF},
                      TempoCase{std::numeric_limits<double>::infinity(), 0xFFFFFF}));

}  // namespace

namespace {

TEST(MidiExport, ExtremeNoteOffsetsPlayAtTheEdgesOfTheRange) {
    ::Setup setup = quietSetup();
    Step& step = setup.measures[0].steps[0];
    step.on = 1;
    step.program = -1;
    step.notes = IntArray{std::numeric_limits<std::int32_t>::max(),
                          std::numeric_limits<std::int32_t>::min()};
    setup.transpose = 10;
    std::vector<int> struck;
    for (const Event& event : readTrack(MidiExport::render(setup, 2))) {
        if (event.bytes.size() == 3 && event.bytes[0] == 0x90 && event.bytes[2] != 0) {
            struck.push_back(event.bytes[1]);
        }
    }
    // The engine plays the low 16 bits of an offset: 0x7FFF..FFFF is -1, 0x8000..0000 is 0.
    EXPECT_EQ(struck, (std::vector<int>{59 + 10, 60 + 10}));
}

}  // namespace

namespace {

TEST(MidiExport, RefusesAPlaybackThatWouldSendTooManyMessages) {
    ::Setup setup = quietSetup();
    Step& step = setup.measures[0].steps[0];
    step.on = 1;
    step.program = 0;
    // Four messages per note (release, program, pan, strike): one step exceeds the limit.
    IntArray huge;
    huge.setSize(static_cast<std::ptrdiff_t>(MidiExport::kMaxMessages / 4 + 1));
    step.notes = huge;
    EXPECT_THROW(MidiExport::render(setup, 1), std::length_error);
}

}  // namespace

namespace {

// Notes still sounding when the export ends are each ended by a Note Off of their own, at the
// last tick and ahead of the All Notes Off, which many readers of a file do not apply.
TEST(MidiExport, EveryNoteStillSoundingAtTheEndGetsItsNoteOffBeforeAllNotesOff) {
    ::Setup setup = quietSetup();
    setup.port.channel = 3;  // 0x92: the channel counts from 1
    setup.stepsPerMeasure = 4;
    Step& chord = setup.measures[0].steps[1];
    chord.on = 1;
    chord.program = -1;
    chord.duration = 30;  // longer than the export
    chord.notes = IntArray{0, 4, 7};
    Step& early = setup.measures[0].steps[0];
    early.on = 1;
    early.program = -1;
    early.duration = 1;  // ends on its own before the end
    const std::vector<Event> events = readTrack(MidiExport::render(setup, 4));

    std::map<int, int> sounding;  // key: number of strikes not yet ended
    std::size_t allNotesOff = events.size();
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Bytes& bytes = events[i].bytes;
        if (bytes == Bytes{0xB2, 123, 0}) {
            allNotesOff = std::min(allNotesOff, i);
        } else if (bytes.size() == 3 && bytes[0] == 0x92 && bytes[2] != 0) {
            ++sounding[bytes[1]];
        } else if (bytes.size() == 3 && bytes[0] == 0x92 && sounding[bytes[1]] > 0) {
            EXPECT_LT(i, allNotesOff) << "a Note Off after All Notes Off";
            --sounding[bytes[1]];
        }
    }
    ASSERT_LT(allNotesOff, events.size());
    EXPECT_EQ(events[allNotesOff].tick, 96u);
    for (const auto& [key, count] : sounding) {
        EXPECT_EQ(count, 0) << "key " << key << " is never ended";
    }
    // The chord's three offs are at the end; the early note ended at its own step.
    const Event last{96, {0x92, 67, 0}};
    EXPECT_EQ(std::count(events.begin(), events.end(), last), 1);
    EXPECT_EQ(events[allNotesOff - 1].tick, 96u);
}

}  // namespace
