#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "app/CommandLine.h"
#include "app/DocumentCommands.h"

namespace {

CommandLine parse(std::vector<std::string> words) { return CommandLine::parse(words); }

TEST(CommandLine, WordsOfAnUnquotedPathAreJoined) {
    const CommandLine line = parse({"/home/me/My", "Setups/a", "b.qov"});
    EXPECT_EQ(line.mode, CommandLine::Mode::Window);
    EXPECT_EQ(line.setupPath, "/home/me/My Setups/a b.qov");
}

TEST(CommandLine, OptionsAndTheirValuesAreNotPartOfThePath) {
    const CommandLine line =
        parse({"--midi-log", "out.log", "song.qov", "--play", "--screenshot", "shot.png",
               "--link"});
    EXPECT_EQ(line.setupPath, "song.qov");
    EXPECT_EQ(line.midiLogPath, "out.log");
    EXPECT_EQ(line.screenshotPath, "shot.png");
    EXPECT_TRUE(line.play);
    EXPECT_TRUE(line.link);
    EXPECT_FALSE(parse({"song.qov"}).link);
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
    EXPECT_EQ(parse({"song.qov", "--version", "--loud"}).mode, CommandLine::Mode::Version);
    EXPECT_EQ(parse({"--list-ports"}).mode, CommandLine::Mode::ListPorts);
    EXPECT_TRUE(parse({}).setupPath.empty());
}

TEST(CommandLine, EveryOptionsDescriptionStartsInOneColumn) {
    // As --help prints them: the window's options, then the setup-file options.
    std::istringstream help(std::string(CommandLine::helpText()) + "\n" +
                            DocumentCommands::kHelpText);
    std::set<std::size_t> columns;
    int options = 0;
    for (std::string line; std::getline(help, line);) {
        if (line.starts_with("  --")) {
            ++options;
            const std::size_t gap = line.find("  ", 2);
            if (gap != std::string::npos) {
                columns.insert(line.find_first_not_of(' ', gap));
            }
        } else if (line.starts_with("    ")) {
            columns.insert(line.find_first_not_of(' '));  // a description on its own line
        }
    }
    EXPECT_EQ(options, 15);
    EXPECT_EQ(columns, std::set<std::size_t>{22});
}

}  // namespace
