#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Random.h"
#include "core/Setup.h"
#include "document/SetupReader.h"
#include "document/SetupRecord.h"
#include "document/SetupWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeaderSize = 30;
constexpr std::size_t kMeasureHeaderSize = 4;

// A record with every step in its default state and the values of the header example.
SetupRecord exampleRecord() {
    SetupRecord record;
    record.tempoEditMode = 0;
    record.bpm = 126.0;
    record.portId = -1;
    record.channel = 1;
    record.selectedMeasure = 0;
    record.mute = 0;
    record.baseColor = 0x00336699;
    record.portName = "MIDI Mapper";
    return record;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

TEST(SetupWriter, WritesTheHeaderOfTheExampleByteForByte) {
    const Bytes bytes = SetupWriter::serialize(exampleRecord());
    const Bytes expected = {0x9A, 0x99, 0x39, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x80, 0x5F, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x99, 0x66, 0x33, 0x00};
    EXPECT_EQ(slice(bytes, 0, kHeaderSize), expected);
}

TEST(SetupWriter, WritesADefaultStepAsItsEighteenBytes) {
    const Bytes bytes = SetupWriter::serialize(exampleRecord());
    const Bytes defaultStep = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0x00, 0x64, 0x00, 0x40, 0x00, 0x1E, 0x00, 0x01, 0x00};
    // Measure 0: next 0, repeats 1, then its first step.
    EXPECT_EQ(slice(bytes, kHeaderSize, kMeasureHeaderSize), (Bytes{0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(slice(bytes, kHeaderSize + kMeasureHeaderSize, defaultStep.size()), defaultStep);
    // Measure 7 starts after seven measures of sixteen such steps, with next 7.
    const std::size_t measure7 = kHeaderSize + 7 * (kMeasureHeaderSize + 16 * 18);
    EXPECT_EQ(slice(bytes, measure7, kMeasureHeaderSize), (Bytes{0x07, 0x00, 0x01, 0x00}));
}

TEST(SetupWriter, PutsTheOnFlagLastAndEveryNoteOfTheChord) {
    SetupRecord record = exampleRecord();
    Step& step = record.measures[0].steps[0];
    step.notes = IntArray{5, -7};
    step.program = -1;
    step.velocity = 127;
    step.pan = 0;
    step.duration = 17;
    step.on = 0;
    const Bytes bytes = SetupWriter::serialize(record);
    const Bytes expected = {0x02, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0xF9, 0xFF, 0xFF,
                            0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00};
    EXPECT_EQ(slice(bytes, kHeaderSize + kMeasureHeaderSize, expected.size()), expected);
}

TEST(SetupWriter, WritesTheTrailerAfterTheLastMeasure) {
    SetupRecord record = exampleRecord();
    record.windowLeft = -20;
    record.windowTop = 1500;
    record.stepsPerMeasure = 7;
    record.polyphonic = 0;
    record.volume = 101;
    record.transpose = -12;
    record.portName = "Synth";
    const Bytes bytes = SetupWriter::serialize(record);
    const Bytes trailer = {0xEC, 0xFF, 0xFF, 0xFF, 0xDC, 0x05, 0x00, 0x00, 0x07,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x00,
                           0xF4, 0xFF, 0x05, 'S',  'y',  'n',  't',  'h'};
    ASSERT_GE(bytes.size(), trailer.size());
    EXPECT_EQ(slice(bytes, bytes.size() - trailer.size(), trailer.size()), trailer);
}

class SetupWriterSize : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SetupWriterSize, IsTheFixedPartPlusThePortName) {
    const std::size_t nameLength = GetParam();
    SetupRecord record = exampleRecord();
    record.portName = std::string(nameLength, 'p');
    const std::size_t prefixExtra = nameLength < 255 ? 0 : 2;
    EXPECT_EQ(SetupWriter::serialize(record).size(), 2387 + nameLength + prefixExtra);
}

INSTANTIATE_TEST_SUITE_P(NameLengths, SetupWriterSize,
                         ::testing::Values(0u, 11u, 254u, 255u, 1000u));

TEST(SetupWriter, StepsBeyondStepsPerMeasureAreStillWritten) {
    SetupRecord record = exampleRecord();
    record.stepsPerMeasure = 1;
    record.measures[3].steps[15].velocity = 77;
    const SetupRecord back = SetupReader::parse(SetupWriter::serialize(record), "f");
    EXPECT_EQ(back.measures[3].steps[15].velocity, 77);
    EXPECT_EQ(SetupWriter::serialize(record).size(), 2387u + 11u);
}

TEST(SetupWriter, AStepWithoutNotesIsCountZeroAndReadsBackEmpty) {
    SetupRecord record = exampleRecord();
    record.measures[2].steps[9].notes.removeAll();
    const Bytes bytes = SetupWriter::serialize(record);
    const std::size_t at =
        kHeaderSize + 2 * (kMeasureHeaderSize + 16 * 18) + kMeasureHeaderSize + 9 * 18;
    EXPECT_EQ(slice(bytes, at, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(bytes.size(), 2387u + 11u - 4u);
    const SetupRecord back = SetupReader::parse(bytes, "f");
    EXPECT_TRUE(back.measures[2].steps[9].notes.empty());
    EXPECT_EQ(back.measures[2].steps[8].notes.size(), 1);
}

TEST(SetupWriter, AlwaysWritesVersionTwoPointNine) {
    SetupRecord record = exampleRecord();
    record.fileVersion = 1.0f;
    EXPECT_EQ(slice(SetupWriter::serialize(record), 0, 4), (Bytes{0x9A, 0x99, 0x39, 0x40}));
}

TEST(SetupWriter, ARandomSetupReadsBackIntoEveryStoredField) {
    Random::seed(20240611);
    ::Setup setup;
    setup.tempoEditMode = 1;
    setup.bpm = 93.25;
    setup.port.portId = 3;
    setup.port.channel = 10;
    setup.port.portName = "Keystation \xE2\x80\x93 Port 1";
    setup.selectedMeasure = 5;
    setup.mute = 1;
    setup.stepsPerMeasure = 12;
    setup.polyphonic = 0;
    setup.volume = 64;
    setup.transpose = 7;
    setup.measures[1].next = 4;
    setup.measures[1].repeats = 32;
    setup.measures[6].steps[2].notes = IntArray{1, 2, 3, 4, 5, 6, 7, 8, 9};
    setup.measures[0].steps[0].on = 0;

    const SetupRecord written = SetupRecord::fromSetup(setup, 0x00ABCDEF, 1920, -30);
    const SetupRecord read = SetupReader::parse(SetupWriter::serialize(written), "f");
    SetupRecord expected = written;
    expected.fileVersion = 2.9f;
    EXPECT_EQ(read, expected);

    Random::seed(1);
    ::Setup other;
    read.applyTo(other);
    EXPECT_EQ(other.bpm, 93.25);
    EXPECT_EQ(other.port.portName, setup.port.portName);
    EXPECT_EQ(other.measures[6].steps[2].notes, setup.measures[6].steps[2].notes);
    for (int m = 0; m < Setup::kMeasureCount; ++m) {
        for (int s = 0; s < Measure::kStepCount; ++s) {
            const Step& a =
                setup.measures[static_cast<std::size_t>(m)].steps[static_cast<std::size_t>(s)];
            const Step& b =
                other.measures[static_cast<std::size_t>(m)].steps[static_cast<std::size_t>(s)];
            ASSERT_EQ(a.notes, b.notes) << m << "/" << s;
            ASSERT_EQ(a.duration, b.duration) << m << "/" << s;
            ASSERT_EQ(a.velocity, b.velocity) << m << "/" << s;
        }
    }
}

}  // namespace
