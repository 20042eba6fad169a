#include "editing/MeasureClipboardFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A measure whose steps all differ, with chords of various sizes and an empty one.
Measure distinctMeasure() {
    Measure measure(3);
    for (int i = 0; i < Measure::kStepCount; ++i) {
        Step& step = measure.steps[static_cast<std::size_t>(i)];
        step.on = static_cast<std::int16_t>(i % 2);
        step.program = static_cast<std::int16_t>(i * 7);
        step.velocity = static_cast<std::int16_t>(127 - i);
        step.pan = static_cast<std::int16_t>(i * 8);
        step.duration = static_cast<std::int16_t>(1 + i);
        IntArray notes;
        for (int n = 0; n < i % 4; ++n) {
            notes.add(-24 + i + 4 * n);
        }
        step.setNotes(notes);
    }
    measure.steps[5].setNotes(IntArray{0, 4, 7});
    measure.steps[6].setNotes(IntArray{-70000, 70000});
    return measure;
}

void expectSameSteps(const Measure& expected, const Measure& actual) {
    for (std::size_t i = 0; i < expected.steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const Step& want = expected.steps[i];
        const Step& got = actual.steps[i];
        EXPECT_EQ(want.on, got.on);
        EXPECT_TRUE(want.notes == got.notes);
        EXPECT_EQ(want.program, got.program);
        EXPECT_EQ(want.velocity, got.velocity);
        EXPECT_EQ(want.pan, got.pan);
        EXPECT_EQ(want.duration, got.duration);
    }
}

std::size_t layoutV3Size(const Measure& measure) {
    std::size_t size = 0;
    for (const Step& step : measure.steps) {
        size += 12 + 4 * static_cast<std::size_t>(step.notes.size());
    }
    return size;
}

}  // namespace

TEST(MeasureClipboardFormat, LayoutV3StepIsOnCountNotesThenValues) {
    Measure measure;
    Step& step = measure.steps[0];
    step.on = 1;
    step.setNotes(IntArray{0, 4, -7});
    step.program = 0x0102;
    step.velocity = 100;
    step.pan = -2;
    step.duration = 30;
    const Bytes bytes = MeasureClipboardFormat::encodeV3(measure);
    const Bytes firstStep(bytes.begin(), bytes.begin() + 24);
    const Bytes expected = {0x01, 0x00,               // on
                            0x03, 0x00,               // three notes
                            0x00, 0x00, 0x00, 0x00,   // 0
                            0x04, 0x00, 0x00, 0x00,   // 4
                            0xF9, 0xFF, 0xFF, 0xFF,   // -7
                            0x02, 0x01, 0x64, 0x00,   // program, velocity
                            0xFE, 0xFF, 0x1E, 0x00};  // pan, duration
    EXPECT_EQ(expected, firstStep);
    // Nothing before or after the sixteen steps: no header, no next or repeats.
    EXPECT_EQ(layoutV3Size(measure), bytes.size());
}

TEST(MeasureClipboardFormat, LayoutV2StepCarriesTheFirstNoteTruncated) {
    Measure measure;
    measure.steps[0].setNotes(IntArray{0x12345, 4, 7});
    measure.steps[1].setNotes(IntArray{});
    measure.steps[1].on = 0;
    const Bytes bytes = MeasureClipboardFormat::encodeV2(measure);
    ASSERT_EQ(16U * 12U, bytes.size());
    EXPECT_EQ((Bytes{0x01, 0x00, 0x45, 0x23, 0x00, 0x00, 0x64, 0x00, 0x40, 0x00, 0x1E, 0x00}),
              Bytes(bytes.begin(), bytes.begin() + 12));
    // A step without notes carries note 0 and is not changed by being copied.
    EXPECT_EQ((Bytes{0x00, 0x00, 0x00, 0x00}), Bytes(bytes.begin() + 12, bytes.begin() + 16));
    EXPECT_TRUE(measure.steps[1].notes.empty());
}

TEST(MeasureClipboardFormat, LayoutV3RoundTripReproducesChordsAndLeavesChaining) {
    const Measure source = distinctMeasure();
    Measure target(6);
    target.repeats = 4;
    MeasureClipboardFormat::decodeV3(MeasureClipboardFormat::encodeV3(source), target);
    expectSameSteps(source, target);
    EXPECT_EQ(6, target.next);
    EXPECT_EQ(4, target.repeats);
}

TEST(MeasureClipboardFormat, LayoutV2RoundTripGivesSingleNotes) {
    Measure source = distinctMeasure();
    source.steps[2].setNotes(IntArray{-40000});  // wraps to 25536 in 16 bits
    Measure target;
    MeasureClipboardFormat::decodeV2(MeasureClipboardFormat::encodeV2(source), target);
    EXPECT_TRUE(target.steps[5].notes == (IntArray{0}));  // chord 0,4,7 comes back as 0
    EXPECT_TRUE(target.steps[0].notes == (IntArray{0}));  // no notes comes back as note 0
    EXPECT_TRUE(target.steps[2].notes == (IntArray{25536}));
    EXPECT_TRUE(target.steps[6].notes == (IntArray{-4464}));  // -70000 in 16 bits, sign-extended
    for (std::size_t i = 0; i < target.steps.size(); ++i) {
        EXPECT_EQ(1, target.steps[i].notes.size()) << "step " << i;
        EXPECT_EQ(source.steps[i].on, target.steps[i].on);
        EXPECT_EQ(source.steps[i].velocity, target.steps[i].velocity);
        EXPECT_EQ(source.steps[i].duration, target.steps[i].duration);
    }
}

