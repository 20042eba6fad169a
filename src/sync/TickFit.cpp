#include "sync/TickFit.h"

#include <cmath>

void TickFit::reset(double periodUs) {
    count_ = 0;
    next_ = 0;
    holding_ = false;
    if (std::isfinite(periodUs) && periodUs > 0.0) {
        periodUs_ = periodUs;
    }
}

bool TickFit::add(std::int64_t tick, std::int64_t timeUs) {
    if (count_ > 0 && tick != lastTick_ + 1) {
        reset(periodUs_);
    }
    if (count_ > 0) {
        const double offLine = static_cast<double>(timeUs) - static_cast<double>(timeOf(tick));
        // A line through a few ticks only is too unsure of its slope to judge by.
        const bool judged = count_ >= kJudgeAfter;
        if (judged && std::fabs(offLine) > kReanchorShare * periodUs_) {
            lastTick_ = tick;
            if (!holding_) {
                holding_ = true;
                held_ = Point{tick, timeUs};
                return false;
            }
            // Two in a row: the clock itself moved. Start again from both.
            const Point held = held_;
            reset(periodUs_);
            append(held.tick, held.timeUs);
            append(tick, timeUs);
            return false;
        }
    }
    holding_ = false;
    append(tick, timeUs);
    return true;
}

void TickFit::append(std::int64_t tick, std::int64_t timeUs) {
    points_[static_cast<std::size_t>(next_)] = Point{tick, timeUs};
    next_ = (next_ + 1) % kWindow;
    if (count_ < kWindow) {
        ++count_;
    }
    lastTick_ = tick;
    refit();
}

std::int64_t TickFit::timeOf(std::int64_t tick) const {
    return static_cast<std::int64_t>(
        std::llround(lineTimeUs_ + static_cast<double>(tick - lineTick_) * periodUs_));
}

void TickFit::refit() {
    const Point& newest = points_[static_cast<std::size_t>((next_ + kWindow - 1) % kWindow)];
    lineTick_ = newest.tick;
    if (count_ < 2) {
        lineTimeUs_ = static_cast<double>(newest.timeUs);
        return;
    }
    // Least squares on coordinates relative to the newest point, so that the sums stay small.
    double sumX = 0.0;
    double sumY = 0.0;
    double sumXX = 0.0;
    double sumXY = 0.0;
    for (int i = 0; i < count_; ++i) {
        const Point& point = points_[static_cast<std::size_t>(i)];
        const auto x = static_cast<double>(point.tick - newest.tick);
        const auto y = static_cast<double>(point.timeUs - newest.timeUs);
        sumX += x;
        sumY += y;
        sumXX += x * x;
        sumXY += x * y;
    }
    const double n = count_;
    const double spread = n * sumXX - sumX * sumX;
    if (spread <= 0.0) {
        return;
    }
    const double slope = (n * sumXY - sumX * sumY) / spread;
    if (slope > 0.0) {
        periodUs_ = slope;
    }
    // The line through the mean point with that slope, read at the newest tick.
    lineTimeUs_ = static_cast<double>(newest.timeUs) + (sumY - periodUs_ * sumX) / n;
}
