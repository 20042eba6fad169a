#include <cstdint>
#include <vector>

#include "PlayerFixture.h"
#include "midi/ClockSchedule.h"

namespace {

// The clock thread's loop in virtual time: the real schedule and the real Player, with the
// thread's sleep replaced by setting the time to the firing time plus a chosen lateness.
class VirtualClock : public PlayerFixture {
protected:
    void startAt(std::int64_t us) {
        timer.now = us;
        player.start();
        schedule.restart(us);
        playedAt.push_back(us);
    }

    // Fires until count more steps have played; lateUs(k) is how late the wake-up before the
    // k-th of them comes.
    template <typename Lateness>
    void runSteps(int count, Lateness lateUs) {
        for (int played = 0; played < count;) {
            const std::int64_t fireAt = schedule.nextFireUs(player.nextDueUs());
            ASSERT_NE(fireAt, ClockSchedule::kNever);
            ASSERT_GE(fireAt, timer.now) << "the schedule never asks to fire in the past";
            timer.now = fireAt + lateUs(played);
            const bool stepPlayed = player.tick(timer.now);
            schedule.fired(timer.now, stepPlayed);
            ++firings;
            if (stepPlayed) {
                playedAt.push_back(timer.now);
                ++played;
            }
        }
    }
    void runSteps(int count) {
        runSteps(count, [](int) { return std::int64_t{0}; });
    }

    std::int64_t idealUs(int k, double bpm) const {
        return static_cast<std::int64_t>(k * Player::periodForBpm(bpm) * 1000.0);
    }

    ClockSchedule schedule{1000};
    std::vector<std::int64_t> playedAt;
    int firings = 0;
};

TEST_F(VirtualClock, At126BpmStepsFireAtTheirDueTimesAndOnlyThen) {
    startAt(0);
    runSteps(3);
    ASSERT_EQ(playedAt.size(), 4u);
    EXPECT_EQ(playedAt[0], 0);
    EXPECT_EQ(playedAt[1], 119'048);  // 119.05 ms
    EXPECT_EQ(playedAt[2], 238'096);  // 238.10 ms
    EXPECT_EQ(playedAt[3], 357'143);  // 357.14 ms
    EXPECT_EQ(firings, 3) << "no firing between two steps";
}

TEST_F(VirtualClock, WakeUpLatenessNeverAccumulates) {
    startAt(5'000'000);
    // Up to 900 us late on every wake-up, in a pattern that does not repeat with the steps.
    runSteps(2000, [](int k) { return std::int64_t{(k * 7919) % 900}; });
    for (std::size_t k = 0; k < playedAt.size(); ++k) {
        const std::int64_t ideal = 5'000'000 + idealUs(static_cast<int>(k), 126.0);
        const std::int64_t error = playedAt[k] - ideal;
        ASSERT_GE(error, 0) << "step " << k << " played early";
        ASSERT_LE(error, 901) << "step " << k << " carries earlier lateness";
    }
}

TEST_F(VirtualClock, ALateWakeUpPlaysOneStepThenCatchesUpOnePerMillisecond) {
    startAt(0);
    runSteps(2);
    // A host stall: the wake-up for step 3 comes 500 ms late; steps 4 to 7 fall due meanwhile.
    runSteps(1, [](int) { return std::int64_t{500'000}; });
    const std::int64_t stalledAt = playedAt.back();
    EXPECT_EQ(stalledAt, 357'143 + 500'000);
    runSteps(4);
    for (std::size_t k = 4; k <= 7; ++k) {
        EXPECT_EQ(playedAt[k], stalledAt + 1000 * static_cast<std::int64_t>(k - 3)) << "step " << k;
    }
    // Caught up: step 8 is back at its own place in the schedule.
    runSteps(1);
    EXPECT_EQ(playedAt[8], 952'381);
    EXPECT_EQ(firings, 8);
}

TEST_F(VirtualClock, PeriodsBelowOneMillisecondGiveOneStepPerMillisecond) {
    setup.bpm = 30'000.0;  // 0.5 ms per step
    startAt(0);
    runSteps(10);
    for (std::size_t k = 1; k < playedAt.size(); ++k) {
        EXPECT_EQ(playedAt[k] - playedAt[k - 1], 1000) << "step " << k;
    }
}

TEST_F(VirtualClock, ALongerCallbackPeriodSpacesStepsFurther) {
    schedule.setSpacingUs(5000);
    setup.bpm = 6000.0;  // 2.5 ms per step
    startAt(0);
    runSteps(3);
    EXPECT_EQ(playedAt[1], 5000);
    EXPECT_EQ(playedAt[2], 10000);
    EXPECT_EQ(playedAt[3], 15000);
}

TEST_F(VirtualClock, TempoChangeFrom120To60PutsEachNextStep250MsAfterThePrevious) {
    setup.bpm = 120.0;
    startAt(0);
    runSteps(2);
    EXPECT_EQ(playedAt[2], 250'000);
    timer.now = 300'000;
    setup.bpm = 60.0;
    player.onTempoChanged();
    EXPECT_EQ(timer.wakes, 1) << "the clock is told to re-read its deadline";
    runSteps(3);
    EXPECT_EQ(playedAt[3], 500'000);
    EXPECT_EQ(playedAt[4], 750'000);
    EXPECT_EQ(playedAt[5], 1'000'000);
}

TEST_F(VirtualClock, ATempoChangeSeenLateStillRestartsFromTheStepsDueTime) {
    setup.bpm = 120.0;
    startAt(0);
    setup.bpm = 60.0;
    player.onTempoChanged();
    // The step after the change is due at 250 ms; the wake-up comes 40 ms late.
    runSteps(1, [](int) { return std::int64_t{40'000}; });
    EXPECT_EQ(playedAt[1], 290'000);
    runSteps(2);
    EXPECT_EQ(playedAt[2], 500'000);
    EXPECT_EQ(playedAt[3], 750'000);
}

TEST_F(VirtualClock, StoppedEngineGivesNoFiringTime) {
    startAt(0);
    player.stop();
    EXPECT_EQ(schedule.nextFireUs(player.nextDueUs()), ClockSchedule::kNever);
}

TEST_F(VirtualClock, ARestartAllowsTheNextStepOnlyOnePeriodAfterTheStart) {
    setup.bpm = 30'000.0;
    startAt(0);
    runSteps(3);
    player.stop();
    startAt(10'000);
    runSteps(1);
    EXPECT_EQ(playedAt.back(), 11'000) << "the start played a step: the next waits 1 ms";
}

TEST(ClockSchedule, AFiringThatPlayedNothingIsRetriedSoonNotAPeriodLater) {
    ClockSchedule schedule(1000);
    schedule.restart(0);
    schedule.fired(5000, false);
    EXPECT_EQ(schedule.nextFireUs(4000), 5000 + ClockSchedule::kRetryUs);
    schedule.fired(6000, true);
    EXPECT_EQ(schedule.nextFireUs(4000), 7000);
    EXPECT_EQ(schedule.nextFireUs(9000), 9000);
}

}  // namespace
