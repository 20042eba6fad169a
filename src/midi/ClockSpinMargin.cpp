#include "ClockSpinMargin.h"

#include <algorithm>

ClockSpinMargin::ClockSpinMargin(std::int64_t minUs, std::int64_t maxUs)
    : minUs_(std::max<std::int64_t>(minUs, 0)), maxUs_(std::max<std::int64_t>(maxUs, 0)) {}

void ClockSpinMargin::record(std::int64_t lateUs) {
    recent_[next_] = static_cast<std::int32_t>(std::clamp<std::int64_t>(lateUs, 0, 1'000'000));
    next_ = (next_ + 1) % kWindow;
}

std::int64_t ClockSpinMargin::marginUs(std::int64_t waitUs) const {
    std::array<std::int32_t, kWindow> sorted = recent_;
    const auto quartile = sorted.begin() + kWindow * 3 / 4;
    std::nth_element(sorted.begin(), quartile, sorted.end());
    const std::int64_t worst = *std::max_element(sorted.begin(), sorted.end());
    const std::int64_t covered =
        std::max(*quartile + kHeadroomUs, std::min(worst + kHeadroomUs, waitUs / kSpinShare));
    const std::int64_t learned = std::min({covered, maxUs_, waitUs / 4});
    return std::max(minUs_, learned);
}