// The count field around the point where layout 3 switches to a 32-bit count.
struct CountCase {
    std::ptrdiff_t notes;
    Bytes countBytes;
};

class MeasureClipboardCount : public testing::TestWithParam<CountCase> {};

TEST_P(MeasureClipboardCount, CountIsWrittenWithEscapeAndReadBack) {
    const CountCase& param = GetParam();
    Measure source;
    IntArray notes;
    notes.setSize(param.notes);
    for (std::ptrdiff_t i = 0; i < param.notes; ++i) {
        notes[i] = static_cast<std::int32_t>(i - 1000);
    }
    source.steps[0].setNotes(notes);
    const Bytes bytes = MeasureClipboardFormat::encodeV3(source);
    const Bytes count(bytes.begin() + 2,
                      bytes.begin() + 2 + static_cast<std::ptrdiff_t>(param.countBytes.size()));
    EXPECT_EQ(param.countBytes, count);
    EXPECT_EQ(layoutV3Size(source) + param.countBytes.size() - 2, bytes.size());

    Measure target;
    MeasureClipboardFormat::decodeV3(bytes, target);
    EXPECT_TRUE(source.steps[0].notes == target.steps[0].notes);
    EXPECT_EQ(source.steps[0].duration, target.steps[0].duration);
    EXPECT_TRUE(source.steps[15].notes == target.steps[15].notes);
}

INSTANTIATE_TEST_SUITE_P(Counts, MeasureClipboardCount,
                         testing::Values(CountCase{0, {0x00, 0x00}}, CountCase{3, {0x03, 0x00}},
                                         CountCase{65534, {0xFE, 0xFF}},
                                         CountCase{65535, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
                                         CountCase{65536, {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}}),
                         [](const testing::TestParamInfo<CountCase>& param) {
                             return "Notes" + std::to_string(param.param.notes);
                         });

TEST(MeasureClipboardFormat, WideCountBelowTheEscapeIsStillRead) {
    Measure source;
    Bytes bytes = MeasureClipboardFormat::encodeV3(source);
    // Step 0 as on 1, count FF FF 01 00 00 00, note 9, then the four values.
    const Bytes step = {0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x40, 0x00, 0x1E, 0x00};
    bytes.erase(bytes.begin(), bytes.begin() + 16);
    bytes.insert(bytes.begin(), step.begin(), step.end());
    Measure target;
    MeasureClipboardFormat::decodeV3(bytes, target);
    EXPECT_TRUE(target.steps[0].notes == (IntArray{9}));
    EXPECT_EQ(30, target.steps[0].duration);
}

TEST(MeasureClipboardFormat, TrailingZeroFillIsIgnored) {
    const Measure source = distinctMeasure();
    Bytes v3 = MeasureClipboardFormat::encodeV3(source);
    Bytes v2 = MeasureClipboardFormat::encodeV2(source);
    v3.resize(4096, 0);
    v2.resize(4096, 0);
    Measure fromV3;
    Measure fromV2;
    MeasureClipboardFormat::decodeV3(v3, fromV3);
    MeasureClipboardFormat::decodeV2(v2, fromV2);
    expectSameSteps(source, fromV3);
    EXPECT_EQ(source.steps[15].duration, fromV2.steps[15].duration);
}

// Data cut off anywhere before the end of the sixteenth step must leave the target as it was.
class MeasureClipboardTruncated : public testing::TestWithParam<int> {};

TEST_P(MeasureClipboardTruncated, EveryShortPrefixFailsAndLeavesTheMeasure) {
    const int layout = GetParam();
    const Measure source = distinctMeasure();
    const Bytes full = layout == 3 ? MeasureClipboardFormat::encodeV3(source)
                                   : MeasureClipboardFormat::encodeV2(source);
    Measure original;
    original.steps[0].setNotes(IntArray{11, 22});
    original.steps[15].program = 99;
    for (std::size_t length = 0; length < full.size(); ++length) {
        Measure target = original;
        const std::span<const std::uint8_t> prefix(full.data(), length);
        try {
            MeasureClipboardFormat::decode(prefix, layout, target);
            ADD_FAILURE() << "no error for " << length << " of " << full.size() << " bytes";
        } catch (const MeasureClipboardError& error) {
            EXPECT_STREQ(MeasureClipboardFormat::kEndOfDataMessage, error.what());
        }
        expectSameSteps(original, target);
        if (HasFailure()) {
            FAIL() << "at length " << length;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, MeasureClipboardTruncated, testing::Values(2, 3),
                         [](const testing::TestParamInfo<int>& param) {
                             return "Layout" + std::to_string(param.param);
                         });

TEST(MeasureClipboardFormat, HugeCountFailsWithoutAllocating) {
    // A count of four billion notes in a block of a few bytes: must be refused before any
    // allocation (an attempt would abort under the sanitizers or exhaust memory).
    Bytes bytes = {0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bytes.resize(4096, 0);
    Measure target;
    EXPECT_THROW(MeasureClipboardFormat::decodeV3(bytes, target), MeasureClipboardError);
    EXPECT_TRUE(target.steps[0].notes == (IntArray{0}));

    // The same for a 16-bit count just under the escape.
    bytes = {0x01, 0x00, 0xFE, 0xFF};
    bytes.resize(65534 * 4 - 1, 0);
    EXPECT_THROW(MeasureClipboardFormat::decodeV3(bytes, target), MeasureClipboardError);
}
