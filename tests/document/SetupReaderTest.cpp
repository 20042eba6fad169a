#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "SetupFileBuilder.h"
#include "core/Setup.h"
#include "document/SetupFileError.h"
#include "document/SetupReader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

SetupRecord read(const SetupFileSpec& spec) {
    return SetupReader::parse(SetupFileBuilder::build(spec), "hand-made.qov");
}

SetupFileError readFailure(const Bytes& bytes) {
    try {
        SetupReader::parse(bytes, "broken.qov");
    } catch (const SetupFileError& error) {
        return error;
    }
    ADD_FAILURE() << "the file was read";
    return SetupFileError(SetupFileError::Kind::CannotOpen, "");
}

SetupFileSpec withVersion(float version) {
    SetupFileSpec spec;
    spec.version = version;
    return spec;
}

// What each layout must yield from the builder's default values.
struct VersionCase {
    const char* name;
    float version;
    bool storesLinks;   // next/repeats
    bool storesVolume;  // volume/transpose stored
    bool volumeReset;   // exactly 2.0: 80 / 0
    bool storesPortName;
    std::int32_t expectedBaseColor;
    std::int32_t expectedSteps;  // from the rectangle 100..700 or stored 16
    std::int32_t expectedPolyphonic;
};

class SetupReaderVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(SetupReaderVersion, ReadsItsLayoutToTheEnd) {
    const VersionCase& c = GetParam();
    SetupFileSpec spec = withVersion(c.version);
    spec.next = {3, 1, 2, 3, 4, 5, 6, 0};
    spec.repeats = {2, 1, 1, 1, 1, 1, 1, 4};
    spec.monophonic = 1;
    spec.polyphonic = 0;
    spec.stepsPerMeasure = 16;
    spec.step = [](int m, int s) {
        StepBytes step;
        step.notes = {m * 16 + s - 40};
        step.program = static_cast<std::int16_t>(s);
        step.velocity = static_cast<std::int16_t>(m);
        step.pan = 99;
        return step;
    };
    const SetupRecord record = read(spec);

    if (std::isnan(c.version)) {
        EXPECT_TRUE(std::isnan(record.fileVersion));
    } else {
        EXPECT_EQ(record.fileVersion, c.version);
    }
    EXPECT_EQ(record.bpm, 126.0);
    EXPECT_EQ(record.portId, -1);
    EXPECT_EQ(record.baseColor, c.expectedBaseColor);
    EXPECT_EQ(record.measures[0].next, c.storesLinks ? 3 : 0);
    EXPECT_EQ(record.measures[0].repeats, c.storesLinks ? 2 : 1);
    EXPECT_EQ(record.measures[7].next, c.storesLinks ? 0 : 7);
    EXPECT_EQ(record.measures[7].repeats, c.storesLinks ? 4 : 1);
    for (int m = 0; m < 8; ++m) {
        for (int s = 0; s < 16; ++s) {
            const Step& step =
                record.measures[static_cast<std::size_t>(m)].steps[static_cast<std::size_t>(s)];
            ASSERT_EQ(step.notes, IntArray{m * 16 + s - 40}) << m << "/" << s;
            ASSERT_EQ(step.program, s);
            ASSERT_EQ(step.velocity, m);
            ASSERT_EQ(step.pan, 99);
            ASSERT_EQ(step.on, 1);
        }
    }
    EXPECT_EQ(record.windowLeft, 100);
    EXPECT_EQ(record.windowTop, 200);
    EXPECT_EQ(record.stepsPerMeasure, c.expectedSteps);
    EXPECT_EQ(record.polyphonic, c.expectedPolyphonic);
    if (c.storesVolume) {
        EXPECT_EQ(record.volume, std::optional<std::int16_t>(90));
        EXPECT_EQ(record.transpose, std::optional<std::int16_t>(-3));
    } else if (c.volumeReset) {
        EXPECT_EQ(record.volume, std::optional<std::int16_t>(80));
        EXPECT_EQ(record.transpose, std::optional<std::int16_t>(0));
    } else {
        EXPECT_FALSE(record.volume.has_value());
        EXPECT_FALSE(record.transpose.has_value());
    }
    if (c.storesPortName) {
        EXPECT_EQ(record.portName, std::optional<std::string>("MIDI Mapper"));
    } else {
        EXPECT_FALSE(record.portName.has_value());
    }
}

