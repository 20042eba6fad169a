#pragma once

#include <chrono>
#include <optional>

// Lets a repeated notification through at most once per interval, dropping the rest: a screen
// reader told of every playing step at a fast tempo would speak nothing else. The caller
// hands in the time, so the rule is tested without waiting.
class NotificationThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit NotificationThrottle(Clock::duration interval) : interval_(interval) {}

    // True when a notification at `now` may go out; it then counts as the last one sent.
    bool Allow(Clock::time_point now);
    Clock::duration Interval() const { return interval_; }

private:
    Clock::duration interval_;
    std::optional<Clock::time_point> last_;
};
