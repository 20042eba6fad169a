#include <gtest/gtest.h>

#include "toolkit/NotificationThrottle.h"

namespace {

using namespace std::chrono_literals;
using Clock = NotificationThrottle::Clock;

TEST(NotificationThrottle, LetsTheFirstThroughThenOnePerInterval) {
    NotificationThrottle throttle(250ms);
    const Clock::time_point t0{10s};
    EXPECT_TRUE(throttle.Allow(t0));
    EXPECT_FALSE(throttle.Allow(t0));
    EXPECT_FALSE(throttle.Allow(t0 + 249ms));
    EXPECT_TRUE(throttle.Allow(t0 + 250ms));
    // Dropped calls do not push the next one back: it counts from the last one sent.
    EXPECT_FALSE(throttle.Allow(t0 + 400ms));
    EXPECT_TRUE(throttle.Allow(t0 + 500ms));
}

TEST(NotificationThrottle, SixtySevenStepsASecondBecomeFour) {
    NotificationThrottle throttle(250ms);
    int sent = 0;
    for (int i = 0; i < 67; ++i) {
        sent += throttle.Allow(Clock::time_point{} + i * 15ms) ? 1 : 0;
    }
    EXPECT_EQ(sent, 4);
}

TEST(NotificationThrottle, ATimeBeforeTheLastOneSentIsDue) {
    NotificationThrottle throttle(250ms);
    EXPECT_TRUE(throttle.Allow(Clock::time_point{5s}));
    EXPECT_TRUE(throttle.Allow(Clock::time_point{4s}));
    EXPECT_FALSE(throttle.Allow(Clock::time_point{4s} + 1ms));
}

}  // namespace
