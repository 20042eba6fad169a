#include "FixedPeriodTimeline.h"

#include <cmath>

namespace {

// Beyond this many microseconds (about 285 years) a due time is as good as never, and the sum
// with the anchor cannot overflow.
constexpr double kFarestUs = 9.0e15;

}  // namespace

std::int64_t FixedPeriodTimeline::begin(std::int64_t nowUs, double periodMs, bool /*alone*/) {
    resume(0, nowUs, periodMs);
    return nowUs;
}

void FixedPeriodTimeline::end(bool /*alone*/) {}

void FixedPeriodTimeline::resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) {
    anchorStep_ = lastStep;
    anchorUs_ = lastDueUs;
    periodMs_ = periodMs;
}

void FixedPeriodTimeline::retime(std::int64_t lastStep, double periodMs) {
    const std::int64_t lastDue = dueUs(lastStep);
    // A schedule that never reached lastStep (no valid tempo before) starts from its anchor.
    resume(lastDue == kNever ? anchorStep_ : lastStep, lastDue == kNever ? anchorUs_ : lastDue,
           periodMs);
}

std::int64_t FixedPeriodTimeline::dueUs(std::int64_t step) {
    if (step == anchorStep_) {
        return anchorUs_;
    }
    // Rounded up: a tick at the returned time always finds the step due.
    const double offsetUs = std::ceil(static_cast<double>(step - anchorStep_) * periodMs_ * 1000.0);
    if (!std::isfinite(offsetUs) || offsetUs <= 0.0 || offsetUs > kFarestUs) {
        return kNever;
    }
    return anchorUs_ + static_cast<std::int64_t>(offsetUs);
}
