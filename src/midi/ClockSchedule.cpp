#include "ClockSchedule.h"

#include <algorithm>

ClockSchedule::ClockSchedule(std::int64_t spacingUs)
    : spacingUs_(std::max<std::int64_t>(spacingUs, 1)) {}

void ClockSchedule::restart(std::int64_t startUs) {
    earliestUs_ = startUs + spacingUs_;
}

std::int64_t ClockSchedule::nextFireUs(std::int64_t nextDueUs) const {
    if (nextDueUs == kNever) {
        return kNever;
    }
    return std::max(nextDueUs, earliestUs_);
}

void ClockSchedule::fired(std::int64_t nowUs, bool played) {
    earliestUs_ = nowUs + (played ? spacingUs_ : kRetryUs);
}

void ClockSchedule::setSpacingUs(std::int64_t spacingUs) {
    spacingUs_ = std::max<std::int64_t>(spacingUs, 1);
}
