// The MIDI learn binding lines: their text both ways, lines a hand edit broke, replacement, and
// the lines as a hand-edited preferences file holds them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/MidiBindings.h"
#include "app/Preferences.h"
#include "app/RemoteControl.h"

namespace {

using Binding = MidiBindings::Binding;
using Kind = MidiTrigger::Kind;

TEST(MidiBindings, EveryTargetReadsBackFromItsLine) {
    MidiBindings bindings;
    for (int t = static_cast<int>(RemoteTarget::Play); t <= static_cast<int>(RemoteTarget::Loop8);
         ++t) {
        // Channel 16 and number 127 come first: the top of each range.
        bindings.bind(Binding{{t % 2 == 0 ? Kind::Note : Kind::Controller, 17 - t, 128 - t},
                              static_cast<RemoteTarget>(t)});
    }
    const std::vector<std::string> lines = bindings.lines();
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[1], "note 15 126 = play alone");
    EXPECT_EQ(lines.front(), "cc 16 127 = play");
    EXPECT_EQ(lines.back(), "note 3 114 = loop 8");
    MidiBindings read;
    EXPECT_TRUE(read.readLines(lines).empty());
    EXPECT_EQ(read.lines(), lines);
    EXPECT_EQ(read.targetOf({Kind::Note, 3, 114}), RemoteTarget::Loop8);
    EXPECT_EQ(read.targetOf({Kind::Controller, 3, 114}), RemoteTarget::None) << "a cc is no note";
}

TEST(MidiBindings, UnreadableLinesAreSkippedAndTheOthersKept) {
    const std::vector<std::string> bad = {
        "note 0 36 = play", "note 17 36 = play",  "cc 1 128 = volume",  "cc 1 -1 = volume",
        "note 1 36 play",   "pitch 1 36 = play",  "note 1 36 = loop 9", "note 1 36 = loop 0",
        "note 1 = play",    "note 1 36 7 = play", "note 1 3x = play",   "cc 1 7 = volume up",
        "note 1 36 = ",
    };
    std::vector<std::string> lines = bad;
    lines.insert(lines.begin() + 3, "  cc  2 7 =  volume ");
    lines.emplace_back("note 10 36 = play   alone");
    MidiBindings bindings;
    EXPECT_EQ(bindings.readLines(lines), bad);
    EXPECT_EQ(bindings.lines(),
              (std::vector<std::string>{"cc 2 7 = volume", "note 10 36 = play alone"}));
}

TEST(MidiBindings, ABindingReplacesTheOlderOneOfItsMessageAndOfItsControl) {
    MidiBindings bindings;
    bindings.readLines({"note 1 36 = play", "cc 1 7 = volume", "cc 1 10 = tempo"});
    bindings.bind(Binding{{Kind::Note, 1, 36}, RemoteTarget::Mute});
    bindings.bind(Binding{{Kind::Controller, 1, 11}, RemoteTarget::Volume});
    EXPECT_EQ(bindings.lines(), (std::vector<std::string>{"cc 1 10 = tempo", "note 1 36 = mute",
                                                          "cc 1 11 = volume"}));
    EXPECT_EQ(bindings.targetOf({Kind::Controller, 1, 7}), RemoteTarget::None);
}

TEST(MidiBindings, AControllerSpansTheWholeRangeOfItsControl) {
    EXPECT_EQ(RemoteControl::scaled(0, -59, 67), -59);
    EXPECT_EQ(RemoteControl::scaled(127, -59, 67), 67);
    EXPECT_EQ(RemoteControl::scaled(64, 0, 100), 50);
    EXPECT_EQ(RemoteControl::scaled(127, 0, 100), 100);
}

TEST(MidiBindings, TheStoredLinesReadBackAndAHandWrittenOneIsRead) {
    QTemporaryDir configHome;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    const std::vector<std::string> lines = {"note 1 36 = play", "cc 16 7 = volume"};
    Preferences::saveMidiBindingLines(lines);
    EXPECT_EQ(Preferences::midiBindingLines(), lines);

    QFile file(Preferences::filePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Frostquillion]\ndata\\8\\midiBindings=note 1 40 = loop 2\n");
    file.close();
    EXPECT_EQ(Preferences::midiBindingLines(), (std::vector<std::string>{"note 1 40 = loop 2"}));
    qputenv("XDG_CONFIG_HOME", saved);
}

}  // namespace
