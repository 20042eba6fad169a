#include <gtest/gtest.h>

#include "core/Random.h"
#include "core/Setup.h"

namespace {

TEST(Random, IsTheClassicLinearCongruentialSequence) {
    Random::seed(1);
    EXPECT_EQ(Random::next(), 41);
    EXPECT_EQ(Random::next(), 18467);
    EXPECT_EQ(Random::next(), 6334);
}

TEST(Setup, ConstructionDrawsEveryStepFromTheGeneratorInOrder) {
    Random::seed(1234);
    const ::Setup first;
    Random::seed(1234);
    // Root, program, velocity, pan and duration of measure 0, step 0 come first.
    const int root = Random::below(128) - 60;
    const int program = Random::below(128);
    const int velocity = Random::below(128);
    const int pan = Random::below(128);
    const int duration = Random::below(128);
    const Step& step = first.measures[0].steps[0];
    EXPECT_EQ(step.notes, (IntArray{root}));
    EXPECT_EQ(step.program, program);
    EXPECT_EQ(step.velocity, velocity);
    EXPECT_EQ(step.pan, pan);
    EXPECT_EQ(step.duration, duration);
}

TEST(Setup, ConstructedValuesStayInTheirRanges) {
    Random::seed(99);
    const ::Setup setup;
    bool sawDifferentRoots = false;
    for (int m = 0; m < Setup::kMeasureCount; ++m) {
        const Measure& measure = setup.measures[static_cast<std::size_t>(m)];
        EXPECT_EQ(measure.next, m);
        EXPECT_EQ(measure.repeats, 1);
        for (const Step& step : measure.steps) {
            ASSERT_EQ(step.notes.size(), 1);
            EXPECT_GE(step.notes[0], -60);
            EXPECT_LE(step.notes[0], 67);
            EXPECT_GE(step.program, 0);
            EXPECT_LE(step.program, 127);
            EXPECT_LE(step.duration, 127);
            sawDifferentRoots |= step.notes[0] != measure.steps[0].notes[0];
        }
    }
    EXPECT_TRUE(sawDifferentRoots);
}

TEST(Setup, DefaultsOfTheDocument) {
    const ::Setup setup;
    EXPECT_EQ(setup.stepsPerMeasure, 16);
    EXPECT_DOUBLE_EQ(setup.bpm, 126.0);
    EXPECT_EQ(setup.polyphonic, 1);
    EXPECT_EQ(setup.volume, 80);
    EXPECT_EQ(setup.transpose, 0);
    EXPECT_EQ(setup.undoMeasureIndex, -1);
    EXPECT_TRUE(setup.highResTimer);
    EXPECT_EQ(setup.port.channel, 1);
    EXPECT_EQ(setup.port.handle, 0);
    EXPECT_FALSE(setup.dirty);
    // The copy and undo buffers are not randomised.
    EXPECT_EQ(setup.copyMeasure.steps[5].notes, (IntArray{0}));
    EXPECT_EQ(setup.undoMeasure.steps[0].velocity, 100);
}

}  // namespace
