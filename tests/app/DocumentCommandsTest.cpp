#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/DocumentCommands.h"
#include "core/Random.h"
#include "core/Setup.h"
#include "document/MidiExport.h"
#include "document/SetupFile.h"
#include "document/SetupFileBuilder.h"
#include "document/SetupReader.h"
#include "document/TempFolder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result run(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = DocumentCommands::run(args, out, err);
    return {status, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Track events of a format-0 file as (tick, status) pairs; meta events have status 0xFF.
std::vector<std::pair<std::uint32_t, int>> trackEvents(const Bytes& file) {
    std::vector<std::pair<std::uint32_t, int>> events;
    std::size_t at = 22;
    std::uint32_t tick = 0;
    while (at < file.size()) {
        std::uint32_t delta = 0;
        std::uint8_t byte = 0;
        do {
            byte = file.at(at++);
            delta = (delta << 7) | (byte & 0x7F);
        } while (byte & 0x80);
        tick += delta;
        const int status = file.at(at);
        events.emplace_back(tick, status);
        if (status == 0xFF) {
            at += 3 + file.at(at + 2);
        } else {
            at += (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
        }
    }
    return events;
}

class DocumentCommandsTest : public ::testing::Test {
protected:
    std::string place(const std::string& name, const SetupFileSpec& spec) {
        const std::string path = folder.file(name);
        TempFolder::writeBytes(path, SetupFileBuilder::build(spec));
        return path;
    }

    TempFolder folder;
};

TEST_F(DocumentCommandsTest, DumpPrintsTheSetupAsReadAndNothingElse) {
    SetupFileSpec spec;
    spec.bpm = 133.0;
    spec.portName = SetupFileSpec::counted("Port \"B\"");
    const Result result = run({"--dump", place("a.qov", spec)});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.front(), '{');
    EXPECT_TRUE(contains(result.out, "\"bpm\": 133,"));
    EXPECT_TRUE(contains(result.out, "\"portName\": \"Port \\\"B\\\"\","));
}

TEST_F(DocumentCommandsTest, DumpOfAnOldFileShowsConvertedValues) {
    SetupFileSpec spec;
    spec.version = 1.0f;
    spec.step = [](int, int) {
        StepBytes step;
        step.duration = 1;  // the old short-note flag
        return step;
    };
    const Result result = run({"--dump", place("old.qov", spec)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "\"fileVersion\": 1,"));
    EXPECT_TRUE(contains(result.out, "\"portName\": \"\","));
    EXPECT_TRUE(contains(result.out, "\"stepsPerMeasure\": 13,"));
    EXPECT_TRUE(contains(result.out, "\"polyphonic\": 0,"));
    EXPECT_TRUE(contains(result.out, "\"volume\": 80,"));
    EXPECT_TRUE(contains(result.out, "\"duration\": 0}"));
    EXPECT_FALSE(contains(result.out, "\"duration\": 1}"));
}

TEST_F(DocumentCommandsTest, DumpReportsAShortFileWithTheStandardText) {
    const std::string path = folder.file("short.qov");
    TempFolder::writeBytes(path, {0x9A, 0x99, 0x39, 0x40, 0x00});
    const Result result = run({"--dump", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "glimmerstave: An attempt was made to access " + path + " past its end.\n");
}

TEST_F(DocumentCommandsTest, DumpReportsAMissingFile) {
    const std::string path = folder.file("missing.qov");
    const Result result = run({"--dump", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "glimmerstave: " + path + " was not found.\n");
}

TEST_F(DocumentCommandsTest, ConvertWritesVersionTwoPointNineWithEveryFieldAsRead) {
    SetupFileSpec spec;
    spec.version = 1.5f;
    spec.left = -40;
    spec.top = 1200;
    spec.right = 560;  // 600 wide: 16 steps
    spec.monophonic = 0;
    spec.channel = 7;
    spec.colors = {0x010203, 0x040506, 0x070809};
    spec.step = [](int m, int s) {
        StepBytes step;
        step.notes = {m - s};
        step.duration = s == 3 ? 1 : 0;
        return step;
    };
    const std::string in = place("old.qov", spec);
    const std::string out = folder.file("new.qov");
    const Result result = run({"--convert", in, out});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const Bytes bytes = TempFolder::readBytes(out);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0x9A, 0x99, 0x39, 0x40}));
    const SetupRecord original = SetupReader::readFile(in);
    const SetupRecord converted = SetupReader::readFile(out);
    EXPECT_EQ(converted.fileVersion, 2.9f);
    EXPECT_EQ(converted.windowLeft, -40);
    EXPECT_EQ(converted.windowTop, 1200);
    EXPECT_EQ(converted.stepsPerMeasure, 16);
    EXPECT_EQ(converted.polyphonic, 1);
    EXPECT_EQ(converted.channel, 7);
    EXPECT_EQ(converted.baseColor, 0x040506);
    EXPECT_EQ(converted.volume, std::optional<std::int16_t>(80));
    EXPECT_EQ(converted.transpose, std::optional<std::int16_t>(0));
    // The old file chose the mapper by number; the new one names it.
    EXPECT_EQ(converted.portName, std::optional<std::string>("MIDI Mapper"));
    for (std::size_t m = 0; m < 8; ++m) {
        for (std::size_t s = 0; s < 16; ++s) {
            const Step& a = original.measures[m].steps[s];
            const Step& b = converted.measures[m].steps[s];
            ASSERT_EQ(a.notes, b.notes);
            ASSERT_EQ(a.duration, b.duration);
        }
    }
    EXPECT_EQ(converted.measures[0].steps[3].duration, 0);
    EXPECT_EQ(converted.measures[0].steps[4].duration, 16);
}