TEST_P(SetupReaderVersion, NeedsEveryByteOfItsLayout) {
    Bytes bytes = SetupFileBuilder::build(withVersion(GetParam().version));
    bytes.pop_back();
    EXPECT_EQ(readFailure(bytes).kind(), SetupFileError::Kind::EndOfFile);
}

TEST_P(SetupReaderVersion, IgnoresTrailingBytes) {
    const SetupFileSpec spec = withVersion(GetParam().version);
    Bytes bytes = SetupFileBuilder::build(spec);
    const SetupRecord exact = SetupReader::parse(bytes, "f");
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x01});
    EXPECT_EQ(SetupReader::parse(bytes, "f"), exact);
}

constexpr std::int32_t kFirstColor = 0x00336699;
constexpr std::int32_t kSecondColor = 0x00112233;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// The rectangle is 600 wide: (600 - 122) / 35 = 13 before 1.1, (600 - 110) / 30 = 16 after.
INSTANTIATE_TEST_SUITE_P(
    Layouts, SetupReaderVersion,
    ::testing::Values(VersionCase{"v0_9", 0.9f, false, false, false, false, kSecondColor, 13, 0},
                      VersionCase{"v1_0", 1.0f, false, false, false, false, kSecondColor, 13, 0},
                      VersionCase{"v1_003", 1.003f, true, false, false, false, kSecondColor, 13, 0},
                      VersionCase{"v1_05", 1.05f, true, false, false, false, kSecondColor, 13, 0},
                      VersionCase{"v1_1", 1.1f, true, false, false, false, kSecondColor, 16, 0},
                      VersionCase{"v1_4", 1.4f, true, false, false, false, kSecondColor, 16, 0},
                      // From 1.5 the monophonic flag (1 here) follows the rectangle.
                      VersionCase{"v1_5", 1.5f, true, false, false, false, kSecondColor, 16, 0},
                      VersionCase{"v1_9", 1.9f, true, false, false, false, kSecondColor, 16, 0},
                      VersionCase{"v2_0", 2.0f, true, false, true, false, kFirstColor, 16, 0},
                      VersionCase{"v2_1", 2.1f, true, true, false, false, kFirstColor, 16, 0},
                      VersionCase{"v2_4", 2.4f, true, true, false, false, kFirstColor, 16, 0},
                      VersionCase{"v2_5", 2.5f, true, true, false, false, kFirstColor, 16, 0},
                      VersionCase{"v2_8", 2.8f, true, true, false, false, kFirstColor, 16, 0},
                      VersionCase{"v2_9", 2.9f, true, true, false, true, kFirstColor, 16, 0},
                      VersionCase{"v3_7", 3.7f, true, true, false, true, kFirstColor, 16, 0},
                      // Not a number: the oldest layout.
                      VersionCase{"nan", kNaN, false, false, false, false, kSecondColor, 13, 0}),
    [](const ::testing::TestParamInfo<VersionCase>& layout) { return layout.param.name; });

TEST(SetupReader, TheMonophonicFlagInvertsIntoPolyphonic) {
    SetupFileSpec spec = withVersion(1.5f);
    spec.monophonic = 0;
    EXPECT_EQ(read(spec).polyphonic, 1);
    spec.monophonic = 7;
    EXPECT_EQ(read(spec).polyphonic, 0);
    spec.version = 1.4f;  // no flag stored: monophonic
    spec.monophonic = 0;
    EXPECT_EQ(read(spec).polyphonic, 0);
}

