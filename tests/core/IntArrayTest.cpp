#include <gtest/gtest.h>

#include "core/IntArray.h"

namespace {

IntArray filledTo(std::ptrdiff_t size) {
    // An explicit grow-by equal to the size gives a capacity of exactly the size, so the next
    // add must grow by the automatic rule.
    IntArray exact;
    exact.setSize(size, size);
    exact.setSize(size, 0);
    return exact;
}

struct GrowthCase {
    std::ptrdiff_t size;
    std::ptrdiff_t expectedGrowth;
};

class IntArrayGrowth : public testing::TestWithParam<GrowthCase> {};

TEST_P(IntArrayGrowth, AutomaticGrowByIsAnEighthClampedTo4Through1024) {
    IntArray array = filledTo(GetParam().size);
    ASSERT_EQ(array.capacity(), GetParam().size);
    array.add(7);
    EXPECT_EQ(array.capacity(), GetParam().size + GetParam().expectedGrowth);
    EXPECT_EQ(array.size(), GetParam().size + 1);
    EXPECT_EQ(array[GetParam().size], 7);
}

INSTANTIATE_TEST_SUITE_P(Figures, IntArrayGrowth,
                         testing::Values(GrowthCase{100, 12}, GrowthCase{3, 4},
                                         GrowthCase{10000, 1024}, GrowthCase{32, 4},
                                         GrowthCase{40, 5}, GrowthCase{8192, 1024}),
                         [](const testing::TestParamInfo<GrowthCase>& param) {
                             return "Size" + std::to_string(param.param.size);
                         });

TEST(IntArray, ExplicitGrowByIsUsedAndNeverBelowTheRequestedSize) {
    IntArray array;
    array.setSize(1, 10);
    EXPECT_EQ(array.capacity(), 10);
    array.setSize(11);
    EXPECT_EQ(array.capacity(), 20);
    array.setSize(50);
    EXPECT_EQ(array.capacity(), 50);
}

TEST(IntArray, NewElementsAreZeroEvenWhenReusingCapacity) {
    IntArray array{5, 6, 7};
    array.setSize(1);
    array.setSize(3);
    EXPECT_EQ(array[1], 0);
    EXPECT_EQ(array[2], 0);
}

TEST(IntArray, SizeZeroFreesTheStorage) {
    IntArray array{1, 2, 3};
    array.setSize(0);
    EXPECT_EQ(array.size(), 0);
    EXPECT_EQ(array.capacity(), 0);
    EXPECT_EQ(array.begin(), nullptr);
}

TEST(IntArray, CopyResetsGrowByAndCopiesTheElements) {
    IntArray source{1, -2, 3};
    IntArray target;
    target.setSize(0, 50);
    target.copy(source);
    EXPECT_EQ(target.growBy(), 0);
    EXPECT_EQ(target, source);
    target[0] = 9;
    EXPECT_EQ(source[0], 1) << "the copy must not share storage";
}

TEST(IntArray, SelfCopyKeepsTheElements) {
    IntArray array{4, 5};
    const IntArray& alias = array;
    array = alias;
    EXPECT_EQ(array, (IntArray{4, 5}));
}

}  // namespace
