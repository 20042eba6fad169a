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

void PrintTo(const RoundingCase& c, std::ostream* os) { *os << c.measured << " -> " << c.rounded; }

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
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 5'000'000'000, 2'096'014'000,
                                                   6'000'000'000),
              2'096'013);
    // Near the top of the counter's range the product must not overflow.
    const std::uint64_t high = std::numeric_limits<std::uint64_t>::max() - 10'000'000'000ull;
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(high, 0, high + 2'394'567'000ull,
                                                   1'000'000'000),
              2'394'567);
}

TEST(ClockCalibration, AnEmptyOrBackwardIntervalMeasuresNothing) {
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 10, 1000, 20), 0);
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(2000, 10, 1000, 20), 0);
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 20, 2000, 20), 0);
    EXPECT_EQ(ClockCalibration::cyclesPerMsBetween(1000, 30, 2000, 20), 0);
}

TEST(ClockCalibration, MeasurementIsRepeatable) {
    if (!ClockCalibration::tscPresent()) {
        GTEST_SKIP() << "no time-stamp counter";
    }
    const std::int32_t first = ClockCalibration::measureCyclesPerMs(20);
    const std::int32_t second = ClockCalibration::measureCyclesPerMs(20);
    ASSERT_GT(first, 0);
    EXPECT_EQ(first % 1000, 0);
    // Two measurements land on the same thousand, or on neighbours when the true figure sits
    // on a rounding boundary.
    EXPECT_LE(std::abs(first - second), 1000);
}

TEST(ClockCalibration, NoMeasurementForANonPositiveDuration) {
    EXPECT_EQ(ClockCalibration::measureCyclesPerMs(0), 0);
    EXPECT_EQ(ClockCalibration::measureCyclesPerMs(-5), 0);
}

}  // namespace
