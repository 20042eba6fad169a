#include "toolkit/NotificationThrottle.h"

bool NotificationThrottle::Allow(Clock::time_point now) {
    // A clock that went backwards (another throttle's time handed in) counts as due.
    if (last_ && now >= *last_ && now - *last_ < interval_) {
        return false;
    }
    last_ = now;
    return true;
}
