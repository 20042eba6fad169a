#pragma once

#include <array>
#include <cstdint>

// How long before a deadline the clock thread stops sleeping and spins. It learns from how late
// its recent sleeps ended: an idle virtual processor wakes ~200 us late, a busy kernel with
// other processes in system calls now and then a millisecond or more, and a thread already
// spinning when the deadline comes is not delayed by either. The margin covers the upper
// quartile of the recent lateness at least: a step then comes late only when its wake-up came
// later than three in four, and by less than that wake-up's own lateness, so the steps' error
// stays below the machine's wake-up floor. It covers the worst recent lateness as far as that
// costs at most a small share of each wait (kSpinShare): at slow tempos every step is on time,
// at fast ones (3000 BPM) covering the rare late wake-ups would cost seconds of processor time
// a minute to shave off a few of them. Fixed size, no allocation; clock thread only.
class ClockSpinMargin {
public:
    // Lateness remembered: the last kWindow sleeps count.
    static constexpr std::size_t kWindow = 32;
    // The share of a wait that may be spun to cover the worst recent lateness: 1/200.
    static constexpr std::int64_t kSpinShare = 200;
    // Added to the lateness covered: the time the wake-up itself takes to reach the spin.
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
