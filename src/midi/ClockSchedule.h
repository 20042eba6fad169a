#pragma once

#include <cstdint>
#include <limits>

// When the clock thread fires next. A firing comes at the engine's next due time, but never
// sooner than one callback period (1 ms) after the firing or start that played the previous
// step: with a period below 1 ms steps come one per millisecond, and after a late wake-up the
// missed steps catch up one per millisecond. Plain logic without time of its own, so the
// clock thread drives it in real time and the tests in virtual time. One thread only.
class ClockSchedule {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    // A firing that played nothing (the engine found the step not yet due after all, e.g. by a
    // rounding of its own) is retried this soon rather than one whole period later.
    static constexpr std::int64_t kRetryUs = 20;

    explicit ClockSchedule(std::int64_t spacingUs = 1000);

    // The timer was (re)started at startUs; the start itself played a step.
    void restart(std::int64_t startUs);
    // The absolute time of the next firing for an engine whose next step is due at nextDueUs
    // (kNever: no firing until something changes).
    std::int64_t nextFireUs(std::int64_t nextDueUs) const;
    // The engine's tick ran at nowUs and played a step or not.
    void fired(std::int64_t nowUs, bool played);

    void setSpacingUs(std::int64_t spacingUs);
    std::int64_t spacingUs() const { return spacingUs_; }

private:
    std::int64_t spacingUs_;
    std::int64_t earliestUs_ = std::numeric_limits<std::int64_t>::min();
};
