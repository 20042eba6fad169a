#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ostream>

#include "midi/ClockCalibration.h"

namespace {

struct RoundingCase {
    std::int64_t measured;
    std::int32_t rounded;
};

void PrintTo(const RoundingCase& c, std::ostream* os) {
    *os << c.measured << " -> " << c.rounded;
}

class CyclesRounding : public testing::TestWithParam<RoundingCase> {};

TEST_P(CyclesRounding, ThreeSinglePrecisionRoundingsToWholeThousands) {
    EXPECT_EQ(ClockCalibration::roundCyclesPerMs(GetParam().measured), GetParam().rounded);
}

INSTANTIATE_TEST_SUITE_P(
    ClockCalibration, CyclesRounding,
    testing::Values(RoundingCase{2'394'567, 2'395'000},
                    // 239,445 x 0.1f is a little above 23,944.5, so the roundings carry upward.
                    RoundingCase{2'394'449, 2'395'000}, RoundingCase{2'394'400, 2'394'000},
                    RoundingCase{2'096'013, 2'096'000}, RoundingCase{2'095'500, 2'096'000},
                    RoundingCase{2'095'444, 2'095'000}, RoundingCase{999, 1000},
                    RoundingCase{400, 0}, RoundingCase{1, 0}));

TEST(ClockCalibration, NoUsableMeasurementRoundsToZero) {
    EXPECT_EQ(ClockCalibration::roundCyclesPerMs(0), 0);
    EXPECT_EQ(ClockCalibration::roundCyclesPerMs(-2'394'567), 0);
    EXPECT_EQ(ClockCalibration::roundCyclesPerMs(std::int64_t{1} << 40), 0);
}

TEST(ClockCalibration, CyclesPerMillisecondBetweenTwoPairs) {
    // 2,096,013,000 cycles in one second.
    EXPECT_DOUBLE_EQ(
        ClockCalibration::cyclesPerMsBetween(1000, 5'000'000'000, 2'096'014'000, 6'000'000'000),
        2'096'013.0);
    // Unrounded: a fraction of a cycle survives.
    EXPECT_DOUBLE_EQ(ClockCalibration::cyclesPerMsBetween(0, 0, 4'192'027, 2'000'000), 2'096'013.5);
    // Near the top of the counter's range.
    const std::uint64_t high = std::numeric_limits<std::uint64_t>::max() - 10'000'000'000ull;
    EXPECT_NEAR(
        ClockCalibration::cyclesPerMsBetween(high, 0, high + 2'394'567'000ull, 1'000'000'000),
        2'394'567.0, 1e-6);
}

TEST(ClockCalibration, AnEmptyOrBackwardIntervalMeasuresNothing) {
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 10, 1000, 20), 0.0);
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(2000, 10, 1000, 20), 0.0);
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 20, 2000, 20), 0.0);
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 30, 2000, 20), 0.0);
}

TEST(ClockCalibration, MeasurementIsRepeatable) {
    if (!ClockCalibration::tscPresent()) {
        GTEST_SKIP() << "no time-stamp counter";
    }
    const double first = ClockCalibration::measureCyclesPerMsExact(20);
    const double second = ClockCalibration::measureCyclesPerMsExact(20);
    ASSERT_GT(first, 0.0);
    // Tight pairs at both ends: two short measurements agree to a few parts per million even
    // when the thread is preempted between them (a sleep-skewed one is off by ~30 ppm).
    EXPECT_NEAR(first / second, 1.0, 10e-6);
    const std::int32_t rounded = ClockCalibration::measureCyclesPerMs(20);
    EXPECT_EQ(rounded % 1000, 0);
    EXPECT_NEAR(rounded, first, 500.0);
}

TEST(ClockCalibration, NoMeasurementForANonPositiveDuration) {
    EXPECT_EQ(ClockCalibration::measureCyclesPerMs(0), 0);
    EXPECT_EQ(ClockCalibration::measureCyclesPerMs(-5), 0);
    EXPECT_EQ(ClockCalibration::measureCyclesPerMsExact(0), 0.0);
}

}  // namespace