TEST_F(DocumentCommandsTest, ConvertKeepsADeviceNumberButHasNoNameForIt) {
    SetupFileSpec spec;
    spec.version = 2.5f;
    spec.portId = 3;
    const std::string out = folder.file("new.qov");
    ASSERT_EQ(run({"--convert", place("old.qov", spec), out}).status, 0);
    const SetupRecord converted = SetupReader::readFile(out);
    EXPECT_EQ(converted.portId, 3);
    EXPECT_EQ(converted.portName, std::optional<std::string>(""));
}

TEST_F(DocumentCommandsTest, AFailedConvertLeavesTheTargetAlone) {
    const std::string out = folder.file("target.qov");
    TempFolder::writeBytes(out, {1, 2, 3});
    const std::string broken = folder.file("broken.qov");
    TempFolder::writeBytes(broken, {0x9A, 0x99});
    const Result result = run({"--convert", broken, out});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(TempFolder::readBytes(out), (Bytes{1, 2, 3}));
}

// Without --steps the command line exports what the window's export proposes: one pass
// through the chain of loops from the selected loop, each loop with its repeats.
TEST_F(DocumentCommandsTest, ExportPlaysOnePassThroughTheChainByDefaultAsTheWindowDoes) {
    SetupFileSpec spec;
    spec.stepsPerMeasure = 4;
    spec.selectedMeasure = 1;
    spec.next = {0, 2, 5, 3, 4, 1, 6, 7};  // 1 -> 2 -> 5 -> 1
    spec.repeats = {1, 2, 1, 1, 1, 3, 1, 1};
    const std::string out = folder.file("out.mid");
    const Result result = run({"--export-midi", place("a.qov", spec), out});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto events = trackEvents(TempFolder::readBytes(out));
    ASSERT_FALSE(events.empty());
    // 2 + 1 + 3 measures of 4 steps of 24 ticks; stop's All Notes Off and the end come last.
    EXPECT_EQ(events.back(), (std::pair<std::uint32_t, int>{24 * 24, 0xFF}));
    EXPECT_EQ(events[events.size() - 2], (std::pair<std::uint32_t, int>{24 * 24, 0xB0}));
    EXPECT_TRUE(contains(DocumentCommands::kHelpText, "one pass through the chain"));
}

TEST_F(DocumentCommandsTest, ExportTakesTheStepCountFromTheCommandLine) {
    const std::string out = folder.file("out.mid");
    const Result result =
        run({"--export-midi", "--steps", "5", place("a.qov", SetupFileSpec{}), out});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(trackEvents(TempFolder::readBytes(out)).back().first, 5u * 24u);
}

