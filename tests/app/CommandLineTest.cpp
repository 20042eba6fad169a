#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

CommandLine parse(std::vector<std::string> words) { return CommandLine::parse(words); }

TEST(CommandLine, WordsOfAnUnquotedPathAreJoined) {
    const CommandLine line = parse({"/home/me/My", "Setups/a", "b.qov"});
    EXPECT_EQ(line.mode, CommandLine::Mode::Window);
    EXPECT_EQ(line.setupPath, "/home/me/My Setups/a b.qov");
}

TEST(CommandLine, OptionsAndTheirValuesAreNotPartOfThePath) {
    const CommandLine line =
        parse({"--midi-log", "out.log", "song.qov", "--play", "--screenshot", "shot.png"});
    EXPECT_EQ(line.setupPath, "song.qov");
    EXPECT_EQ(line.midiLogPath, "out.log");
    EXPECT_EQ(line.screenshotPath, "shot.png");
    EXPECT_TRUE(line.play);
    EXPECT_FALSE(line.midiClock);
    EXPECT_FALSE(line.jackTransport);
    const CommandLine sync = parse({"--midi-clock", "song", "--jack-transport", "two.qov"});
    EXPECT_TRUE(sync.midiClock);
    EXPECT_TRUE(sync.jackTransport);
    EXPECT_EQ(sync.setupPath, "song two.qov");
}

TEST(CommandLine, MissingValuesAndUnknownOptionsAreErrors) {
    EXPECT_EQ(parse({"--midi-log"}).mode, CommandLine::Mode::Error);
    EXPECT_EQ(parse({"song.qov", "--screenshot"}).mode, CommandLine::Mode::Error);
    const CommandLine unknown = parse({"--loud"});
    EXPECT_EQ(unknown.mode, CommandLine::Mode::Error);
    EXPECT_NE(unknown.error.find("--loud"), std::string::npos);
}

TEST(CommandLine, ScriptedOptionsTakeTheRestOfTheLine) {
    const CommandLine dump = parse({"--play", "--dump", "a", "b"});
    EXPECT_EQ(dump.mode, CommandLine::Mode::Document);
    EXPECT_EQ(dump.documentArgs, (std::vector<std::string>{"--dump", "a", "b"}));
    EXPECT_EQ(parse({"x", "--help"}).mode, CommandLine::Mode::Help);
    EXPECT_EQ(parse({"--list-ports"}).mode, CommandLine::Mode::ListPorts);
    EXPECT_TRUE(parse({}).setupPath.empty());
}

}  // namespace
