#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/StepTimer.h"

class ClockSpinMargin;
class Player;

// The step clock: the engine's time base and the real-time thread that plays each step at its
// due time. Owned by the main window, which hands it to Player::init; it must outlive nothing
// but the Player it drives (destroy the clock first: its destructor joins the thread).
//
// Time base: the processor's time-stamp counter while useTsc is set ("Use High-Res Timer"),
// else CLOCK_MONOTONIC. A missing counter or a calibration of 0 cycles falls back to
// CLOCK_MONOTONIC. cyclesPerMs is the program's traditional figure, rounded to whole thousands
// (shown, and stored in setup files); the schedule divides by the unrounded measurement instead,
// because the rounding alone would make the tempo run up to 0.02 % off and drift against every
// other clock by up to 14 ms a minute.
//
// The calibration costs the window thread nothing: its first (counter, monotonic) pair is read at
// construction and its second one by the clock thread once calibrationMs have passed, slept
// through rather than spun; until then the time base is CLOCK_MONOTONIC, and as both bases
// share the first pair as their origin the switch does not move the time.
//
// The thread sleeps to absolute CLOCK_MONOTONIC deadlines taken from Player::nextDueUs, the
// last stretch spent spinning so that the wake-up latency of an idle processor does not show;
// it fires at most once per callback period (1 ms) after a step, and parks without any timed
// wake-up while the timer is stopped. It asks for SCHED_FIFO and runs on without it when
// refused; it never allocates, logs or touches Qt.
class StepClock : public StepTimer {
public:
    struct Options {
        // Milliseconds between the calibration's two counter readings (see above); 0 skips
        // it, leaving cyclesPerMs 0 and the clock on CLOCK_MONOTONIC.
        int calibrationMs = 100;
        // The last microseconds before a deadline are spun rather than slept: as long as recent
        // sleeps ended late, at least spinUs and at most maxSpinUs (ClockSpinMargin).
        int spinUs = 0;
        int maxSpinUs = 1500;
        // Hold /dev/cpu_dma_latency at 0 while the timer runs: keeps the processors out of deep
        // idle states, so that sleeps end on time and little is left to spin. Only root may;
        // without it the learned spin makes up for the later wake-ups.
        bool holdDmaLatency = true;
        // SCHED_FIFO priority asked for by the clock thread; 0 leaves the thread's policy alone.
        int realtimePriority = 80;
    };

    StepClock();
    explicit StepClock(const Options& options);
    StepClock(const StepClock&) = delete;
    StepClock& operator=(const StepClock&) = delete;
    // Ends and joins the clock thread; not to be called with the engine lock held.
    ~StepClock() override;

    // Sets the player to tick and the callback period in ms (clamped to 1..1000): the least
    // time between a firing that played a step and the next firing. The first call starts the
    // clock thread, parked, bound to that player for good (later calls change the period only);
    // the player must outlive the clock. Window thread.
    void configure(unsigned periodMs, Player& player);

    // StepTimer. startTimer, stopTimer and wake never block: they flag the change and wake the
    // clock thread, which picks it up at once. Without configure() the timer only records the
    // state (no thread).
    void startTimer() override;
    void stopTimer() override;
    void wake() override;
    // Microseconds; the counter and CLOCK_MONOTONIC share their origin, so switching the time
    // base only moves the time by the counter's rate error since construction.
    std::int64_t nowUs() const override;
    std::int64_t fromMonotonicUs(std::int64_t monotonicUs) const override;
    // 0 until the calibration is done.
    std::int32_t cyclesPerMs() const override {
        return cyclesPerMs_.load(std::memory_order_acquire);
    }
    // The calibration as measured, before the rounding.
    double measuredCyclesPerMs() const {
        return measuredCyclesPerMs_.load(std::memory_order_acquire);
    }
    // Whether the calibration is over (measured, skipped or without a counter).
    bool calibrated() const;
    // Waits until calibrationMs have passed since construction, then completes the
    // calibration unless the clock thread already has. For callers that need the figure at
    // once; the running program never waits for it.
    void finishCalibration();

    // Milliseconds as the program has always shown them: the counter divided by cyclesPerMs,
    // or CLOCK_MONOTONIC divided by (counterFrequency / 1000). Not on nowUs's origin.
    std::int64_t nowMs() const;

    void setUseTsc(bool flag);
    bool useTsc() const { return useTsc_.load(std::memory_order_relaxed); }
    bool tscPresent() const { return tscPresent_; }
    // Whether nowUs runs on the time-stamp counter right now.
    bool usingTsc() const;
    bool timerActive() const { return timerActive_.load(std::memory_order_relaxed); }
    unsigned periodMs() const { return periodMs_.load(std::memory_order_relaxed); }
    std::int64_t counterFrequency() const { return counterFrequency_; }

    // For diagnosis and the timing benchmark: how often the clock thread came back from a
    // wait (timed or woken), how often it ran the engine's tick, its CPU time, and whether it
    // runs SCHED_FIFO.
    std::uint64_t wakeups() const { return wakeups_.load(std::memory_order_relaxed); }
    std::uint64_t firings() const { return firings_.load(std::memory_order_relaxed); }
    std::int64_t threadCpuNs() const;
    bool realtimeGranted() const { return realtimeGranted_.load(std::memory_order_relaxed); }

private:
    void run();
    void enterRealtime();
    // Parks until the signal moves away from seen.
    void park(std::uint32_t seen);
    // Sleeps, then spins, to fireAtUs; false when the signal moved meanwhile.
    bool sleepUntil(std::int64_t fireAtUs, std::uint32_t seen, ClockSpinMargin& margin);
    void signalThread();
    void holdDmaLatency();
    void releaseDmaLatency();
    // Takes the calibration's second pair and publishes the rate, once; false when another
    // thread is doing it right now.
    bool completeCalibration();
    // The clock thread's share: completes the calibration when it is due, never waits.
    void calibrateWhenDue();

    enum CalibrationState : int { kPending, kMeasuring, kDone };

    const Options options_;
    std::atomic<std::int32_t> cyclesPerMs_{0};
    std::atomic<double> measuredCyclesPerMs_{0.0};
    std::atomic<double> usPerCycle_{0.0};
    std::atomic<int> calibration_{kDone};
    // The first pair and when the second one is due (CLOCK_MONOTONIC ns).
    std::uint64_t calibrationTsc_ = 0;
    std::int64_t calibrationNs_ = 0;
    std::int64_t calibrationDueNs_ = 0;
    std::atomic<unsigned> periodMs_{1};
    std::atomic<bool> timerActive_{false};
    bool tscPresent_ = false;
    std::atomic<bool> useTsc_{true};
    // CLOCK_MONOTONIC counts nanoseconds.
    std::int64_t counterFrequency_ = 1'000'000'000;
    // The common origin of both time bases.
    std::uint64_t tscOrigin_ = 0;
    std::int64_t originUs_ = 0;

    std::atomic<Player*> player_{nullptr};
    // Bumped by every change the thread must see; the thread's futex word.
    std::atomic<std::uint32_t> signal_{0};
    std::atomic<std::uint32_t> starts_{0};
    std::atomic<std::int64_t> startedAtUs_{0};
    std::atomic<bool> quit_{false};
    std::atomic<std::uint64_t> wakeups_{0};
    std::atomic<std::uint64_t> firings_{0};
    std::atomic<bool> realtimeGranted_{false};
    int dmaLatencyFd_ = -1;
    std::thread thread_;
};
