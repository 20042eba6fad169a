#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>
#include <ostream>

#include "EngineDoubles.h"
#include "app/Preferences.h"
#include "core/Player.h"
#include "core/Setup.h"
#include "midi/StepClock.h"

namespace {

StepClock::Options quickClock() {
    StepClock::Options options;
    options.calibrationMs = 5;
    return options;
}

// A Player on a virtual clock, a real StepClock for the time base, and XDG_CONFIG_HOME pointed
// at a fresh temporary directory.
class PreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configHome.isValid());
        if (qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
            savedConfigHome = qgetenv("XDG_CONFIG_HOME");
        }
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
        player.init(host, setup, timer, port);
        port.take();
    }
    void TearDown() override {
        if (savedConfigHome) {
            qputenv("XDG_CONFIG_HOME", *savedConfigHome);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
    }

    void store(const QString& text) {
        QSettings settings(Preferences::filePath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Frostquillion/data/8/highResTimer"), text);
        settings.sync();
        ASSERT_EQ(settings.status(), QSettings::NoError);
    }
    QVariant stored() const {
        const QSettings settings(Preferences::filePath(), QSettings::IniFormat);
        return settings.value(QStringLiteral("Frostquillion/data/8/highResTimer"));
    }
    int allNotesOffSent() {
        const std::vector<ShortMessage> sent = port.take();
        return static_cast<int>(std::count_if(sent.begin(), sent.end(), [](const ShortMessage& m) {
            return m.status == 0xB0 && m.data1 == 123;
        }));
    }

    QTemporaryDir configHome;
    std::optional<QByteArray> savedConfigHome;
    ::Setup setup;
    RecordingPort port;
    RecordingHost host;
    ManualTimer timer;
    Player player;
    StepClock clock{quickClock()};
    Preferences preferences{setup, clock, player};
};

TEST_F(PreferencesTest, TheFileLivesUnderXdgConfigHome) {
    EXPECT_EQ(Preferences::filePath(), configHome.path() + "/Glimmerstave/Glimmerstave.ini");
}

TEST_F(PreferencesTest, WithNothingStoredTheOptionIsOn) {
    setup.highResTimer = false;
    clock.setUseTsc(false);
    preferences.loadPreferences();
    EXPECT_TRUE(setup.highResTimer);
    EXPECT_TRUE(clock.useTsc());
    EXPECT_FALSE(QFile::exists(Preferences::filePath())) << "loading writes nothing";
}

// MIDI clock and the JACK transport are off unless exactly "on" is stored; toggling one saves
// it and hands MIDI clock to the engine.
TEST_F(PreferencesTest, MidiClockAndJackTransportAreOnOnlyForExactlyOn) {
    QSettings settings(Preferences::filePath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Frostquillion/data/8/midiClock"), QStringLiteral("On"));
    settings.setValue(QStringLiteral("Frostquillion/data/8/jackTransport"), QStringLiteral("on"));
    settings.sync();
    preferences.loadPreferences();
    EXPECT_FALSE(setup.midiClock);
    EXPECT_FALSE(player.midiClock());
    EXPECT_TRUE(setup.jackTransport);

    preferences.toggleMidiClock();
    EXPECT_TRUE(player.midiClock());
    preferences.toggleJackTransport();
    preferences.loadPreferences();
    EXPECT_TRUE(setup.midiClock) << "saved by the toggle";
    EXPECT_TRUE(player.midiClock());
    EXPECT_FALSE(setup.jackTransport);
}

struct StoredText {
    const char* text;
    bool on;
};

void PrintTo(const StoredText& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class PreferencesStoredText : public PreferencesTest,
                              public testing::WithParamInterface<StoredText> {};

TEST_P(PreferencesStoredText, OnlyExactlyOffTurnsTheOptionOff) {
    store(QString::fromLatin1(GetParam().text));
    setup.highResTimer = !GetParam().on;
    clock.setUseTsc(!GetParam().on);
    preferences.loadPreferences();
    EXPECT_EQ(setup.highResTimer, GetParam().on);
    EXPECT_EQ(clock.useTsc(), GetParam().on);
}

INSTANTIATE_TEST_SUITE_P(Preferences, PreferencesStoredText,
                         testing::Values(StoredText{"off", false}, StoredText{"on", true},
                                         StoredText{"Off", true}, StoredText{"OFF", true},
                                         StoredText{"0", true}, StoredText{"", true},
                                         StoredText{"offline", true}));

TEST_F(PreferencesTest, SavingWritesOnOrOffInTheGroupFrostquillionData8) {
    setup.highResTimer = false;
    preferences.savePreferences();
    EXPECT_EQ(stored().toString(), QStringLiteral("off"));
    QFile file(Preferences::filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[Frostquillion]")) << text.constData();
    EXPECT_TRUE(text.contains("data\\8\\highResTimer=off")) << text.constData();

    setup.highResTimer = true;
    preferences.savePreferences();
    EXPECT_EQ(stored().toString(), QStringLiteral("on"));
}

TEST_F(PreferencesTest, ToggleWhileStoppedInvertsSwitchesTheClockAndSaves) {
    preferences.loadPreferences();
    preferences.toggleHighResTimer();
    EXPECT_FALSE(setup.highResTimer);
    EXPECT_FALSE(clock.useTsc());
    EXPECT_FALSE(clock.usingTsc());
    EXPECT_EQ(stored().toString(), QStringLiteral("off"));
    EXPECT_EQ(host.playReleasedCount, 0) << "nothing to stop";
    EXPECT_EQ(allNotesOffSent(), 0);

    preferences.toggleHighResTimer();
    EXPECT_TRUE(setup.highResTimer);
    EXPECT_TRUE(clock.useTsc());
    EXPECT_EQ(stored().toString(), QStringLiteral("on"));
}

TEST_F(PreferencesTest, TwoTogglesWhilePlayingStopOnceAndLeaveTheStoredValueAsItBegan) {
    store(QStringLiteral("off"));
    preferences.loadPreferences();
    player.start();
    port.take();
    ASSERT_TRUE(player.isRunning());

    preferences.toggleHighResTimer();
    EXPECT_FALSE(player.isRunning());
    EXPECT_EQ(stored().toString(), QStringLiteral("on"));
    preferences.toggleHighResTimer();
    EXPECT_FALSE(player.isRunning()) << "the second toggle does not restart playback";
    EXPECT_EQ(host.playReleasedCount, 1);
    EXPECT_EQ(allNotesOffSent(), 1);
    EXPECT_EQ(timer.stops, 2) << "init's start and stop, then the one stop";
    EXPECT_FALSE(setup.highResTimer);
    EXPECT_EQ(stored().toString(), QStringLiteral("off"));
}

TEST_F(PreferencesTest, TogglingLeavesTheDirtyFlagAlone) {
    for (const bool dirty : {false, true}) {
        setup.dirty = dirty;
        preferences.toggleHighResTimer();
        EXPECT_EQ(setup.dirty, dirty);
    }
}

TEST_F(PreferencesTest, AnUnwritableStoreIsSilentAndReadsAsOn) {
    // A plain file where the configuration directory should be: nothing can be created.
    const QString blocker = configHome.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());

    preferences.toggleHighResTimer();
    EXPECT_FALSE(setup.highResTimer) << "the option still changes for this run";
    EXPECT_FALSE(clock.useTsc());
    preferences.loadPreferences();
    EXPECT_TRUE(setup.highResTimer);
    EXPECT_TRUE(clock.useTsc());
}

}  // namespace
