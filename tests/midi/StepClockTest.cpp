#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "EngineDoubles.h"
#include "core/Messages.h"
#include "core/Player.h"
#include "core/Setup.h"
#include "midi/ClockCalibration.h"
#include "midi/StepClock.h"

namespace {

using namespace std::chrono_literals;

StepClock::Options quickOptions() {
    StepClock::Options options;
    options.calibrationMs = 5;
    return options;
}

// CLOCK_MONOTONIC in microseconds, for bracketing a reading of the clock.
std::int64_t monotonicUs() {
    return ClockCalibration::monotonicNs() / 1000;
}

TEST(StepClockTimeBase, WithoutCalibrationTheMonotonicClockIsUsed) {
    StepClock::Options options = quickOptions();
    options.calibrationMs = 0;
    StepClock clock(options);
    EXPECT_EQ(clock.cyclesPerMs(), 0);
    EXPECT_TRUE(clock.useTsc()) << "the preference stays as set";
    EXPECT_FALSE(clock.usingTsc()) << "0 cycles per ms must not be divided by";
    const std::int64_t before = monotonicUs();
    const std::int64_t now = clock.nowUs();
    const std::int64_t after = monotonicUs();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    const std::int64_t beforeMs = ClockCalibration::monotonicNs() / 1'000'000;
    const std::int64_t nowMs = clock.nowMs();
    EXPECT_LE(beforeMs, nowMs);
    EXPECT_LE(nowMs, ClockCalibration::monotonicNs() / 1'000'000);
}

TEST(StepClockTimeBase, UseTscOffRunsOnTheMonotonicClock) {
    StepClock clock(quickOptions());
    clock.setUseTsc(false);
    EXPECT_FALSE(clock.useTsc());
    EXPECT_FALSE(clock.usingTsc());
    const std::int64_t before = monotonicUs();
    const std::int64_t now = clock.nowUs();
    EXPECT_LE(before, now);
    EXPECT_LE(now, monotonicUs());
    EXPECT_EQ(clock.counterFrequency(), 1'000'000'000);
}

class StepClockCounter : public testing::Test {
protected:
    void SetUp() override {
        if (!ClockCalibration::tscPresent()) {
            GTEST_SKIP() << "no time-stamp counter";
        }
        clock.finishCalibration();
    }
    StepClock clock{quickOptions()};
};

TEST_F(StepClockCounter, CalibratesToWholeThousandsAndUsesTheCounterByDefault) {
    ASSERT_GT(clock.cyclesPerMs(), 0);
    EXPECT_EQ(clock.cyclesPerMs() % 1000, 0);
    EXPECT_EQ(clock.cyclesPerMs(), ClockCalibration::roundCyclesPerMs(
                                       static_cast<std::int64_t>(clock.measuredCyclesPerMs())));
    EXPECT_TRUE(clock.usingTsc());
}

TEST(StepClockTimeBase, TheCounterIsUsedOnlyOnceItsRateIsKnown) {
    if (!ClockCalibration::tscPresent()) {
        GTEST_SKIP() << "no time-stamp counter";
    }
    StepClock::Options options;
    options.calibrationMs = 60'000;  // not due within this test
    StepClock clock(options);
    EXPECT_FALSE(clock.calibrated());
    EXPECT_EQ(clock.cyclesPerMs(), 0);
    EXPECT_FALSE(clock.usingTsc()) << "no counter time base without a rate";
    const std::int64_t before = monotonicUs();
    const std::int64_t now = clock.nowUs();
    EXPECT_LE(before, now);
    EXPECT_LE(now, monotonicUs());
}

TEST_F(StepClockCounter, MicrosecondsRunAtTheUnroundedRate) {
    // Counter readings bracket the clock's own: the microseconds between two clock readings
    // are the cycles between them over the measured (not the rounded) rate, within a
    // microsecond for the flooring at each end.
    const std::uint64_t c0 = ClockCalibration::readTsc();
    const std::int64_t t0 = clock.nowUs();
    const std::uint64_t c1 = ClockCalibration::readTsc();
    const std::int64_t end = ClockCalibration::monotonicNs() + 30'000'000;
    while (ClockCalibration::monotonicNs() < end) {
    }
    const std::uint64_t c2 = ClockCalibration::readTsc();
    const std::int64_t t1 = clock.nowUs();
    const std::uint64_t c3 = ClockCalibration::readTsc();
    const double usPerCycle = 1000.0 / clock.measuredCyclesPerMs();
    EXPECT_GE(static_cast<double>(t1 - t0), static_cast<double>(c2 - c1) * usPerCycle - 1.0);
    EXPECT_LE(static_cast<double>(t1 - t0), static_cast<double>(c3 - c0) * usPerCycle + 1.0);
}

TEST_F(StepClockCounter, MillisecondsAreTheCounterOverCyclesPerMs) {
    const auto perMs = static_cast<std::uint64_t>(clock.cyclesPerMs());
    const auto before = static_cast<std::int64_t>(ClockCalibration::readTsc() / perMs);
    const std::int64_t now = clock.nowMs();
    const auto after = static_cast<std::int64_t>(ClockCalibration::readTsc() / perMs);
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST_F(StepClockCounter, SwitchingTheTimeBaseKeepsTheTimeContinuous) {
    const std::int64_t onCounter = clock.nowUs();
    clock.setUseTsc(false);
    const std::int64_t onMonotonic = clock.nowUs();
    clock.setUseTsc(true);
    const std::int64_t onCounterAgain = clock.nowUs();
    // Both bases share an origin: they part only by the counter's rate error since then (the
    // calibration is rounded to a thousand cycles, a few hundred parts per million at most).
    EXPECT_LT(std::abs(onMonotonic - onCounter), 2000);
    EXPECT_LT(std::abs(onCounterAgain - onMonotonic), 2000);
}

TEST_F(StepClockCounter, TimeNeverRunsBackward) {
    std::int64_t previous = clock.nowUs();
    for (int i = 0; i < 100'000; ++i) {
        const std::int64_t now = clock.nowUs();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

// A host that records when each step was posted and, when asked, holds the clock thread inside
// the step routine (with the engine lock held) until released.
class SteppingHost : public RecordingHost {
public:
    SteppingHost() { stepTimesUs.reserve(4096); }

    void postMessage(int message, std::intptr_t wParam, std::intptr_t lParam) override {
        RecordingHost::postMessage(message, wParam, lParam);
        if (message != Messages::UM_STEP_PLAYED) {
            return;
        }
        std::unique_lock lock(stepMutex);
        stepTimesUs.push_back(clock->nowUs());
        if (std::this_thread::get_id() != windowThread && holdClockThread) {
            clockThreadHeld = true;
            changed.notify_all();
            changed.wait(lock, [this] { return !holdClockThread; });
            clockThreadHeld = false;
        }
        changed.notify_all();
    }

    // Waits for the count of steps; the time limit only keeps a broken clock from hanging.
    bool waitForSteps(std::size_t count) {
        std::unique_lock lock(stepMutex);
        return changed.wait_for(lock, 30s, [&] { return stepTimesUs.size() >= count; });
    }

    std::mutex stepMutex;
    std::condition_variable changed;
    std::vector<std::int64_t> stepTimesUs;
    std::thread::id windowThread = std::this_thread::get_id();
    bool holdClockThread = false;
    bool clockThreadHeld = false;
    const StepClock* clock = nullptr;
};

class StepClockThread : public testing::Test {
protected:
    void SetUp() override {
        for (Measure& measure : setup.measures) {
            for (Step& step : measure.steps) {
                step.on = 0;
            }
        }
        setup.bpm = 3000.0;  // a step every 5 ms
        host.clock = &clock;
        clock.configure(1, player);
        player.init(host, setup, clock, port);
    }
    void TearDown() override {
        if (player.isRunning()) {
            player.stop();
        }
    }

    // The clock goes first: its destructor joins the thread that reaches the others.
    ::Setup setup;
    RecordingPort port;
    SteppingHost host;
    Player player;
    StepClock clock{quickOptions()};
};

TEST_F(StepClockThread, PlaysStepsNeverBeforeTheirDueTime) {
    // The run's start time comes after this reading, so every due time does too.
    const std::int64_t startUs = clock.nowUs();
    player.start();
    ASSERT_TRUE(host.waitForSteps(40));
    player.stop();
    const double periodUs = Player::periodForBpm(3000.0) * 1000.0;
    std::lock_guard lock(host.stepMutex);
    for (std::size_t k = 1; k < host.stepTimesUs.size(); ++k) {
        EXPECT_GE(static_cast<double>(host.stepTimesUs[k] - startUs), k * periodUs) << "step " << k;
    }
    EXPECT_GE(clock.firings(), 39u);
    EXPECT_FALSE(clock.timerActive());
}

TEST(StepClockCalibration, StepsKeepTheirScheduleWhileTheCounterRateBecomesKnown) {
    if (!ClockCalibration::tscPresent()) {
        GTEST_SKIP() << "no time-stamp counter";
    }
    ::Setup setup;
    for (Measure& measure : setup.measures) {
        for (Step& step : measure.steps) {
            step.on = 0;
        }
    }
    setup.bpm = 3000.0;
    RecordingPort port;
    SteppingHost host;
    Player player;
    StepClock::Options options;
    options.calibrationMs = 150;
    StepClock clock(options);
    host.clock = &clock;
    clock.configure(1, player);
    player.init(host, setup, clock, port);

    // Played from the start, on CLOCK_MONOTONIC, on through the switch to the counter that the
    // clock thread makes by itself while playing.
    ASSERT_FALSE(clock.usingTsc());
    const std::int64_t startMonotonicUs = monotonicUs();
    player.start();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!clock.calibrated() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(clock.calibrated());
    EXPECT_TRUE(clock.usingTsc());
    std::size_t stepsBefore = 0;
    {
        std::lock_guard lock(host.stepMutex);
        stepsBefore = host.stepTimesUs.size();
    }
    ASSERT_TRUE(host.waitForSteps(stepsBefore + 20));
    player.stop();

    // Never early by the clock's time nor by CLOCK_MONOTONIC's, which would show a jump of the
    // time base at the switch; and played in order.
    const double periodUs = Player::periodForBpm(3000.0) * 1000.0;
    const std::int64_t afterUs = monotonicUs();
    std::lock_guard lock(host.stepMutex);
    ASSERT_GT(host.stepTimesUs.size(), stepsBefore);
    for (std::size_t k = 1; k < host.stepTimesUs.size(); ++k) {
        EXPECT_GE(static_cast<double>(host.stepTimesUs[k] - startMonotonicUs), k * periodUs)
            << "step " << k;
        EXPECT_GE(host.stepTimesUs[k], host.stepTimesUs[k - 1]);
    }
    // The clock's time stayed on CLOCK_MONOTONIC's within the counter's rate error.
    EXPECT_LE(host.stepTimesUs.back(), afterUs + 100);
}

TEST_F(StepClockThread, TimerControlsNeverWaitForABusyClockThread) {
    {
        std::lock_guard lock(host.stepMutex);
        host.holdClockThread = true;
    }
    player.start();
    {
        std::unique_lock lock(host.stepMutex);
        ASSERT_TRUE(host.changed.wait_for(lock, 30s, [&] { return host.clockThreadHeld; }));
    }
    // The clock thread is now inside the step routine holding the engine lock. The window
    // thread's calls into the clock, made with the engine lock wanted elsewhere, must return.
    clock.stopTimer();
    clock.startTimer();
    clock.wake();
    clock.setUseTsc(clock.useTsc());
    clock.stopTimer();
    EXPECT_FALSE(clock.timerActive());
    {
        std::lock_guard lock(host.stepMutex);
        host.holdClockThread = false;
    }
    host.changed.notify_all();
    clock.startTimer();
    player.stop();
}

TEST_F(StepClockThread, DestroyingARunningClockEndsItsThread) {
    auto running = std::make_unique<StepClock>(quickOptions());
    Player other;
    running->configure(1, other);
    other.init(host, setup, *running, port);
    other.start();
    ASSERT_TRUE(host.waitForSteps(4));
    running.reset();  // returns only if the destructor wakes and joins the thread
    EXPECT_TRUE(other.isRunning());
}

TEST(StepClockConfigure, PeriodIsClampedToOneToOneThousandMs) {
    StepClock clock(quickOptions());
    Player player;
    clock.configure(0, player);
    EXPECT_EQ(clock.periodMs(), 1u);
    clock.configure(5000, player);
    EXPECT_EQ(clock.periodMs(), 1000u);
    clock.configure(2, player);
    EXPECT_EQ(clock.periodMs(), 2u);
}

}  // namespace
