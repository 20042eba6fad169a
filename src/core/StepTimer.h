#pragma once

#include <cstdint>

// What the engine needs from the step clock: a time base and a thread that calls
// Player::tick at each due time while the timer runs. Implemented by the MIDI layer.
class StepTimer {
public:
    virtual ~StepTimer() = default;

    // Begin / stop calling the tick. Called on the window thread, possibly with the engine lock
    // held: must not wait for the clock thread. A tick already waiting for the engine lock may
    // still run once after stopTimer(); the Player ignores it because it is no longer running.
    virtual void startTimer() = 0;
    virtual void stopTimer() = 0;
    // The schedule changed (tempo change): re-read the next due time at once.
    virtual void wake() = 0;
    // The time base in microseconds; monotonic.
    virtual std::int64_t nowUs() const = 0;
    // A time stamp on CLOCK_MONOTONIC (microseconds), as inputs give them, in this time base.
    // The same by default; a base on the processor's counter runs at its calibration's rate,
    // which drifts from CLOCK_MONOTONIC by its error. Real-time safe.
    virtual std::int64_t fromMonotonicUs(std::int64_t monotonicUs) const { return monotonicUs; }
    // Time-stamp-counter cycles per millisecond as measured at start-up (shown for diagnosis).
    virtual std::int32_t cyclesPerMs() const = 0;
};
