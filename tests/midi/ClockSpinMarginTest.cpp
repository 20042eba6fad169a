#include <gtest/gtest.h>

#include "midi/ClockSpinMargin.h"

namespace {

constexpr std::int64_t kLongWait = 119'000;  // 126 BPM
constexpr std::int64_t kFastWait = 5'000;    // 3000 BPM

void recordMany(ClockSpinMargin& margin, std::int64_t lateUs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        margin.record(lateUs);
    }
}

TEST(ClockSpinMargin, StartsAtTheMinimum) {
    const ClockSpinMargin margin(300, 1500);
    EXPECT_EQ(margin.marginUs(kLongWait), 300);
    EXPECT_EQ(ClockSpinMargin(0, 1500).marginUs(kLongWait), ClockSpinMargin::kHeadroomUs)
        << "nothing learned yet: no more than the headroom";
}

TEST(ClockSpinMargin, AtFastTemposFollowsTheUpperQuartileOfRecentLatenessNotItsOutliers) {
    ClockSpinMargin margin(0, 1500);
    recordMany(margin, 40, ClockSpinMargin::kWindow);
    EXPECT_EQ(margin.marginUs(kFastWait), 40 + ClockSpinMargin::kHeadroomUs);
    // A few late wake-ups (fewer than a quarter) do not make every step spin longer.
    recordMany(margin, 900, ClockSpinMargin::kWindow / 4 - 1);
    EXPECT_EQ(margin.marginUs(kFastWait), 40 + ClockSpinMargin::kHeadroomUs);
    // When lateness grows for more than a quarter of the recent sleeps, so does the margin
    // (up to a quarter of the wait).
    recordMany(margin, 900, 2);
    EXPECT_EQ(margin.marginUs(kFastWait), 900 + ClockSpinMargin::kHeadroomUs);
}

TEST(ClockSpinMargin, AtSlowTemposCoversTheWorstRecentLatenessWithinItsShareOfTheWait) {
    ClockSpinMargin margin(0, 1500);
    recordMany(margin, 40, ClockSpinMargin::kWindow);
    margin.record(300);
    EXPECT_EQ(margin.marginUs(kLongWait), 300 + ClockSpinMargin::kHeadroomUs);
    margin.record(900);
    EXPECT_EQ(margin.marginUs(kLongWait), kLongWait / ClockSpinMargin::kSpinShare)
        << "no more than the share of the wait for one late wake-up";
    EXPECT_EQ(margin.marginUs(kFastWait), 40 + ClockSpinMargin::kHeadroomUs);
}

TEST(ClockSpinMargin, IsCappedAtTheMaximumAndAtAQuarterOfTheWait) {
    ClockSpinMargin margin(0, 1500);
    recordMany(margin, 40'000, ClockSpinMargin::kWindow);  // host stalls: spinning would not help
    EXPECT_EQ(margin.marginUs(kLongWait), 1500);
    EXPECT_EQ(margin.marginUs(4000), 1000) << "fast tempo: at most a quarter of the wait";
    EXPECT_EQ(ClockSpinMargin(300, 1500).marginUs(800), 300) << "but never below the minimum";
}

TEST(ClockSpinMargin, ForgetsLatenessOlderThanItsWindow) {
    ClockSpinMargin margin(0, 1500);
    recordMany(margin, 1200, ClockSpinMargin::kWindow);
    // Three quarters of the window replaced: the late sleeps still make the quartile.
    recordMany(margin, 50, ClockSpinMargin::kWindow * 3 / 4);
    EXPECT_EQ(margin.marginUs(kFastWait), 1200 + ClockSpinMargin::kHeadroomUs);
    margin.record(50);
    EXPECT_EQ(margin.marginUs(kFastWait), 50 + ClockSpinMargin::kHeadroomUs);
    recordMany(margin, 50, ClockSpinMargin::kWindow);
    EXPECT_EQ(margin.marginUs(kLongWait), 50 + ClockSpinMargin::kHeadroomUs)
        << "the worst is forgotten too";
}

TEST(ClockSpinMargin, EarlyWakeUpsCountAsOnTime) {
    ClockSpinMargin margin(0, 1500);
    recordMany(margin, -500, ClockSpinMargin::kWindow);
    EXPECT_EQ(margin.marginUs(kLongWait), ClockSpinMargin::kHeadroomUs);
}

}  // namespace
