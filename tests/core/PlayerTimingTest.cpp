#include <cstdint>
#include <limits>

#include "PlayerFixture.h"
#include "core/StepTimeline.h"

namespace {

// The schedule, driven with a virtual clock: a tick is a call to Player::tick at a chosen time.
class PlayerSchedule : public PlayerFixture {
protected:
    // Ticks once per microsecond-exact due time and records when each step played.
    std::vector<std::int64_t> runSteps(int count) {
        std::vector<std::int64_t> playedAt;
        while (static_cast<int>(playedAt.size()) < count) {
            const std::int64_t due = player.nextDueUs();
            EXPECT_NE(due, std::numeric_limits<std::int64_t>::max());
            EXPECT_FALSE(player.tick(due - 1)) << "a tick before the due time plays nothing";
            timer.now = due;
            EXPECT_TRUE(player.tick(due));
            playedAt.push_back(due);
        }
        return playedAt;
    }
};

TEST_F(PlayerSchedule, StepsAt126BpmFollowTheAbsoluteSchedule) {
    timer.now = 1'000'000;
    player.start();
    const std::vector<std::int64_t> at = runSteps(3);
    EXPECT_EQ(at[0] - 1'000'000, 119'048);
    EXPECT_EQ(at[1] - 1'000'000, 238'096);
    EXPECT_EQ(at[2] - 1'000'000, 357'143);
}

TEST_F(PlayerSchedule, TheScheduleDoesNotDriftOverALongRun) {
    timer.now = 0;
    player.start();
    const std::vector<std::int64_t> at = runSteps(10'000);
    // Step k is due at k x period from the start, never the sum of rounded periods.
    const double ideal = 10'000 * Player::periodForBpm(126.0) * 1000.0;
    EXPECT_NEAR(static_cast<double>(at.back()), ideal, 1.0);
}

TEST_F(PlayerSchedule, LateTicksPlayOneStepEachUntilCaughtUp) {
    timer.now = 0;
    player.start();
    // Wake up half a second late: four steps are overdue, one plays per tick.
    const std::int64_t late = 500'000;
    EXPECT_TRUE(player.tick(late));
    EXPECT_TRUE(player.tick(late + 1000));
    EXPECT_TRUE(player.tick(late + 2000));
    EXPECT_TRUE(player.tick(late + 3000));
    EXPECT_FALSE(player.tick(late + 4000));
    EXPECT_EQ(player.nextDueUs(), 595'239) << "the fifth step keeps its place in the schedule";
}

TEST_F(PlayerSchedule, TempoChangeTakesEffectOneNewPeriodAfterThePreviousStep) {
    setup.bpm = 120.0;
    timer.now = 0;
    player.start();
    runSteps(2);  // steps at 125 and 250 ms
    setup.bpm = 60.0;
    player.onTempoChanged();
    EXPECT_EQ(timer.wakes, 1);
    const std::vector<std::int64_t> at = runSteps(3);
    EXPECT_EQ(at[0], 250'000 + 250'000);
    EXPECT_EQ(at[1], 750'000);
    EXPECT_EQ(at[2], 1'000'000);
    EXPECT_NEAR(player.period(), 250.0, 250.0 * 1e-7);
}

TEST_F(PlayerSchedule, TempoChangePlayedLateDoesNotShiftLaterSteps) {
    setup.bpm = 120.0;
    timer.now = 0;
    player.start();
    setup.bpm = 60.0;
    player.onTempoChanged();
    // Due at 250 ms; the tick comes 30 ms late.
    EXPECT_TRUE(player.tick(280'000));
    EXPECT_EQ(player.nextDueUs(), 500'000);
}

TEST_F(PlayerSchedule, TempoChangeWhileStoppedIsIgnored) {
    setup.bpm = 60.0;
    player.onTempoChanged();
    EXPECT_EQ(timer.wakes, 0);
    EXPECT_EQ(player.nextDueUs(), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(player.tick(1'000'000'000));
}

TEST_F(PlayerSchedule, StopClearsAPendingTempoChangeAndStartRunsAtTheCurrentTempo) {
    setup.bpm = 120.0;
    timer.now = 0;
    player.start();
    setup.bpm = 60.0;
    player.onTempoChanged();  // pending until the step being played ends
    player.stop();
    setup.bpm = 200.0;
    player.onTempoChanged();  // stopped: ignored
    timer.now = 10'000'000;
    player.start();
    const std::vector<std::int64_t> at = runSteps(2);
    EXPECT_EQ(at[0] - 10'000'000, 75'000);
    EXPECT_EQ(at[1] - 10'000'000, 150'000);
}

TEST_F(PlayerSchedule, AStoppedPlayerIgnoresATickThatWasAlreadyOnItsWay) {
    player.start();
    player.stop();
    port.take();
    EXPECT_FALSE(player.tick(10'000'000));
    EXPECT_TRUE(port.take().empty());
}

TEST_F(PlayerSchedule, PeriodsBelowOneMillisecondStillPlayOneStepPerTick) {
    setup.bpm = 60000.0;  // 0.25 ms per step
    timer.now = 0;
    player.start();
    EXPECT_TRUE(player.tick(1000));
    EXPECT_TRUE(player.tick(1000));
    EXPECT_TRUE(player.tick(1000));
    EXPECT_TRUE(player.tick(1000));
    EXPECT_FALSE(player.tick(1000));
}

TEST_F(PlayerSchedule, ZeroOrNegativeTempoNeverSchedulesAStep) {
    setup.bpm = 0.0;
    player.start();
    EXPECT_EQ(player.nextDueUs(), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(player.tick(std::numeric_limits<std::int64_t>::max() / 2));
    player.stop();
    setup.bpm = -10.0;
    player.start();
    EXPECT_EQ(player.nextDueUs(), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(player.tick(1'000'000'000));
}

// A shared clock's grid in miniature: steps on multiples of 100 ms, step 0 on the next whole
// second after the start; records how it was started and stopped.
class GridTimeline : public StepTimeline {
public:
    std::int64_t begin(std::int64_t nowUs, double, bool alone) override {
        startedAlone.push_back(alone);
        firstUs = (nowUs / 1'000'000 + 1) * 1'000'000;
        return firstUs;
    }
    void end(bool alone) override { endedAlone.push_back(alone); }
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double) override {
        // The step after lastStep lands on the first grid point after lastDueUs.
        firstUs = (lastDueUs / 100'000 + 1) * 100'000 - (lastStep + 1) * 100'000;
    }
    void retime(std::int64_t, double) override {}
    std::int64_t dueUs(std::int64_t step) override { return firstUs + step * 100'000; }

    std::int64_t firstUs = 0;
    std::vector<bool> startedAlone;
    std::vector<bool> endedAlone;
};

TEST_F(PlayerSchedule, AStartOnATimelineThatWaitsPlaysStepZeroOnlyWhenDue) {
    GridTimeline grid;
    player.setTimeline(&grid);
    chord(0, 0, IntArray{0}, 1);
    timer.now = 2'300'000;
    player.start();
    EXPECT_TRUE(port.take().empty()) << "nothing sounds before the bar";
    EXPECT_EQ(player.nextDueUs(), 3'000'000);
    EXPECT_FALSE(player.tick(2'999'999));
    EXPECT_TRUE(player.tick(3'000'000));
    EXPECT_EQ(noteOns(port.take()).size(), 2u) << "the step's note, struck at the bar";
    EXPECT_EQ(setup.repeatCount, 1) << "step 0 at the bar counts the first pass";
    EXPECT_EQ(setup.port.currentStep, 1);
    EXPECT_EQ(player.nextDueUs(), 3'100'000);
    player.stop(true);
    EXPECT_EQ(grid.startedAlone, std::vector<bool>{false});
    EXPECT_EQ(grid.endedAlone, std::vector<bool>{true});
}

TEST_F(PlayerSchedule, SwitchingTimelinesMidPlayGoesOnFromTheLastStep) {
    setup.bpm = 120.0;  // 125 ms steps
    timer.now = 0;
    player.start();
    runSteps(2);  // steps 1 and 2 at 125 and 250 ms
    GridTimeline grid;
    player.setTimeline(&grid);
    EXPECT_EQ(player.nextDueUs(), 300'000) << "the next grid point after the last step";
    timer.now = 300'000;
    EXPECT_TRUE(player.tick(300'000));
    player.setTimeline(nullptr);
    EXPECT_EQ(player.nextDueUs(), 425'000) << "one local period after the last grid step";
    player.stop();
    EXPECT_TRUE(grid.endedAlone.empty()) << "a timeline left before the stop is not stopped";
}

// MIDI clock: Start with step 0, six Timing Clocks per step at exact sixths of its span, each
// handed over with its lateness against its own due time, and Stop before the All Notes Off.
TEST_F(PlayerSchedule, MidiClockTicksOnSixthsOfEachStepBetweenStartAndStop) {
    setup.bpm = 120.0;  // 125 ms steps
    player.setMidiClock(true);
    timer.now = 1'000'000;
    player.start();
    std::vector<ShortMessage> sent = port.take();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].status, 0xFA);
    EXPECT_EQ(sent[1].status, 0xF8) << "the first tick with the first step";
    std::vector<std::int64_t> tickedAt{timer.now};
    while (tickedAt.size() < 13) {
        timer.now = player.nextDueUs();
        player.tick(timer.now);
        for (const ShortMessage& m : port.take()) {
            if (m.status == 0xF8) {
                tickedAt.push_back(timer.now);
            }
        }
    }
    for (std::size_t i = 0; i < tickedAt.size(); ++i) {
        const auto ideal = 1'000'000 + static_cast<std::int64_t>(i) * 125'000 / 6;
        EXPECT_EQ(tickedAt[i], ideal) << "tick " << i;
    }
    player.stop();
    sent = port.take();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].status, 0xFC);
    EXPECT_EQ(sent[1], (ShortMessage{0xB0, 123, 0}));
    player.stop();
    EXPECT_EQ(port.take().size(), 1u) << "a second stop sends no second Stop";
}

TEST_F(PlayerSchedule, ALateWakeUpSendsTheMissedTicksBeforeTheStepThatIsDue) {
    setup.bpm = 120.0;
    chord(0, 1, IntArray{0}, 1);
    player.setMidiClock(true);
    timer.now = 0;
    player.start();
    port.take();
    timer.now = 130'000;  // 5 ms after step 1 was due; none of step 0's later ticks was sent
    EXPECT_TRUE(player.tick(timer.now));
    const std::vector<std::int64_t> lateness = port.lateness;
    const std::vector<ShortMessage> sent = port.take();
    ASSERT_GE(sent.size(), 7u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(sent[static_cast<std::size_t>(i)].status, 0xF8);
        EXPECT_EQ(lateness[static_cast<std::size_t>(i)], 130'000 - (i + 1) * 125'000 / 6)
            << "tick " << i + 1 << " keeps its own due time";
    }
    EXPECT_EQ(lateness.back(), 5'000) << "the step's messages are due with the step";
    EXPECT_EQ(player.nextDueUs(), 125'000 + 125'000 / 6);
}

TEST_F(PlayerSchedule, MidiClockTurnedOnMidPassWaitsForTheNextStartAndOffSendsStop) {
    timer.now = 0;
    player.start();
    player.setMidiClock(true);
    timer.now = player.nextDueUs();
    player.tick(timer.now);
    for (const ShortMessage& m : port.take()) {
        EXPECT_LT(m.status, 0xF8) << "no clock without its Start";
    }
    player.stop();
    EXPECT_EQ(port.take(), std::vector<ShortMessage>{(ShortMessage{0xB0, 123, 0})});
    player.start();
    EXPECT_EQ(port.take().front().status, 0xFA);
    player.setMidiClock(false);
    EXPECT_EQ(port.take(), std::vector<ShortMessage>{(ShortMessage{0xFC, 0, 0})});
}

// The grid as a shared clock: late steps are skipped, steps go out early by the port's
// latency, and the song position and jumps are the clock's.
class SharedGrid : public GridTimeline {
public:
    bool sharedClock() const override { return true; }
    std::int64_t songPosition(std::int64_t step) override { return firstSixteenth + step; }
    int stepInMeasure(std::int64_t step, int) override {
        return step == placedStep ? placedAt : -1;
    }

    std::int64_t firstSixteenth = 0;
    std::int64_t placedStep = -1;
    int placedAt = 0;
};

std::vector<int> statuses(const std::vector<ShortMessage>& sent) {
    std::vector<int> result;
    for (const ShortMessage& m : sent) {
        result.push_back(m.status);
    }
    return result;
}

TEST_F(PlayerSchedule, ASharedClockSkipsLateStepsAndGoesOnAtItsPhaseWithoutABurst) {
    SharedGrid grid;
    player.setTimeline(&grid);
    player.setMidiClock(true);
    for (int i = 0; i < 16; ++i) {
        chord(0, i, IntArray{i}, 1);
    }
    timer.now = 2'300'000;
    player.start();
    EXPECT_TRUE(player.tick(3'000'000));
    port.take();
    // Woken 450 ms late (or the clock's phase jumped ahead): steps 1 to 5 are past.
    EXPECT_FALSE(player.tick(3'550'000)) << "nothing late is played";
    for (const auto& [note, velocity] : noteOns(port.take())) {
        EXPECT_EQ(velocity, 0) << "note " << note << " struck late";
    }
    EXPECT_EQ(setup.port.currentStep, 6) << "the measure moved on with the clock";
    EXPECT_EQ(player.nextDueUs(), 3'600'000);
    EXPECT_TRUE(player.tick(3'600'000));
    const std::vector<ShortMessage> sent = port.take();
    // Followers are told where the pass went on: Stop, Song Position 6, Continue, then the tick.
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(statuses({sent.begin(), sent.begin() + 4}),
              (std::vector<int>{0xFC, 0xF2, 0xFB, 0xF8}));
    EXPECT_EQ(sent[1].data1, 6);
    EXPECT_EQ(noteOns(sent).back().first, 66) << "step 6 plays its own note";
}

TEST_F(PlayerSchedule, ASharedClockHandsStepsOverEarlyByThePortsLatencyAndTheOwnScheduleDoesNot) {
    port.latencyUs = 7'000;
    GridTimeline own;
    player.setTimeline(&own);
    timer.now = 2'300'000;
    player.start();
    EXPECT_EQ(player.nextDueUs(), 3'000'000);
    player.stop();
    SharedGrid shared;
    player.setTimeline(&shared);
    player.start();
    EXPECT_EQ(player.nextDueUs(), 2'993'000);
    EXPECT_TRUE(player.tick(2'993'000));
    EXPECT_EQ(player.nextDueUs(), 3'093'000);
}

// A grid whose ticks are heard ahead of their times, as a followed clock's on a JACK input.
class HeardGrid : public GridTimeline {
public:
    bool tickSettled(std::int64_t tick) override { return tick <= lastHeardTick; }
    std::int64_t lastHeardTick = -1;
};

TEST_F(PlayerSchedule, AStepOnATickHeardAheadGoesToAPortThatPlacesInTimeAtOnceOnItsDueTime) {
    chord(0, 0, IntArray{0}, 1);
    chord(0, 1, IntArray{1}, 1);
    HeardGrid grid;
    player.setTimeline(&grid);
    timer.now = 2'300'000;
    player.start();
    port.take();
    port.latencyUs = 7'000;
    EXPECT_EQ(player.nextDueUs(), 3'000'000) << "an unheard tick waits for its time";
    EXPECT_FALSE(player.tick(2'996'000));
    grid.lastHeardTick = 0;
    EXPECT_EQ(player.nextDueUs(), 2'983'000) << "the latency and a margin ahead";
    timer.now = 2'996'000;
    EXPECT_TRUE(player.tick(timer.now));
    ASSERT_FALSE(port.lateness.empty());
    for (const std::int64_t lateUs : port.lateness) {
        EXPECT_EQ(lateUs, -4'000) << "placed on its due time, not when handed over";
    }
    EXPECT_FALSE(player.tick(3'096'000)) << "the next step's tick is not heard yet";
    port.latencyUs = 0;
    grid.lastHeardTick = 6;
    EXPECT_FALSE(player.tick(3'096'000)) << "a port that sends at once gets it on time only";
    EXPECT_TRUE(player.tick(3'100'000));
}

TEST_F(PlayerSchedule, APassBegunMidSongAndARelocationTellClockFollowersTheSongPosition) {
    SharedGrid grid;
    grid.firstSixteenth = 200;  // bar 13, as a transport might stand
    grid.placedStep = 0;
    player.setTimeline(&grid);
    player.setMidiClock(true);
    timer.now = 2'300'000;
    player.start();
    player.tick(3'000'000);
    std::vector<ShortMessage> sent = port.take();
    EXPECT_EQ(statuses({sent.begin(), sent.begin() + 3}), (std::vector<int>{0xF2, 0xFB, 0xF8}));
    EXPECT_EQ(sent[0].data1 + 128 * sent[0].data2, 200);
    // The transport is moved while rolling: step 2 lands elsewhere.
    grid.placedStep = 2;
    grid.firstSixteenth = 1000;
    player.tick(3'100'000);
    port.take();
    player.tick(3'200'000);
    sent = port.take();
    EXPECT_EQ(statuses({sent.begin(), sent.begin() + 4}),
              (std::vector<int>{0xFC, 0xF2, 0xFB, 0xF8}));
    EXPECT_EQ(sent[1].data1 + 128 * sent[1].data2, 1002);
}

TEST_F(PlayerSchedule, LeavingAPortSendsStopBeforeAllNotesOffAndTheNextPortHearsWhereThePassIs) {
    setup.bpm = 120.0;
    player.setMidiClock(true);
    timer.now = 0;
    player.start();
    // Steps 0 to 2 with their clock ticks.
    while (setup.port.currentStep != 3) {
        timer.now = player.nextDueUs();
        player.tick(timer.now);
    }
    port.take();
    {
        std::lock_guard guard(player.engineLock());
        player.silencePortLocked();
    }
    const std::vector<ShortMessage> silenced = port.take();
    ASSERT_EQ(silenced.size(), 17u);
    EXPECT_EQ(silenced.front().status, 0xFC);
    EXPECT_EQ(silenced.back(), (ShortMessage{0xBF, 123, 0}));
    while (setup.port.currentStep != 4) {
        timer.now = player.nextDueUs();
        player.tick(timer.now);
    }
    const std::vector<ShortMessage> next = port.take();
    EXPECT_EQ(statuses({next.begin(), next.begin() + 3}), (std::vector<int>{0xF2, 0xFB, 0xF8}));
    EXPECT_EQ(next[0].data1, 3);
}

}  // namespace
