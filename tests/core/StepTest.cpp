#include <gtest/gtest.h>

#include <cstdint>

#include "core/Step.h"

namespace {

TEST(Step, DefaultsAreOnMiddleCProgramZero) {
    Step step;
    EXPECT_EQ(step.on, 1);
    EXPECT_EQ(step.notes, (IntArray{0}));
    EXPECT_EQ(step.program, 0);
    EXPECT_EQ(step.velocity, 100);
    EXPECT_EQ(step.pan, 64);
    EXPECT_EQ(step.duration, 30);
}

TEST(Step, SetRootMovesTheWholeChordOrStartsOne) {
    Step chord;
    chord.setNotes(IntArray{0, 4, 7});
    chord.setRoot(5);
    EXPECT_EQ(chord.notes, (IntArray{5, 9, 12}));

    Step empty;
    empty.notes.removeAll();
    empty.setRoot(5);
    EXPECT_EQ(empty.notes, (IntArray{5}));
}

TEST(Step, SetRootHoldsEveryMovedOffsetWithinThe32BitRange) {
    Step step;
    step.setNotes(IntArray{INT32_MIN, INT32_MAX, -7});
    step.setRoot(5);
    EXPECT_EQ(step.notes, (IntArray{5, INT32_MAX, INT32_MAX - 1}));
    step.setNotes(IntArray{INT32_MAX, INT32_MIN});
    step.setRoot(-5);
    EXPECT_EQ(step.notes, (IntArray{-5, INT32_MIN}));
}

TEST(Step, SetRootTakesTheValueAs16Bits) {
    Step step;
    step.setRoot(65536 + 3);
    EXPECT_EQ(step.notes, (IntArray{3}));
}

TEST(Step, RootReadsTheLow16BitsOfTheFirstOffsetAsSigned) {
    Step step;
    step.setNotes(IntArray{0x12345, 1});
    EXPECT_EQ(step.getStepValue(StepValue::Root), 0x2345);
    step.setNotes(IntArray{0x1FFFF});
    EXPECT_EQ(step.getStepValue(StepValue::Root), -1);
}

TEST(Step, GenericAccessByValueId) {
    Step step;
    step.setStepValue(StepValue::On, 7);
    EXPECT_EQ(step.on, 1);
    step.setStepValue(StepValue::On, 0);
    EXPECT_EQ(step.getStepValue(StepValue::On), 0);
    step.setStepValue(StepValue::Program, -1);
    step.setStepValue(StepValue::Velocity, 120);
    step.setStepValue(StepValue::Pan, 3);
    step.setStepValue(StepValue::Duration, 17);
    EXPECT_EQ(step.getStepValue(StepValue::Program), -1);
    EXPECT_EQ(step.getStepValue(StepValue::Velocity), 120);
    EXPECT_EQ(step.getStepValue(StepValue::Pan), 3);
    EXPECT_EQ(step.getStepValue(StepValue::Duration), 17);
}

TEST(Step, UnknownValueIdsReadZeroAndWriteNothing) {
    Step step;
    step.setNotes(IntArray{2, 5});
    const Step before = step;
    EXPECT_EQ(step.getStepValue(99), 0);
    step.setStepValue(99, 42);
    step.setStepValue(0, 42);
    EXPECT_EQ(step.notes, before.notes);
    EXPECT_EQ(step.on, before.on);
    EXPECT_EQ(step.program, before.program);
    EXPECT_EQ(step.velocity, before.velocity);
    EXPECT_EQ(step.pan, before.pan);
    EXPECT_EQ(step.duration, before.duration);
}

TEST(Step, NotesForDisplayNeverShowsAnEmptyChord) {
    Step step;
    step.notes.removeAll();
    EXPECT_EQ(step.notesForDisplay(), (IntArray{0}));
    step.setNotes(IntArray{3, 4});
    EXPECT_EQ(step.notesForDisplay(), (IntArray{3, 4}));
}

TEST(Step, AssignmentCopiesEverythingIncludingTheChord) {
    Step source;
    source.on = 0;
    source.setNotes(IntArray{-3, 0, 4});
    source.program = 40;
    source.velocity = 1;
    source.pan = 2;
    source.duration = 3;
    Step target;
    target = source;
    EXPECT_EQ(target.on, 0);
    EXPECT_EQ(target.notes, source.notes);
    EXPECT_EQ(target.program, 40);
    EXPECT_EQ(target.velocity, 1);
    EXPECT_EQ(target.pan, 2);
    EXPECT_EQ(target.duration, 3);
    source.notes[0] = 11;
    EXPECT_EQ(target.notes[0], -3);

    const Step& alias = target;
    target = alias;
    EXPECT_EQ(target.notes, (IntArray{-3, 0, 4}));
}

}  // namespace