struct WidthCase {
    float version;
    std::int32_t left;
    std::int32_t right;
    std::int32_t steps;
};

class SetupReaderOldWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(SetupReaderOldWidth, GivesTheStepsPerMeasure) {
    const WidthCase& c = GetParam();
    SetupFileSpec spec = withVersion(c.version);
    spec.left = c.left;
    spec.right = c.right;
    EXPECT_EQ(read(spec).stepsPerMeasure, c.steps);
    EXPECT_EQ(read(spec).windowLeft, c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, SetupReaderOldWidth,
    ::testing::Values(WidthCase{1.0f, 0, 600, 13}, WidthCase{1.5f, 0, 600, 16},
                      WidthCase{1.0f, 50, 650, 13}, WidthCase{1.09f, 0, 296, 4},
                      WidthCase{1.1f, 0, 296, 6},
                      // (262 - 110) / 30 = 5.07: truncated
                      WidthCase{1.9f, -1000, -738, 5},
                      // Out of the model's range: clamped to 1..16.
                      WidthCase{1.9f, 0, 2000, 16}, WidthCase{1.9f, 0, 100, 1},
                      WidthCase{1.0f, 500, 100, 1},
                      // A width that overflows 32 bits is still computed correctly.
                      WidthCase{1.9f, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max(), 16},
                      WidthCase{1.9f, std::numeric_limits<std::int32_t>::max(),
                                std::numeric_limits<std::int32_t>::min(), 1}));

TEST(SetupReader, VersionTwoSetsVolumeAndTransposeButOlderFilesKeepThem) {
    ::Setup setup;
    setup.volume = 55;
    setup.transpose = 4;
    read(withVersion(1.9f)).applyTo(setup);
    EXPECT_EQ(setup.volume, 55);
    EXPECT_EQ(setup.transpose, 4);
    read(withVersion(2.0f)).applyTo(setup);
    EXPECT_EQ(setup.volume, 80);
    EXPECT_EQ(setup.transpose, 0);
    read(withVersion(2.1f)).applyTo(setup);
    EXPECT_EQ(setup.volume, 90);
    EXPECT_EQ(setup.transpose, -3);
}

struct DurationCase {
    float version;
    std::int32_t stored;
    std::int16_t expected;
};

class SetupReaderDuration : public ::testing::TestWithParam<DurationCase> {};

TEST_P(SetupReaderDuration, IsConvertedForItsVersion) {
    const DurationCase& c = GetParam();
    SetupFileSpec spec = withVersion(c.version);
    spec.step = [&c](int, int) {
        StepBytes step;
        step.duration = c.stored;
        return step;
    };
    const SetupRecord record = read(spec);
    EXPECT_EQ(record.measures[0].steps[0].duration, c.expected);
    EXPECT_EQ(record.measures[7].steps[15].duration, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Durations, SetupReaderDuration,
    ::testing::Values(
        // 2.0 .. 2.4: scaled by the constant just below 17/127 and truncated.
        DurationCase{2.4f, 127, 16}, DurationCase{2.4f, 120, 16}, DurationCase{2.4f, 119, 15},
        DurationCase{2.4f, 8, 1}, DurationCase{2.4f, 7, 0}, DurationCase{2.4f, 0, 0},
        DurationCase{2.0f, 127, 16}, DurationCase{2.4f, -127, -16}, DurationCase{2.4f, 32767, 4386},
        // From 2.5 as stored.
        DurationCase{2.5f, 127, 127}, DurationCase{2.9f, 30, 30}, DurationCase{2.5f, 7, 7},
        // Before 2.0 a flag: 1 is a short note, anything else the longest.
        DurationCase{1.0f, 1, 0}, DurationCase{1.0f, 0, 16}, DurationCase{1.9f, 2, 16},
        DurationCase{1.9f, -1, 16}, DurationCase{1.9f, 0x10001, 16}));

TEST(SetupReader, OldOnFlagsAreAnyNonZeroValueAndNewOnesAreStoredAsRead) {
    SetupFileSpec spec = withVersion(1.9f);
    spec.step = [](int, int s) {
        StepBytes step;
        step.on = s == 0 ? 0 : (s == 1 ? 0x10000 : -5);
        return step;
    };
    SetupRecord record = read(spec);
    EXPECT_EQ(record.measures[0].steps[0].on, 0);
    EXPECT_EQ(record.measures[0].steps[1].on, 1);
    EXPECT_EQ(record.measures[0].steps[2].on, 1);
    spec.version = 2.9f;
    spec.step = [](int, int) {
        StepBytes step;
        step.on = 5;
        return step;
    };
    EXPECT_EQ(read(spec).measures[4].steps[4].on, 5);
}

TEST(SetupReader, OldSixteenBitNotesAreSignExtendedIntoOneNote) {
    SetupFileSpec spec = withVersion(2.4f);
    spec.step = [](int, int s) {
        StepBytes step;
        step.notes = {s == 0 ? -5 : (s == 1 ? 0x8000 : 0x7FFF)};
        return step;
    };
    const SetupRecord record = read(spec);
    EXPECT_EQ(record.measures[0].steps[0].notes, IntArray{-5});
    EXPECT_EQ(record.measures[0].steps[1].notes, IntArray{-32768});
    EXPECT_EQ(record.measures[0].steps[2].notes, IntArray{32767});
}

TEST(SetupReader, ChordsOfAnySizeAndEmptyStepsFromTwoPointFive) {
    SetupFileSpec spec = withVersion(2.5f);
    spec.step = [](int m, int s) {
        StepBytes step;
        step.notes.clear();
        for (int i = 0; i < (m + s) % 5; ++i) {
            step.notes.push_back(i * 100000);
        }
        return step;
    };
    const SetupRecord record = read(spec);
    EXPECT_TRUE(record.measures[0].steps[0].notes.empty());
    EXPECT_EQ(record.measures[1].steps[3].notes, (IntArray{0, 100000, 200000, 300000}));
}

TEST(SetupReader, VersionTwoPointFiveWithoutPortNameKeepsThePortId) {
    SetupFileSpec spec = withVersion(2.5f);
    spec.portId = 4;
    const Bytes bytes = SetupFileBuilder::build(spec);
    const SetupRecord record = SetupReader::parse(bytes, "f");
    EXPECT_EQ(record.portId, 4);
    EXPECT_FALSE(record.portName.has_value());
    ::Setup setup;
    setup.port.portName = "Earlier Port";
    record.applyTo(setup);
    EXPECT_EQ(setup.port.portId, 4);
    EXPECT_EQ(setup.port.portName, "Earlier Port");
}

class SetupReaderPortName : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SetupReaderPortName, ReadsNamesAroundThePrefixBoundary) {
    SetupFileSpec spec = withVersion(2.9f);
    const std::string name(GetParam(), 'n');
    spec.portName = SetupFileSpec::counted(name);
    EXPECT_EQ(read(spec).portName, std::optional<std::string>(name));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SetupReaderPortName, ::testing::Values(0u, 254u, 255u, 300u));

TEST(SetupReader, TheHeaderFieldsAreReadAsStored) {
    SetupFileSpec spec;
    spec.tempoEditMode = 1;
    spec.bpm = 171.5;
    spec.portId = 2;
    spec.channel = 9;
    spec.selectedMeasure = 6;
    spec.mute = 1;
    const SetupRecord record = read(spec);
    EXPECT_EQ(record.tempoEditMode, 1);
    EXPECT_EQ(record.bpm, 171.5);
    EXPECT_EQ(record.portId, 2);
    EXPECT_EQ(record.channel, 9);
    EXPECT_EQ(record.selectedMeasure, 6);
    EXPECT_EQ(record.mute, 1);
}

struct ClampCase {
    std::int16_t selected;
    std::int16_t next;
    std::int16_t channel;
    std::int32_t steps;
    std::int16_t expectedSelected;
    std::int16_t expectedNext;
    std::int16_t expectedChannel;
    std::int32_t expectedSteps;
};

class SetupReaderClamp : public ::testing::TestWithParam<ClampCase> {};

TEST_P(SetupReaderClamp, KeepsValuesWithinTheModelsLimits) {
    const ClampCase& c = GetParam();
    SetupFileSpec spec;
    spec.selectedMeasure = c.selected;
    spec.next.fill(c.next);
    spec.channel = c.channel;
    spec.stepsPerMeasure = c.steps;
    const SetupRecord record = read(spec);
    EXPECT_EQ(record.selectedMeasure, c.expectedSelected);
    for (const Measure& measure : record.measures) {
        EXPECT_EQ(measure.next, c.expectedNext);
    }
    EXPECT_EQ(record.channel, c.expectedChannel);
    EXPECT_EQ(record.stepsPerMeasure, c.expectedSteps);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SetupReaderClamp,
    ::testing::Values(
        ClampCase{0, 0, 1, 1, 0, 0, 1, 1}, ClampCase{7, 7, 16, 16, 7, 7, 16, 16},
        ClampCase{-1, -1, 0, 0, 0, 0, 1, 1}, ClampCase{8, 8, 17, 17, 7, 7, 16, 16},
        ClampCase{-32768, 32767, -32768, std::numeric_limits<std::int32_t>::min(), 0, 7, 1, 1},
        ClampCase{32767, -32768, 32767, std::numeric_limits<std::int32_t>::max(), 7, 0, 16, 16}));

TEST(SetupReader, ANegativeNoteCountIsRefusedNamingThePlace) {
    SetupFileSpec spec;
    Bytes bytes = SetupFileBuilder::build(spec);
    // Loop 1, step 2: after the header, the measure's next/repeats and one 18-byte step.
    const std::size_t at = 30 + 4 + 18;
    ASSERT_EQ(bytes[at], 1);
    bytes[at] = 0xFF;
    bytes[at + 1] = 0xFF;
    bytes[at + 2] = 0xFF;
    bytes[at + 3] = 0xFF;
    const SetupFileError error = readFailure(bytes);
    EXPECT_EQ(error.kind(), SetupFileError::Kind::Damaged);
    EXPECT_STREQ(error.what(),
                 "broken.qov is damaged: the note count of loop 1, step 2 is "
                 "negative (-1).");
}

TEST(SetupReader, ANoteCountBeyondTheFileIsTheEndOfTheFile) {
    for (const std::uint32_t count : {0x7FFFFFFFu, 600u, 0x40000000u}) {
        Bytes bytes = SetupFileBuilder::build(SetupFileSpec{});
        const std::size_t at = 30 + 4;
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (8 * i));
        }
        const SetupFileError error = readFailure(bytes);
        EXPECT_EQ(error.kind(), SetupFileError::Kind::EndOfFile) << count;
        EXPECT_STREQ(error.what(), "An attempt was made to access broken.qov past its end.");
    }
}

TEST(SetupReader, EveryTruncationIsReportedAsTheEndOfTheFile) {
    for (const float version : {1.0f, 1.9f, 2.4f, 2.9f}) {
        const Bytes full = SetupFileBuilder::build(withVersion(version));
        for (std::size_t size = 0; size < full.size(); ++size) {
            const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
            try {
                SetupReader::parse(cut, "cut.qov");
                ADD_FAILURE() << "version " << version << " read from " << size << " bytes";
            } catch (const SetupFileError& error) {
                ASSERT_EQ(error.kind(), SetupFileError::Kind::EndOfFile)
                    << version << " at " << size;
            }
        }
    }
}

}  // namespace