TEST_F(DocumentCommandsTest, ExportAudioPlaysTheSameStepsAndNamesTheFileThatFailed) {
    SetupFileSpec spec;
    spec.stepsPerMeasure = 2;
    const std::string setup = place("a.qov", spec);
    const std::string out = folder.file("out.wav");
    const Result result = run({"--export-audio", setup, out});
    ASSERT_EQ(result.status, 0) << result.err;
    // One pass: each loop is chained to itself, so one measure of 2 steps at the file's
    // tempo, then a release tail of at most 3 s.
    const auto frames = static_cast<std::int64_t>((TempFolder::readBytes(out).size() - 44) / 4);
    const std::int64_t stepFrames = 2 * 48000 * 60 / (4 * static_cast<std::int64_t>(spec.bpm));
    EXPECT_GE(frames, stepFrames - 1);
    EXPECT_LE(frames, stepFrames + 3 * 48000);

    const Result missing = run({"--export-audio", folder.file("none.qov"), out});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(contains(missing.err, "none.qov")) << missing.err;
    const std::string unwritable = folder.file("no-folder/out.wav");
    const Result failed = run({"--export-audio", setup, unwritable, "--steps", "4"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(contains(failed.err, unwritable)) << failed.err;
    EXPECT_EQ(run({"--export-audio", setup, out, "--steps", "0"}).status, 1);
    EXPECT_EQ(folder.entries().size(), 2u) << "the setup and the first export only";
}

TEST_F(DocumentCommandsTest, ExportWorksOnAHandMadeOldFile) {
    SetupFileSpec spec;
    spec.version = 1.0f;
    spec.channel = 5;
    const std::string out = folder.file("old.mid");
    ASSERT_EQ(run({"--export-midi", place("old.qov", spec), out, "--steps", "3"}).status, 0);
    const auto events = trackEvents(TempFolder::readBytes(out));
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[1], (std::pair<std::uint32_t, int>{0, 0x94}));
    EXPECT_EQ(events.back().first, 72u);
}

TEST_F(DocumentCommandsTest, DumpAndExportWorkOnAFileTheProgramSaved) {
    Random::seed(3);
    ::Setup setup;
    setup.bpm = 100.0;
    setup.port.channel = 3;
    setup.port.portName = "Out \xC3\xA9";
    setup.stepsPerMeasure = 2;
    setup.selectedMeasure = 1;
    for (Step& step : setup.measures[1].steps) {
        step.on = 1;
        step.duration = 17;
    }
    const std::string path = folder.file("saved.qov");
    SetupFile::save(path, setup, 0x00102030, 5, 6);

    const Result dumped = run({"--dump", path});
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_TRUE(contains(dumped.out, "\"bpm\": 100,"));
    EXPECT_TRUE(contains(dumped.out, "\"channel\": 3,"));
    EXPECT_TRUE(contains(dumped.out, "\"portName\": \"Out \xC3\xA9\","));
    EXPECT_TRUE(contains(dumped.out, "\"baseColor\": 1056816,"));
    EXPECT_TRUE(contains(dumped.out, "\"windowTop\": 6,"));

    const std::string midi = folder.file("saved.mid");
    const Result exported = run({"--export-midi", path, midi});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const auto events = trackEvents(TempFolder::readBytes(midi));
    // 100 BPM is 600000 microseconds per quarter; on channel 3, as long as the window's
    // export of this setup.
    const Bytes file = TempFolder::readBytes(midi);
    EXPECT_EQ(Bytes(file.begin() + 22, file.begin() + 29),
              (Bytes{0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0}));
    EXPECT_EQ(events[1], (std::pair<std::uint32_t, int>{0, 0x92}));
    EXPECT_EQ(events.back().first, 24u * static_cast<unsigned>(MidiExport::chainPassSteps(setup)));
}

class DocumentCommandsUsage : public DocumentCommandsTest,
                              public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(DocumentCommandsUsage, IsRefusedWithAMessage) {
    const Result result = run(GetParam());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("glimmerstave: ", 0), 0u) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, DocumentCommandsUsage,
    ::testing::Values(std::vector<std::string>{"--dump"},
                      std::vector<std::string>{"--dump", "a", "b"},
                      std::vector<std::string>{"--convert", "a"},
                      std::vector<std::string>{"--export-midi", "a"},
                      std::vector<std::string>{"--export-midi", "a", "b", "--steps"},
                      std::vector<std::string>{"--export-midi", "a", "b", "--steps", "0"},
                      std::vector<std::string>{"--export-midi", "a", "b", "--steps", "-4"},
                      std::vector<std::string>{"--export-midi", "a", "b", "--steps", "12x"},
                      std::vector<std::string>{"--export-midi", "a", "b", "--steps", "99999999999"},
                      std::vector<std::string>{"--dump", "a", "--steps", "3"},
                      std::vector<std::string>{"--other"}));

}  // namespace
