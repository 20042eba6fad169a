#pragma once

#include <array>
#include <cstdint>

// How long before a deadline the clock thread stops sleeping and spins. It learns from how late
// its recent sleeps ended: an idle virtual processor wakes ~200 us late, a busy kernel with
// other processes in system calls now and then a millisecond or more, and a thread already
// spinning when the deadline comes is not delayed by either. The margin is the upper quartile
// of the recent lateness: a step then comes late only when its wake-up came later than three
// in four, and by less than that wake-up's own lateness, so the steps' error stays below the
// machine's wake-up floor; covering the rare late wake-ups as well would cost a long spin on
// every step (at 3000 BPM, seconds of processor time a minute) to shave off a few of them.
// Fixed size, no allocation; used by the clock thread only.
class ClockSpinMargin {
public:
    // Lateness remembered: the upper quartile of the last kWindow sleeps counts.
    static constexpr std::size_t kWindow = 32;
    // Added to the quartile: the time the wake-up itself takes to reach the spin.
    static constexpr std::int64_t kHeadroomUs = 10;

    // The margin never goes below minUs; what is learned is capped at maxUs and at a quarter
    // of each wait, which bounds the CPU time spent spinning at fast tempos.
    ClockSpinMargin(std::int64_t minUs, std::int64_t maxUs);

    // A timed sleep ended lateUs after the time it asked for (negative: early).
    void record(std::int64_t lateUs);
    // The margin for a wait of waitUs until the deadline; asked once per deadline (asked
    // again for what is left of the wait, the quarter would send the thread back to sleep).
    std::int64_t marginUs(std::int64_t waitUs) const;

private:
    std::int64_t minUs_;
    std::int64_t maxUs_;
    std::array<std::int32_t, kWindow> recent_{};
    std::size_t next_ = 0;
};
