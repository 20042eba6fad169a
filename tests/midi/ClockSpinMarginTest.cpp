#include <gtest/gtest.h>

#include "midi/ClockSpinMargin.h"

namespace {

constexpr std::int64_t kLongWait = 119'000;

TEST(ClockSpinMargin, StartsAtTheMinimum) {
    const ClockSpinMargin margin(300, 1500);
    EXPECT_EQ(margin.marginUs(kLongWait), 300);
}

TEST(ClockSpinMargin, GrowsToTheWorstRecentLatenessPlusHeadroom) {
    ClockSpinMargin margin(300, 1500);
    margin.record(180);
    EXPECT_EQ(margin.marginUs(kLongWait), 300) << "an idle processor's usual lateness";
    margin.record(900);
    margin.record(250);
    EXPECT_EQ(margin.marginUs(kLongWait), 900 + ClockSpinMargin::kHeadroomUs);
}

TEST(ClockSpinMargin, IsCappedAtTheMaximumAndAtAQuarterOfTheWait) {
    ClockSpinMargin margin(300, 1500);
    margin.record(40'000);  // a host stall: spinning would not have helped
    EXPECT_EQ(margin.marginUs(kLongWait), 1500);
    EXPECT_EQ(margin.marginUs(4000), 1000) << "fast tempo: at most a quarter of the wait";
    EXPECT_EQ(margin.marginUs(800), 300) << "but never below the minimum";
}

TEST(ClockSpinMargin, ForgetsLatenessOlderThanItsWindow) {
    ClockSpinMargin margin(300, 1500);
    margin.record(1200);
    for (std::size_t i = 0; i + 1 < ClockSpinMargin::kWindow; ++i) {
        margin.record(50);
    }
    EXPECT_EQ(margin.marginUs(kLongWait), 1300) << "still inside the window";
    margin.record(50);
    EXPECT_EQ(margin.marginUs(kLongWait), 300);
}

TEST(ClockSpinMargin, EarlyWakeUpsCountAsOnTime) {
    ClockSpinMargin margin(0, 1500);
    margin.record(-500);
    EXPECT_EQ(margin.marginUs(kLongWait), ClockSpinMargin::kHeadroomUs);
}

}  // namespace
