#include <gtest/gtest.h>

#include "core/TextFormat.h"

namespace {

TEST(TextFormat, RealsShowThreeDecimalsOnlyWhenFractional) {
    EXPECT_EQ(TextFormat::formatReal(126.0), "126");
    EXPECT_EQ(TextFormat::formatReal(133.4921), "133.492");
    EXPECT_EQ(TextFormat::formatReal(-0.5), "-0.500");
    EXPECT_EQ(TextFormat::formatInt(-42), "-42");
}

TEST(TextFormat, ParsingTakesTheLeadingNumberOrZero) {
    EXPECT_EQ(TextFormat::parseInt("  12abc"), 12);
    EXPECT_EQ(TextFormat::parseInt("x12"), 0);
    EXPECT_EQ(TextFormat::parseInt(""), 0);
    EXPECT_EQ(TextFormat::parseInt("-7,3"), -7);
    EXPECT_DOUBLE_EQ(TextFormat::parseReal("133.5 bpm"), 133.5);
    EXPECT_DOUBLE_EQ(TextFormat::parseReal("bpm"), 0.0);
}

TEST(TextFormat, HugeNumbersSaturateInsteadOfOverflowing) {
    EXPECT_EQ(TextFormat::parseInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(TextFormat::parseInt("-99999999999999999999"), -2147483647 - 1);
}

TEST(TextFormat, RoundingAddsOneFromOneHalf) {
    EXPECT_EQ(TextFormat::roundHalfUp(2.5), 3);
    EXPECT_EQ(TextFormat::roundHalfUp(2.4999), 2);
    EXPECT_EQ(TextFormat::roundHalfUp(0.0), 0);
}

}  // namespace
