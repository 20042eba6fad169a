#include <limits>

#include "PlayerFixture.h"

namespace {

using Messages::UM_MEASURE_PLAYING;
using Messages::UM_START;
using Messages::UM_STEP_PLAYED;
using Messages::UM_STOP;
using Notes = std::vector<std::pair<int, int>>;

using PlayerSteps = PlayerFixture;

TEST_F(PlayerSteps, ChordSendsOffProgramPanOnForEveryNoteOnTheSetupChannel) {
    setup.port.channel = 3;
    Step& s = chord(0, 0, IntArray{0, 4, 7}, 2);
    s.program = 5;
    s.pan = 30;
    player.playStep();
    const std::vector<ShortMessage> expected = {
        {0x92, 60, 0}, {0xC2, 5, 0}, {0xB2, 10, 30}, {0x92, 60, 79},
        {0x92, 64, 0}, {0xC2, 5, 0}, {0xB2, 10, 30}, {0x92, 64, 63},
        {0x92, 67, 0}, {0xC2, 5, 0}, {0xB2, 10, 30}, {0x92, 67, 50},
    };
    EXPECT_EQ(port.take(), expected);
}

TEST_F(PlayerSteps, ProgramMinusOneSendsNoProgramChange) {
    chord(0, 0, IntArray{0}, 2).program = -1;
    player.playStep();
    const std::vector<ShortMessage> expected = {{0x90, 60, 0}, {0xB0, 10, 64}, {0x90, 60, 79}};
    EXPECT_EQ(port.take(), expected);
}

constexpr int kMax = std::numeric_limits<int>::max();
constexpr int kMin = std::numeric_limits<int>::min();

struct VelocityCase {
    int volume;
    int velocity;
    std::vector<int> expected;
};

class VelocityChain : public PlayerFixture, public testing::WithParamInterface<VelocityCase> {};

TEST_P(VelocityChain, EachFurtherNoteIsScaledFromThePreviousOne) {
    setup.volume = static_cast<std::int16_t>(GetParam().volume);
    chord(0, 0, IntArray{0, 1, 2}, 2).velocity = static_cast<std::int16_t>(GetParam().velocity);
    player.playStep();
    // Each note sends a velocity-0 note-on, then the strike.
    const Notes sent = noteOns(port.take());
    std::vector<int> velocities;
    for (std::size_t i = 1; i < sent.size(); i += 2) {
        velocities.push_back(sent[i].second);
    }
    EXPECT_EQ(velocities, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, VelocityChain,
    testing::Values(VelocityCase{80, 100, {79, 63, 50}}, VelocityCase{100, 100, {99, 98, 97}},
                    VelocityCase{0, 100, {0, 0, 0}},
                    // A damaged setup: the chain saturates at the int range instead of
                    // overflowing it; the port keeps the low byte of each value.
                    VelocityCase{32767, 32767, {10736762 & 0xFF, kMax & 0xFF, kMax & 0xFF}},
                    VelocityCase{-32768, 32767, {-10737090 & 0xFF, kMax & 0xFF, kMin & 0xFF}}),
    [](const testing::TestParamInfo<VelocityCase>& param) {
        const auto name = [](int v) {
            return v < 0 ? "Minus" + std::to_string(-v) : std::to_string(v);
        };
        return "Volume" + name(param.param.volume) + "Velocity" + name(param.param.velocity);
    });

TEST_F(PlayerSteps, VelocityChainContinuesThroughAStepThatSendsNothing) {
    setup.mute = 1;
    chord(0, 0, IntArray{0, 1, 2}, 2);
    player.playStep();
    EXPECT_TRUE(port.take().empty());
}

TEST_F(PlayerSteps, NotesAreClampedIntoTheMidiRange) {
    chord(0, 0, IntArray{80, -70}, 2);
    player.playStep();
    const Notes expected = {{127, 0}, {127, 79}, {1, 0}, {1, 63}};
    EXPECT_EQ(noteOns(port.take()), expected);
}

TEST_F(PlayerSteps, TransposeAddsToEveryNote) {
    setup.transpose = -12;
    chord(0, 0, IntArray{0, 7}, 2);
    player.playStep();
    const Notes expected = {{48, 0}, {48, 79}, {55, 0}, {55, 63}};
    EXPECT_EQ(noteOns(port.take()), expected);
}

TEST_F(PlayerSteps, PolyphonicDurationTwoIsReleasedAtTheSecondStepAfter) {
    chord(0, 0, IntArray{5}, 2);
    player.playStep();
    port.take();
    player.playStep();  // step 1 is off: counts down to 1
    EXPECT_TRUE(port.take().empty());
    player.playStep();  // step 2: counts below 1 and releases
    const std::vector<ShortMessage> expected = {{0x90, 65, 0}};
    EXPECT_EQ(port.take(), expected);
    EXPECT_TRUE(player.soundingNotes().empty());
}

TEST_F(PlayerSteps, DurationSeventeenIsHeldAndTwentyCountsDownToSeventeen) {
    chord(0, 0, IntArray{0}, 17);
    chord(0, 1, IntArray{1}, 20);
    player.playStep();
    player.playStep();
    port.take();
    for (int i = 0; i < 10; ++i) {
        player.playStep();
    }
    EXPECT_TRUE(port.take().empty()) << "nothing is released by counting";
    const std::vector<SoundingNote> sounding = player.soundingNotes();
    ASSERT_EQ(sounding.size(), 2u);
    EXPECT_EQ(sounding[0].countdown, 17);
    EXPECT_EQ(sounding[1].countdown, 17);
}

TEST_F(PlayerSteps, DurationZeroStrikesAndReleasesAtOnceButKeepsItsRecordOneStep) {
    chord(0, 0, IntArray{0}, 0);
    player.playStep();
    const Notes struck = {{60, 0}, {60, 79}, {60, 0}};
    EXPECT_EQ(noteOns(port.take()), struck);
    ASSERT_EQ(player.soundingNotes().size(), 1u);
    player.playStep();
    const Notes released = {{60, 0}};
    EXPECT_EQ(noteOns(port.take()), released);
    EXPECT_TRUE(player.soundingNotes().empty());
}

TEST_F(PlayerSteps, NoteStruckAgainKeepsOneRecordWithTheNewCountdown) {
    chord(0, 0, IntArray{0}, 5);
    chord(0, 1, IntArray{0}, 9);
    player.playStep();
    player.playStep();
    const std::vector<SoundingNote> sounding = player.soundingNotes();
    ASSERT_EQ(sounding.size(), 1u);
    EXPECT_EQ(sounding[0].note, 0);
    EXPECT_EQ(sounding[0].countdown, 9);
}

TEST_F(PlayerSteps, SoundingRecordsAreClampedSoTheListNeverExceeds127) {
    IntArray wide;
    for (int offset = -100; offset <= 100; ++offset) {
        wide.add(offset);
    }
    chord(0, 0, wide, 17);
    player.playStep();
    EXPECT_EQ(player.soundingNotes().size(), 127u);
    EXPECT_EQ(player.soundingNotes().front().note, -59);
    EXPECT_EQ(player.soundingNotes().back().note, 67);
}

TEST_F(PlayerSteps, MonophonicOffStepLetsNotesSoundAndNextOnStepCutsThem) {
    setup.polyphonic = 0;
    chord(0, 0, IntArray{0, 4}, 30);
    chord(0, 2, IntArray{7}, 30);
    player.playStep();
    port.take();
    player.playStep();  // off
    EXPECT_TRUE(port.take().empty());
    player.playStep();
    const Notes expected = {{60, 0}, {64, 0}, {67, 0}, {67, 79}};
    EXPECT_EQ(noteOns(port.take()), expected);
    ASSERT_EQ(player.soundingNotes().size(), 1u);
    EXPECT_EQ(player.soundingNotes()[0].note, 7);
}

TEST_F(PlayerSteps, MutedStepsAdvanceAndReleaseButStrikeNothing) {
    chord(0, 0, IntArray{0}, 2);
    chord(0, 1, IntArray{3}, 2);
    player.playStep();
    port.take();
    setup.mute = 1;
    player.playStep();
    player.playStep();
    const Notes expected = {{60, 0}};
    EXPECT_EQ(noteOns(port.take()), expected);
    EXPECT_EQ(setup.port.currentStep, 3);
}

TEST_F(PlayerSteps, ReleasesUseTheChannelAtTheTimeOfRelease) {
    chord(0, 0, IntArray{0}, 1);
    player.playStep();
    port.take();
    setup.port.channel = 10;
    player.playStep();
    const std::vector<ShortMessage> expected = {{0x99, 60, 0}};
    EXPECT_EQ(port.take(), expected);
}

TEST_F(PlayerSteps, RepeatsThenNextChainsMeasures) {
    setup.stepsPerMeasure = 2;
    setup.measures[0].next = 1;
    setup.measures[0].repeats = 2;
    setup.measures[1].next = 0;
    setup.measures[1].repeats = 1;
    std::vector<int> played;
    for (int i = 0; i < 12; ++i) {
        played.push_back(setup.playingMeasure);
        player.playStep();
    }
    const std::vector<int> expected = {0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1};
    EXPECT_EQ(played, expected);
}

TEST_F(PlayerSteps, EachPassPostsMeasurePlayingAndEveryStepPostsStepPlayed) {
    setup.stepsPerMeasure = 4;
    for (int i = 0; i < 8; ++i) {
        player.playStep();
    }
    EXPECT_EQ(host.countPosted(UM_STEP_PLAYED), 8);
    EXPECT_EQ(host.countPosted(UM_MEASURE_PLAYING), 2);
}

TEST_F(PlayerSteps, LoweringStepsPerMeasureBelowTheCurrentStepWrapsAtOnce) {
    for (int i = 0; i < 10; ++i) {
        player.playStep();
    }
    ASSERT_EQ(setup.port.currentStep, 10);
    setup.stepsPerMeasure = 4;
    player.playStep();
    EXPECT_EQ(setup.port.currentStep, 0);
}

TEST_F(PlayerSteps, OutOfRangeNextAndPlayingMeasureNeverIndexOutsideTheSetup) {
    setup.stepsPerMeasure = 1;
    setup.measures[0].next = 99;
    player.playStep();
    EXPECT_EQ(setup.playingMeasure, 7);
    setup.playingMeasure = -5;
    setup.measures[0].next = -3;
    player.playStep();
    EXPECT_EQ(setup.playingMeasure, 0);
}

TEST_F(PlayerSteps, StatusTextListsSoundingNotesAndIsPostedNotShown) {
    chord(0, 0, IntArray{0, 4}, 3);
    player.playStep();
    EXPECT_EQ(player.statusText(), "0:3  4:3  ");
    EXPECT_TRUE(host.statusShown.empty()) << "the clock thread must not touch the window";
    EXPECT_GE(host.countPosted(Messages::UM_STATUS_CHANGED), 1);
    player.handleMessage(Messages::UM_STATUS_CHANGED, 0, 0);
    ASSERT_EQ(host.statusShown.size(), 1u);
    EXPECT_EQ(host.statusShown[0], "0:3  4:3  ");
    player.playStep();
    EXPECT_EQ(player.statusText(), "0:2  4:2  ");
}

TEST_F(PlayerSteps, KillAllSoundSendsAllNotesOffOnEveryChannelAndKeepsTheList) {
    chord(0, 0, IntArray{0}, 17);
    player.playStep();
    port.take();
    player.killAllSound();
    std::vector<ShortMessage> expected;
    for (int status = 0xB0; status <= 0xBF; ++status) {
        expected.push_back({status, 123, 0});
    }
    EXPECT_EQ(port.take(), expected);
    EXPECT_EQ(player.soundingNotes().size(), 1u);
}

using PlayerControl = PlayerFixture;

TEST_F(PlayerControl, InitListsPortsAndAsksEveryInstanceToReopen) {
    ::Setup other;
    RecordingPort otherPort;
    RecordingHost otherHost;
    ManualTimer otherTimer;
    Player fresh;
    fresh.init(otherHost, other, otherTimer, otherPort);
    EXPECT_EQ(otherPort.enumerations, 1);
    EXPECT_EQ(other.cpuCyclesPerMs, 2395000);
    EXPECT_FALSE(otherTimer.active);
    ASSERT_EQ(otherHost.broadcasts.size(), 1u);
    EXPECT_EQ(otherHost.broadcasts[0].message, Messages::UM_REOPEN_PORT);
}

TEST_F(PlayerControl, PeriodAt126BpmIsOneSixteenth) {
    // 15000 / bpm to within a few parts in 10^8 (single-precision constants).
    for (const double bpm : {126.0, 120.0, 60.0, 0.5, 10'000'000.0}) {
        const double exact = 15000.0 / bpm;
        EXPECT_NEAR(Player::periodForBpm(bpm), exact, exact * 1e-7) << bpm;
    }
    EXPECT_NEAR(Player::periodForBpm(126.0), 119.0476, 1e-4);
}

TEST_F(PlayerControl, StartPlaysTheSelectedMeasureAtOnceAndBroadcasts) {
    setup.selectedMeasure = 2;
    chord(2, 0, IntArray{0}, 4);
    timer.now = 5000;
    player.start();
    EXPECT_TRUE(player.isRunning());
    EXPECT_TRUE(timer.active);
    EXPECT_EQ(setup.playingMeasure, 2);
    EXPECT_EQ(setup.repeatCount, 1);
    EXPECT_EQ(setup.port.currentStep, 1);
    EXPECT_EQ(noteOns(port.take()).size(), 2u);
    const std::vector<PostedMessage> posted = host.takePosted();
    EXPECT_NE(std::find(posted.begin(), posted.end(), PostedMessage{UM_MEASURE_PLAYING, 2, 2}),
              posted.end());
    ASSERT_EQ(host.broadcasts.size(), 1u);
    EXPECT_EQ(host.broadcasts[0].message, UM_START);
    EXPECT_EQ(player.nextDueUs(), 5000 + 119048);
}

TEST_F(PlayerControl, StopSendsOneAllNotesOffAndForgetsTheSoundingNotes) {
    setup.port.channel = 4;
    chord(0, 0, IntArray{0, 3}, 17);
    player.start();
    port.take();
    player.stop();
    const std::vector<ShortMessage> expected = {{0xB3, 123, 0}};
    EXPECT_EQ(port.take(), expected);
    EXPECT_FALSE(player.isRunning());
    EXPECT_FALSE(timer.active);
    EXPECT_EQ(setup.port.currentStep, 0);
    EXPECT_TRUE(player.soundingNotes().empty());
    EXPECT_EQ(host.playReleasedCount, 1);
    const std::vector<PostedMessage> posted = host.takePosted();
    EXPECT_EQ(posted.back(), (PostedMessage{UM_MEASURE_PLAYING, 0, -1}));
}

TEST_F(PlayerControl, ToggleBroadcastsUnlessCtrlIsHeld) {
    player.toggle();
    ASSERT_EQ(host.broadcasts.size(), 2u);  // from start and from toggle
    EXPECT_EQ(host.broadcasts[1].message, UM_START);
    host.broadcasts.clear();
    player.toggle();
    ASSERT_EQ(host.broadcasts.size(), 1u);
    EXPECT_EQ(host.broadcasts[0].message, UM_STOP);
    host.broadcasts.clear();

    player.toggle(true);
    EXPECT_TRUE(player.isRunning());
    player.toggle();  // begun alone, ends alone
    EXPECT_FALSE(player.isRunning());
    EXPECT_TRUE(host.broadcasts.empty());
}

TEST_F(PlayerControl, InstanceRequestsAreIgnoredInTheStateAlreadyReached) {
    player.handleMessage(UM_STOP, 0, 0);
    EXPECT_EQ(timer.stops, 1) << "only the start/stop of init";
    player.handleMessage(UM_START, 0, 0);
    player.handleMessage(UM_START, 0, 0);
    EXPECT_EQ(timer.starts, 2);
    player.handleMessage(UM_STOP, 0, 0);
    EXPECT_FALSE(player.isRunning());
}

TEST_F(PlayerControl, MeasurePlayingMessagesMarkTheLoopSelector) {
    player.handleMessage(UM_MEASURE_PLAYING, 3, 0);
    player.handleMessage(UM_MEASURE_PLAYING, 3, -1);
    const std::vector<int> expected = {3, -1};
    EXPECT_EQ(host.playingMarks, expected);
}

TEST_F(PlayerControl, PortMessagesGoToTheOutputPort) {
    player.handleMessage(Messages::UM_PORT_BUSY, 0, 1);
    player.handleMessage(Messages::UM_PORT_HANDLE, 1, 1);
    player.handleMessage(Messages::UM_SHARE_COUNT, 2, 1);
    player.handleMessage(Messages::UM_REOPEN_PORT, 0, 0);
    player.handleMessage(12345, 0, 0);
    const std::vector<int> expected = {Messages::UM_PORT_BUSY, Messages::UM_PORT_HANDLE,
                                       Messages::UM_SHARE_COUNT, Messages::UM_REOPEN_PORT};
    EXPECT_EQ(port.portMessages, expected);
}

TEST_F(PlayerControl, SelectingAMeasureWhilePlayingSwitchesUnlessCtrlIsHeld) {
    player.start();
    setup.repeatCount = 1;
    setup.selectedMeasure = 4;
    player.onMeasureSelected(4, true);
    EXPECT_EQ(setup.playingMeasure, 0);
    player.onMeasureSelected(4);
    EXPECT_EQ(setup.playingMeasure, 4);
    EXPECT_EQ(setup.repeatCount, 0);
    EXPECT_EQ(host.playingMarks.back(), 4);
}

TEST_F(PlayerControl, JumpChangesOnlyThePlayingMeasureAndOnlyWhilePlaying) {
    player.jumpToMeasure(5);
    EXPECT_EQ(setup.playingMeasure, 0);
    player.start();
    player.jumpToMeasure(5);
    EXPECT_EQ(setup.playingMeasure, 5);
    EXPECT_EQ(setup.selectedMeasure, 0);
    EXPECT_EQ(setup.repeatCount, 0);
}

TEST_F(PlayerControl, PositionDisplayLightsTheStepJustPlayed) {
    setup.stepsPerMeasure = 3;
    player.start();  // lights the last column before the first step (nothing played yet)
    player.handleMessage(UM_STEP_PLAYED, 0, 0);
    player.playStep();
    player.handleMessage(UM_STEP_PLAYED, 0, 0);
    player.playStep();  // wraps
    player.handleMessage(UM_STEP_PLAYED, 0, 0);
    const std::vector<std::pair<int, bool>> expected = {
        {2, true}, {2, false}, {0, true}, {0, false}, {1, true}, {1, false}, {2, true}};
    EXPECT_EQ(host.litChanges, expected);
    player.stop();
    EXPECT_EQ(host.litChanges.back(), (std::pair<int, bool>{2, false}));
}

TEST_F(PlayerControl, AStepPlayedNewsHandledAfterStopLightsNothing) {
    player.start();
    player.playStep();
    player.stop();
    host.litChanges.clear();
    player.handleMessage(UM_STEP_PLAYED, 0, 0);
    EXPECT_TRUE(host.litChanges.empty());
}

TEST_F(PlayerControl, PositionDisplayMovesEverySecondStepAt3000Bpm) {
    setup.bpm = 3000.0;
    player.start();  // its own display update is the first of each pair
    for (int i = 0; i < 6; ++i) {
        player.playStep();
        player.handleMessage(UM_STEP_PLAYED, 0, 0);
    }
    int lights = 0;
    for (const auto& change : host.litChanges) {
        lights += change.second ? 1 : 0;
    }
    EXPECT_EQ(lights, 3);
}

}  // namespace
