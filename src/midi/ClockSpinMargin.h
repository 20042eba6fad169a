#pragma once

#include <array>
#include <cstdint>

// How long before a deadline the clock thread stops sleeping and spins. It learns from how late
// its recent sleeps ended: an idle virtual processor wakes ~200 us late, a busy kernel with
// other processes in system calls now and then a millisecond or more, and a thread already
// spinning when the deadline comes is not delayed by either. Fixed size, no allocation; used by
// the clock thread only.
class ClockSpinMargin {
public:
    // Lateness remembered: the worst of the last kWindow sleeps counts.
    static constexpr std::size_t kWindow = 32;
    // Added to the worst lateness seen.
    static constexpr std::int64_t kHeadroomUs = 100;

    // The margin never goes below minUs; what is learned is capped at maxUs and at a quarter
    // of each sleep, which bounds the CPU time spent spinning at fast tempos.
    ClockSpinMargin(std::int64_t minUs, std::int64_t maxUs);

    // A timed sleep ended lateUs after the time it asked for (negative: early).
    void record(std::int64_t lateUs);
    // The margin for a wait of waitUs until the deadline.
    std::int64_t marginUs(std::int64_t waitUs) const;

private:
    std::int64_t minUs_;
    std::int64_t maxUs_;
    std::array<std::int32_t, kWindow> recent_{};
    std::size_t next_ = 0;
};
