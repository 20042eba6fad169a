// The audio export: a real WAV file rendered by the sound font the program plays with.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Setup.h"
#include "document/MidiExport.h"
#include "document/TempFolder.h"
#include "midi/AudioExport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kHeader = 44;
constexpr int kRate = AudioExport::kSampleRate;

std::uint32_t readLittleEndian(const Bytes& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | bytes.at(at + static_cast<std::size_t>(i));
    }
    return value;
}

// The left channel's samples of a file whose header was checked.
std::vector<int> leftChannel(const Bytes& file) {
    std::vector<int> samples;
    for (std::size_t at = kHeader; at + 3 < file.size(); at += 4) {
        samples.push_back(static_cast<std::int16_t>(readLittleEndian(file, at, 2)));
    }
    return samples;
}

int peak(const std::vector<int>& samples, std::size_t from, std::size_t to) {
    int loudest = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        loudest = std::max(loudest, std::abs(samples[i]));
    }
    return loudest;
}

// Every loop plays one piano note (middle C, velocity 100, for one step) on the steps that
// are on, at 126 BPM.
Setup pianoSetup(bool stepsOn) {
    ::Setup setup;
    setup.bpm = 126.0;
    setup.stepsPerMeasure = 16;
    setup.volume = 100;
    setup.transpose = 0;
    setup.mute = 0;
    setup.selectedMeasure = 0;
    for (Measure& measure : setup.measures) {
        for (Step& step : measure.steps) {
            step.on = stepsOn ? 1 : 0;
            step.setNotes(IntArray{0});
            step.program = 0;
            step.velocity = 101;  // x the volume's 0.99999998: 100 on the wire
            step.pan = 64;
            step.duration = 1;
        }
    }
    return setup;
}

class AudioExportTest : public ::testing::Test {
protected:
    Bytes render(::Setup setup, int steps) {
        const std::string out = folder.file("out.wav");
        EXPECT_TRUE(AudioExport::writeFile(setup, steps, out));
        return TempFolder::readBytes(out);
    }

    std::int64_t stepFrames(int steps) const {
        return AudioExport::frameOfTick(std::int64_t{steps} * MidiExport::kTicksPerStep, 126.0);
    }

    TempFolder folder;
};

TEST_F(AudioExportTest, WritesA48kHzStereo16BitWaveOfTheStepsAndAShortTail) {
    const Bytes file = render(pianoSetup(true), 16);
    ASSERT_GE(file.size(), kHeader);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(readLittleEndian(file, 4, 4), file.size() - 8);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(readLittleEndian(file, 16, 4), 16u);
    EXPECT_EQ(readLittleEndian(file, 20, 2), 1u);  // PCM
    EXPECT_EQ(readLittleEndian(file, 22, 2), 2u);
    EXPECT_EQ(readLittleEndian(file, 24, 4), 48000u);
    EXPECT_EQ(readLittleEndian(file, 28, 4), 48000u * 4);
    EXPECT_EQ(readLittleEndian(file, 32, 2), 4u);
    EXPECT_EQ(readLittleEndian(file, 34, 2), 16u);
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(readLittleEndian(file, 40, 4), file.size() - kHeader);

    // 16 steps at 126 BPM are 16 x 119.05 ms; the release tail adds at most 3 s.
    const auto frames = static_cast<std::int64_t>((file.size() - kHeader) / 4);
    EXPECT_EQ(stepFrames(16), 91428);
    EXPECT_GT(frames, stepFrames(16));
    EXPECT_LE(frames, stepFrames(16) + 3 * kRate);
    EXPECT_EQ(folder.entries().size(), 1u) << "no temporary file is left";
}

TEST_F(AudioExportTest, EveryStepSoundsAtItsOnset) {
    const int steps = 32;
    const std::vector<int> left = leftChannel(render(pianoSetup(true), steps));
    for (int step = 0; step < steps; ++step) {
        const auto onset = static_cast<std::size_t>(
            AudioExport::frameOfTick(std::int64_t{step} * MidiExport::kTicksPerStep, 126.0));
        EXPECT_GT(peak(left, onset, onset + kRate / 50), 1000) << "step " << step;
    }
}

TEST_F(AudioExportTest, ALoneNoteStartsOnItsStepAndPeaksAtAUsableLevel) {
    ::Setup setup = pianoSetup(false);
    setup.measures[0].steps[5].on = 1;
    const std::vector<int> left = leftChannel(render(setup, 16));
    const auto onset = static_cast<std::size_t>(stepFrames(5));
    EXPECT_EQ(peak(left, 0, onset), 0) << "silence before the step";
    // The synthesizer renders in blocks of 64 frames: the note starts within one.
    EXPECT_GT(peak(left, onset, onset + 64 + kRate / 100), 0);
    // One piano note at velocity 100 lands between -18 and -6 dBFS.
    const double dbfs = 20.0 * std::log10(peak(left, 0, left.size()) / 32768.0);
    EXPECT_GT(dbfs, -18.0);
    EXPECT_LT(dbfs, -6.0);
}

TEST_F(AudioExportTest, EveryStepOffIsSilenceWithoutATail) {
    const Bytes file = render(pianoSetup(false), 16);
    EXPECT_EQ(static_cast<std::int64_t>((file.size() - kHeader) / 4), stepFrames(16));
    EXPECT_TRUE(std::all_of(file.begin() + kHeader, file.end(),
                            [](std::uint8_t byte) { return byte == 0; }));
}

TEST_F(AudioExportTest, AFullChordSaturatesAndNeverWrapsAround) {
    ::Setup setup = pianoSetup(true);
    setup.volume = 200;
    for (Measure& measure : setup.measures) {
        for (Step& step : measure.steps) {
            step.setNotes(IntArray{-24, -12, 0, 4, 7, 12, 16, 19, 24});
            step.velocity = 127;
            step.duration = 4;
        }
    }
    const std::vector<int> left = leftChannel(render(setup, 16));
    EXPECT_GE(peak(left, 0, left.size()), 32767);
    int widestJump = 0;
    for (std::size_t i = 1; i < left.size(); ++i) {
        widestJump = std::max(widestJump, std::abs(left[i] - left[i - 1]));
    }
    EXPECT_LT(widestJump, 32768) << "a sample jumped from one end of the range to the other";
}

TEST_F(AudioExportTest, TheSameSetupRendersToTheSameBytes) {
    const ::Setup setup = pianoSetup(true);
    const Bytes first = render(setup, 24);
    const Bytes second = render(setup, 24);
    EXPECT_EQ(first, second);
}

TEST_F(AudioExportTest, ACancelledExportLeavesNoFileAndTheOldOneAlone) {
    const std::string out = folder.file("out.wav");
    TempFolder::writeBytes(out, {1, 2, 3});
    ::Setup setup = pianoSetup(true);
    int calls = 0;
    const bool written = AudioExport::writeFile(
        setup, 64, out, [&calls](std::int64_t, std::int64_t) { return ++calls < 3; });
    EXPECT_FALSE(written);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(TempFolder::readBytes(out), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.entries().size(), 1u);
}

TEST_F(AudioExportTest, AnUnwritableTargetIsNamedInTheError) {
    ::Setup setup = pianoSetup(true);
    const std::string out = folder.file("missing/out.wav");
    try {
        AudioExport::writeFile(setup, 4, out);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(out), std::string::npos) << error.what();
    }
    ::Setup other = pianoSetup(true);
    EXPECT_THROW(
        AudioExport::writeFile(other, 4, folder.file("x.wav"), {}, folder.file("no-such-font.sf2")),
        std::runtime_error);
    EXPECT_TRUE(folder.entries().empty());
}

// The slowest tempo the dial allows (0.5 BPM, written as the slowest tempo event there is)
// over the longest export: no overflow on the way to the frame.
TEST(AudioExportFrames, TheLongestExportAtTheSlowestTempoKeepsItsFrames) {
    const std::int64_t lastTick = std::int64_t{MidiExport::kMaxSteps} * MidiExport::kTicksPerStep;
    // 0xFFFFFF us per quarter, 96 ticks per quarter, 48000 frames per second.
    EXPECT_EQ(AudioExport::frameOfTick(lastTick, 0.5), lastTick * 0xFFFFFF / 2000);
    EXPECT_EQ(AudioExport::frameOfTick(lastTick, 7.0), lastTick * 8'571'429 / 2000);
    EXPECT_EQ(AudioExport::frameOfTick(24, 120.0), 6000);
}

// An export too long for a WAV file is refused before its playback is run: a playback that
// would itself be refused for its size shows that it never ran.
TEST_F(AudioExportTest, ATooLongExportIsRefusedBeforeItsPlaybackRuns) {
    ::Setup setup = pianoSetup(true);
    setup.bpm = 0.5;
    IntArray huge;
    huge.setSize(static_cast<std::ptrdiff_t>(MidiExport::kMaxMessages / 4 + 1));
    setup.measures[0].steps[0].notes = huge;
    try {
        AudioExport::writeFile(setup, MidiExport::kMaxSteps, folder.file("long.wav"));
        FAIL() << "no error";
    } catch (const std::length_error& error) {
        EXPECT_NE(std::string(error.what()).find("longer than a WAV file can hold"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(folder.entries().empty());
}

}  // namespace
