// The setup controller in a real main window: edits made through the step columns with the
// modifier keys, the edit commands, the single-level undo and the dispatch of control events.
#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <vector>

#include <QCoreApplication>
#include <QTest>

#include "EditingTestSupport.h"
#include "core/Player.h"
#include "core/StepValue.h"
#include "panels/CommandIds.h"
#include "panels/PanelIds.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/ToolkitEvents.h"

namespace {

using namespace CommandIds;
using PanelIds::columnId;

constexpr int kOn = static_cast<int>(StepValue::On);
constexpr int kRoot = static_cast<int>(StepValue::Root);
constexpr int kProgram = static_cast<int>(StepValue::Program);
constexpr int kVelocity = static_cast<int>(StepValue::Velocity);
constexpr int kPan = static_cast<int>(StepValue::Pan);
constexpr int kDuration = static_cast<int>(StepValue::Duration);
// A dial's text field is its id + 3.
constexpr int kFieldPart = 3;

// Whether a dial's text field is hidden; every dial of the columns has one.
bool FieldHidden(MDial& dial) {
    MDialEdit* field = dial.GetField();
    if (field == nullptr) {
        throw std::logic_error("dial without a field");
    }
    return field->isHidden();
}

std::vector<std::int32_t> Notes(const IntArray& notes) {
    return std::vector<std::int32_t>(notes.begin(), notes.end());
}

class ControllerTest : public ::testing::Test {
protected:
    MStepColumn& Column(int c) { return w.Panel().Column(c); }
    Step& StepAt(int step) { return w.StepOf(w.TheSetup().selectedMeasure, step); }
    const Measure& Selected() {
        return w.TheSetup().measures[static_cast<std::size_t>(w.TheSetup().selectedMeasure)];
    }
    MRect VelocityUp(int c) { return Column(c).GetVelocityDial().GetUpButton().GetRect(); }
    MRect LoopSelector(int index) { return w.Panel().LoopGroup().GetElementRect(index); }

    // Step i of the selected measure gets velocity velocities[i]; the other values are plain.
    void SetVelocities(const std::vector<int>& velocities) {
        for (int i = 0; i < 16; ++i) {
            w.WriteStep(w.TheSetup().selectedMeasure, i,
                        MakeStep(1, {0}, 0, velocities[static_cast<std::size_t>(i)], 64, 4));
        }
        w.TheSetup().dirty = false;
    }
    // Distinct steps: step i has program i and velocity 10 + i.
    void SetNumberedSteps() {
        for (int i = 0; i < 16; ++i) {
            w.WriteStep(w.TheSetup().selectedMeasure, i, MakeStep(1, {i}, i, 10 + i, 64, 4));
        }
        w.TheSetup().dirty = false;
    }
    std::vector<int> Velocities() {
        std::vector<int> values;
        for (const Step& step : Selected().steps) {
            values.push_back(step.velocity);
        }
        return values;
    }
    std::vector<int> Programs() {
        std::vector<int> values;
        for (const Step& step : Selected().steps) {
            values.push_back(step.program);
        }
        return values;
    }
    void StartPlaying() {
        w.Click(w.Panel().PlayButton().GetRect());
        ASSERT_TRUE(w.Engine().isRunning());
    }
    int PlayingMeasure() {
        std::lock_guard guard(w.Engine().engineLock());
        return w.TheSetup().playingMeasure;
    }

    EditingInput input;
    EditingWindow w;
};

// ---- Spreading an edit over the visible steps ------------------------------------------------

TEST_F(ControllerTest, ShiftAddsAVelocityChangeToEveryVisibleStepClampedAtTheControlsMaximum) {
    w.ShowColumns(6);
    SetVelocities({50, 125, 0, 100, 120, 7, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90});
    input.shift = true;
    input.control = true;  // the arrow steps by 10 with Ctrl
    w.Click(VelocityUp(3));

    EXPECT_EQ(Velocities(),
              (std::vector<int>{60, 127, 10, 110, 127, 17, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90}));
    EXPECT_EQ(Column(1).GetValue(kVelocity), 127);
    EXPECT_EQ(Column(4).GetValue(kVelocity), 127);
    EXPECT_EQ(Column(6).GetValue(kVelocity), 90);
    EXPECT_EQ(w.Status(), "110");
    EXPECT_TRUE(w.TheSetup().dirty);
}

TEST_F(ControllerTest, ShiftAltSetsEveryVisibleStepToTheEditedValue) {
    w.ShowColumns(6);
    SetVelocities({50, 125, 0, 100, 120, 7, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90});
    input.shift = true;
    input.alt = true;
    input.control = true;
    w.Click(VelocityUp(3));

    EXPECT_EQ(Velocities(), (std::vector<int>{110, 110, 110, 110, 110, 110, 90, 90, 90, 90, 90,
                                              90, 90, 90, 90, 90}));
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(Column(c).GetValue(kVelocity), 110) << "column " << c;
    }
    EXPECT_EQ(w.Status(), "110");
}

TEST_F(ControllerTest, WithoutShiftOnlyTheEditedStepChanges) {
    w.ShowColumns(6);
    SetVelocities({50, 125, 0, 100, 120, 7, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90});
    input.alt = true;  // Alt alone spreads nothing
    w.Click(VelocityUp(3));

    EXPECT_EQ(Velocities(),
              (std::vector<int>{50, 125, 0, 101, 120, 7, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90}));
    EXPECT_EQ(w.Status(), "101");
}

TEST_F(ControllerTest, ShiftInvertsTheOtherVisibleOnFlagsWhateverTheEdit) {
    w.ShowColumns(5);
    const std::vector<int> flags{1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
    for (int i = 0; i < 16; ++i) {
        w.WriteStep(0, i, MakeStep(flags[static_cast<std::size_t>(i)], {0}, 0, 100, 64, 4));
    }
    input.shift = true;

    // Step 0 switched off: the steps that were off come on, and the others go off.
    w.Click(Column(0).GetOnOff().GetRect());
    std::vector<int> on;
    for (const Step& step : Selected().steps) {
        on.push_back(step.on);
    }
    EXPECT_EQ(on, (std::vector<int>{0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}));
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(Column(c).GetValue(kOn), on[static_cast<std::size_t>(c)]) << "column " << c;
    }

    // Switching step 2 on inverts the others just the same.
    w.Click(Column(2).GetOnOff().GetRect());
    on.clear();
    for (const Step& step : Selected().steps) {
        on.push_back(step.on);
    }
    EXPECT_EQ(on, (std::vector<int>{1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(w.Status(), "1");
}

class ChordSpreadTest : public ControllerTest {
protected:
    void SetUp() override {
        w.ShowColumns(5);
        w.WriteStep(0, 0, MakeStep(1, {-3, 0, 3}, 0, 100, 64, 4));
        w.WriteStep(0, 1, MakeStep(1, {5}, 0, 100, 64, 4));
        w.WriteStep(0, 2, MakeStep(1, {0, 4, 7}, 0, 100, 64, 4));
        w.WriteStep(0, 3, MakeStep(1, {0}, 0, 100, 64, 4));
        w.WriteStep(0, 4, MakeStep(1, {60, 66}, 0, 100, 64, 4));
        w.WriteStep(0, 5, MakeStep(1, {1, 2}, 0, 100, 64, 4));
        // A step read without notes: its column shows the chord as the single note 0.
        {
            std::lock_guard guard(w.Engine().engineLock());
            StepAt(3).notes = IntArray();
        }
        w.Panel().ShowStatus("before");
        w.TheSetup().dirty = false;
    }

    // The user commits 2,6,9 in step 2's note field.
    void CommitChordInColumn2() {
        Column(2).SetNotes(IntArray{2, 6, 9});
        w.Window().OnControlEvent(EV_EDIT_CHANGED, 0, 0, columnId(2) + kRoot + kFieldPart);
    }
};

TEST_F(ChordSpreadTest, ShiftMovesEveryOtherVisibleChordByTheChangeOfTheRoot) {
    input.shift = true;
    CommitChordInColumn2();

    EXPECT_EQ(Notes(StepAt(2).notes), (std::vector<std::int32_t>{2, 6, 9}));
    EXPECT_EQ(Notes(StepAt(0).notes), (std::vector<std::int32_t>{-1, 2, 5}));
    EXPECT_EQ(Notes(StepAt(1).notes), (std::vector<std::int32_t>{7}));
    // The empty step counted as the single note 0.
    EXPECT_EQ(Notes(StepAt(3).notes), (std::vector<std::int32_t>{2}));
    // Each note stops at the top of the note control's range.
    EXPECT_EQ(Notes(StepAt(4).notes), (std::vector<std::int32_t>{62, 67}));
    EXPECT_EQ(Notes(StepAt(5).notes), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(Notes(Column(4).GetNotes()), (std::vector<std::int32_t>{62, 67}));
    EXPECT_EQ(w.Status(), "before");
    EXPECT_TRUE(w.TheSetup().dirty);
    // The commit of a typed value took the undo snapshot first.
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, 0);
    EXPECT_EQ(Notes(w.TheSetup().undoMeasure.steps[2].notes), (std::vector<std::int32_t>{0, 4, 7}));
}

TEST_F(ChordSpreadTest, ARootAtTheEndOfThe32BitRangeMovesTheOthersWithoutOverflow) {
    {
        std::lock_guard guard(w.Engine().engineLock());
        StepAt(2).notes = IntArray{INT32_MIN};  // as a damaged file or clipboard leaves it
    }
    input.shift = true;
    CommitChordInColumn2();
    // Every other root is held at the top of the 32-bit range, whose low 16 bits (-1) are what
    // a column takes as its root; wrapped around, step 1's root would have become 7.
    EXPECT_EQ(Notes(StepAt(2).notes), (std::vector<std::int32_t>{2, 6, 9}));
    EXPECT_EQ(Notes(StepAt(0).notes), (std::vector<std::int32_t>{-1, 2, 5}));
    EXPECT_EQ(Notes(StepAt(1).notes), (std::vector<std::int32_t>{-1}));
}

TEST_F(ChordSpreadTest, ShiftAltGivesEveryVisibleStepTheSameChord) {
    input.shift = true;
    input.alt = true;
    CommitChordInColumn2();

    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Notes(StepAt(i).notes), (std::vector<std::int32_t>{2, 6, 9})) << "step " << i;
        EXPECT_EQ(Notes(Column(i).GetNotes()), (std::vector<std::int32_t>{2, 6, 9}));
    }
    EXPECT_EQ(Notes(StepAt(5).notes), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(ChordSpreadTest, WithoutShiftOnlyTheCommittedStepTakesTheChord) {
    CommitChordInColumn2();
    EXPECT_EQ(Notes(StepAt(2).notes), (std::vector<std::int32_t>{2, 6, 9}));
    EXPECT_EQ(Notes(StepAt(0).notes), (std::vector<std::int32_t>{-3, 0, 3}));
    EXPECT_TRUE(StepAt(3).notes.empty());
}

TEST_F(ControllerTest, AGeneralMidiProgramChoiceSpreadsLikeAnyValue) {
    w.ShowColumns(3);
    for (int i = 0; i < 16; ++i) {
        w.WriteStep(0, i, MakeStep(1, {0}, 5, 100, 64, 4));
    }
    input.shift = true;
    input.alt = true;
    w.Controller().ChooseProgram(1, -1);
    EXPECT_EQ(Programs(), (std::vector<int>{-1, -1, -1, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}));
    EXPECT_EQ(w.Status(), "-1");
}

TEST_F(ControllerTest, HiddenColumnsTakeTheirStepsWithoutShowingAndShowThemWhenUncovered) {
    w.ShowColumns(4);
    for (int i = 0; i < 16; ++i) {
        w.WriteStep(0, i, MakeStep(i % 2, {i - 8, i}, i, 20 + i, 30 + i, i));
    }
    for (int c = 4; c < 16; ++c) {
        SCOPED_TRACE(c);
        EXPECT_FALSE(Column(c).IsVisible());
        EXPECT_FALSE(Column(c).GetOnOff().IsVisible());
        EXPECT_TRUE(FieldHidden(Column(c).GetNoteDial()));
        EXPECT_EQ(Column(c).GetValue(kVelocity), 20 + c);
        EXPECT_EQ(Notes(Column(c).GetNotes()), (std::vector<std::int32_t>{c - 8, c}));
    }
    // Uncovered later, a column shows its step at once, fields included.
    w.ShowColumns(6);
    EXPECT_TRUE(Column(5).IsVisible());
    EXPECT_FALSE(FieldHidden(Column(5).GetNoteDial()));
    EXPECT_EQ(Column(5).GetValue(kOn), 1);
    EXPECT_EQ(Column(5).GetValue(kProgram), 5);
    EXPECT_EQ(Column(5).GetValue(kPan), 35);
    EXPECT_EQ(Column(5).GetValue(kDuration), 5);
    EXPECT_FALSE(Column(6).IsVisible());
}

// ---- Edit commands -------------------------------------------------------------------------

struct ShiftCase {
    int visible;
    bool right;
    std::vector<int> programs;
};

class ShiftStepsTest : public ControllerTest, public ::testing::WithParamInterface<ShiftCase> {};

TEST_P(ShiftStepsTest, RotatesOnlyTheVisibleStepsAndTakesNoSnapshot) {
    const ShiftCase& c = GetParam();
    w.ShowColumns(c.visible);
    SetNumberedSteps();
    w.Window().onCommand(c.right ? ID_SHIFT_RIGHT : ID_SHIFT_LEFT);

    std::vector<int> expected = c.programs;
    for (int i = static_cast<int>(expected.size()); i < 16; ++i) {
        expected.push_back(i);
    }
    EXPECT_EQ(Programs(), expected);
    for (int i = 0; i < c.visible; ++i) {
        // Whole steps move: the velocity travels with the program.
        EXPECT_EQ(StepAt(i).velocity, 10 + expected[static_cast<std::size_t>(i)]);
        EXPECT_EQ(Column(i).GetValue(kProgram), expected[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, -1);
    EXPECT_TRUE(w.TheSetup().dirty);
}

INSTANTIATE_TEST_SUITE_P(
    Rotations, ShiftStepsTest,
    ::testing::Values(ShiftCase{4, true, {3, 0, 1, 2}}, ShiftCase{4, false, {1, 2, 3, 0}},
                      ShiftCase{1, true, {0}}, ShiftCase{1, false, {0}},
                      ShiftCase{16, true, {15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}}));

TEST_F(ControllerTest, ExpandVisibleDoublesTwiceThenDoesNothing) {
    w.ShowColumns(4);
    SetNumberedSteps();
    const std::vector<StepValues> original = ValuesOf(Selected());

    w.Window().onCommand(ID_EXPAND_VISIBLE);
    ASSERT_EQ(w.TheSetup().stepsPerMeasure, 8);
    EXPECT_EQ(w.Panel().VisibleColumns(), 8);
    for (int k = 0; k < 4; ++k) {
        StepValues silent = original[static_cast<std::size_t>(k)];
        silent.on = 0;
        EXPECT_EQ(ValuesOf(StepAt(2 * k)), original[static_cast<std::size_t>(k)]) << "step " << 2 * k;
        EXPECT_EQ(ValuesOf(StepAt(2 * k + 1)), silent) << "step " << 2 * k + 1;
        EXPECT_EQ(Column(2 * k + 1).GetValue(kOn), 0);
        EXPECT_EQ(Column(2 * k + 1).GetValue(kProgram), k);
    }
    for (int i = 8; i < 16; ++i) {
        EXPECT_EQ(ValuesOf(StepAt(i)), original[static_cast<std::size_t>(i)]);
    }
    // The snapshot was taken before the steps changed.
    EXPECT_EQ(ValuesOf(w.TheSetup().undoMeasure), original);
    EXPECT_TRUE(w.TheSetup().dirty);

    w.Window().onCommand(ID_EXPAND_VISIBLE);
    ASSERT_EQ(w.TheSetup().stepsPerMeasure, 16);
    EXPECT_EQ(w.Panel().VisibleColumns(), 16);
    const std::vector<StepValues> twice = ValuesOf(Selected());
    const std::vector<StepValues> snapshotOfTheSecond = ValuesOf(w.TheSetup().undoMeasure);
    EXPECT_EQ(twice[4], original[1]);
    EXPECT_EQ(twice[8], original[2]);
    EXPECT_EQ(twice[12], original[3]);
    EXPECT_EQ(twice[13].on, 0);

    w.TheSetup().dirty = false;
    w.Window().onCommand(ID_EXPAND_VISIBLE);
    EXPECT_EQ(w.TheSetup().stepsPerMeasure, 16);
    EXPECT_EQ(ValuesOf(Selected()), twice);
    EXPECT_EQ(ValuesOf(w.TheSetup().undoMeasure), snapshotOfTheSecond);
    EXPECT_FALSE(w.TheSetup().dirty);

    // Undo brings the steps back but leaves every column showing.
    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(ValuesOf(Selected()), snapshotOfTheSecond);
    EXPECT_EQ(w.TheSetup().stepsPerMeasure, 16);
}

TEST_F(ControllerTest, RandomizeRedrawsAllSixteenStepsButKeepsTheOnFlags) {
    w.ShowColumns(4);
    for (int i = 0; i < 16; ++i) {
        // Duration 30 is never drawn, so every step shows whether it was redrawn.
        w.WriteStep(0, i, MakeStep(i % 3 == 0 ? 0 : 1, {0, 4, 7}, 0, 100, 64, 30));
    }
    w.Window().onCommand(ID_RANDOMIZE);

    for (int i = 0; i < 16; ++i) {
        const Step& step = StepAt(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(step.on, i % 3 == 0 ? 0 : 1);
        EXPECT_GE(step.duration, 0);
        EXPECT_LE(step.duration, 16);
        EXPECT_GE(step.program, 0);
        EXPECT_LE(step.program, 127);
        EXPECT_GE(step.velocity, 0);
        EXPECT_LE(step.velocity, 127);
        EXPECT_GE(step.pan, 0);
        EXPECT_LE(step.pan, 127);
        // The chord keeps its shape; its root lands on -60..67.
        ASSERT_EQ(step.notes.size(), 3);
        EXPECT_GE(step.notes[0], -60);
        EXPECT_LE(step.notes[0], 67);
        EXPECT_EQ(step.notes[1] - step.notes[0], 4);
        EXPECT_EQ(step.notes[2] - step.notes[0], 7);
        if (i < 4) {
            EXPECT_EQ(Column(i).GetValue(kDuration), step.duration);
            EXPECT_EQ(Column(i).GetValue(kPan), step.pan);
        }
    }
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, 0);
    EXPECT_EQ(w.TheSetup().undoMeasure.steps[5].duration, 30);
    EXPECT_TRUE(w.TheSetup().dirty);
}

TEST_F(ControllerTest, SettingCommandsToggleTheirSettingAndKeepTheControlsInStep) {
    w.TheSetup().polyphonic = 1;
    w.Window().onCommand(ID_POLYPHONIC);
    EXPECT_EQ(w.TheSetup().polyphonic, 0);
    EXPECT_TRUE(w.TheSetup().dirty);

    w.TheSetup().dirty = false;
    w.Window().onCommand(ID_MUTE_COMMAND);
    EXPECT_EQ(w.TheSetup().mute, 1);
    EXPECT_EQ(w.Panel().MuteButton().GetState(), 0);
    EXPECT_TRUE(w.TheSetup().dirty);
    w.Window().onCommand(ID_MUTE_COMMAND);
    EXPECT_EQ(w.TheSetup().mute, 0);
    EXPECT_EQ(w.Panel().MuteButton().GetState(), 1);

    // Choosing the tempo display already in use changes nothing.
    w.TheSetup().dirty = false;
    w.Window().onCommand(ID_BEATS_PER_MINUTE);
    EXPECT_FALSE(w.TheSetup().dirty);
    w.Window().onCommand(ID_SAMPLES_PER_MEASURE);
    EXPECT_EQ(w.TheSetup().tempoEditMode, 1);
    EXPECT_EQ(w.Panel().TempoDial().GetMode(), 1);
    EXPECT_TRUE(w.TheSetup().dirty);
}

TEST_F(ControllerTest, KillAllSoundSendsAllNotesOffOnEverySixteenChannelsAndLeavesTheSetup) {
    w.Midi().Take();
    w.Window().onCommand(ID_KILL_ALL_SOUND);
    std::vector<MidiRecord::Bytes> expected;
    for (int status = 0xB0; status <= 0xBF; ++status) {
        expected.push_back({static_cast<std::uint8_t>(status), 0x7B, 0x00});
    }
    EXPECT_EQ(w.Midi().Take(), expected);
    EXPECT_FALSE(w.TheSetup().dirty);
}

TEST_F(ControllerTest, ASharedClockHearsOfATempoBeforeTheEngineReadsItsNextStepFromIt) {
    w.Engine().start(true);
    const double before = w.Engine().period();
    double periodWhenHeard = 0.0;
    w.Controller().SetTempoListener([&](double) { periodWhenHeard = w.Engine().period(); });
    w.Controller().SetBpm(200.0);
    EXPECT_EQ(periodWhenHeard, before) << "the engine was retimed before the clock heard";
    EXPECT_EQ(w.Engine().period(), Player::periodForBpm(200.0));
    w.Controller().SetTempoListener({});
    w.Engine().stop(true);
}

// ---- Undo ----------------------------------------------------------------------------------

TEST_F(ControllerTest, UndoBeforeAnySnapshotChangesNothing) {
    w.Controller().SetBpm(90.0);
    w.Controller().SetVolume(33);
    w.Controller().SetTranspose(4);
    const std::vector<StepValues> before = ValuesOf(Selected());
    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(w.TheSetup().bpm, 90.0);
    EXPECT_EQ(w.TheSetup().volume, 33);
    EXPECT_EQ(w.TheSetup().transpose, 4);
    EXPECT_EQ(w.TheSetup().mute, 0);
    EXPECT_EQ(w.Panel().TempoDial().GetTempo(), 90.0);
    EXPECT_EQ(ValuesOf(Selected()), before);
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, -1);
}

TEST_F(ControllerTest, RandomizeUndoUndoEndsRandomized) {
    const std::vector<StepValues> before = ValuesOf(Selected());
    w.Window().onCommand(ID_RANDOMIZE);
    const std::vector<StepValues> randomized = ValuesOf(Selected());
    ASSERT_NE(randomized, before);

    w.TheSetup().dirty = false;
    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(ValuesOf(Selected()), before);
    EXPECT_EQ(Column(0).GetValue(kVelocity), before[0].velocity);
    EXPECT_FALSE(w.TheSetup().dirty);  // Undo leaves the changed flag alone
    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(ValuesOf(Selected()), randomized);
    EXPECT_EQ(Column(0).GetValue(kVelocity), randomized[0].velocity);
}

TEST_F(ControllerTest, UndoOfATempoChangeRetimesTheRunningClock) {
    w.Controller().SetBpm(600.0);
    StartPlaying();
    const MRect tempoUp = w.Panel().TempoDial().GetUpButton().GetRect();
    w.Click(tempoUp);  // the press takes the snapshot, the release raises the tempo a semitone
    const double raised = w.TheSetup().bpm;
    ASSERT_GT(raised, 600.0);
    EXPECT_TRUE(w.TheSetup().dirty);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.Engine().period() == Player::periodForBpm(raised); }, 20000));

    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(w.TheSetup().bpm, 600.0);
    EXPECT_EQ(w.Panel().TempoDial().GetTempo(), 600.0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.Engine().period() == Player::periodForBpm(600.0); }, 20000));
    EXPECT_TRUE(w.Engine().isRunning());

    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(w.TheSetup().bpm, raised);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.Engine().period() == Player::periodForBpm(raised); }, 20000));
}

TEST_F(ControllerTest, UndoInAnotherMeasureExchangesOnlyTheFourSettings) {
    w.Click(LoopSelector(1));
    ASSERT_EQ(w.TheSetup().selectedMeasure, 1);
    w.Controller().SetBpm(100.0);
    w.Controller().SetVolume(50);
    w.Controller().SetTranspose(3);
    w.Click(VelocityUp(0));  // snapshot in measure 2, then an edit there
    ASSERT_EQ(w.TheSetup().undoMeasureIndex, 1);
    const std::vector<StepValues> measure2 = ValuesOf(w.TheSetup().measures[1]);

    w.Controller().SetBpm(140.0);
    w.Controller().SetVolume(70);
    w.Controller().SetTranspose(-5);
    w.Window().onCommand(ID_MUTE_COMMAND);
    w.Click(LoopSelector(2));
    ASSERT_EQ(w.TheSetup().selectedMeasure, 2);
    const std::vector<StepValues> measure3 = ValuesOf(w.TheSetup().measures[2]);

    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(ValuesOf(w.TheSetup().measures[2]), measure3);
    EXPECT_EQ(ValuesOf(w.TheSetup().measures[1]), measure2);
    EXPECT_EQ(w.TheSetup().bpm, 100.0);
    EXPECT_EQ(w.TheSetup().volume, 50);
    EXPECT_EQ(w.TheSetup().transpose, 3);
    EXPECT_EQ(w.TheSetup().mute, 0);
    EXPECT_EQ(w.Panel().TempoDial().GetTempo(), 100.0);
    EXPECT_EQ(w.Panel().VolumeDial().GetValue(), 50);
    EXPECT_EQ(w.Panel().TransposeDial().GetValue(), 3);
    EXPECT_EQ(w.Panel().MuteButton().GetState(), 1);
    EXPECT_EQ(w.TheSetup().undoBpm, 140.0);
    EXPECT_EQ(w.TheSetup().undoVolume, 70);
    EXPECT_EQ(w.TheSetup().undoTranspose, -5);
    EXPECT_EQ(w.TheSetup().undoMute, 1);
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, 1);
}

TEST_F(ControllerTest, ShiftRightTakesNoSnapshotSoUndoAlsoReversesTheShift) {
    w.ShowColumns(4);
    SetNumberedSteps();
    const std::vector<StepValues> before = ValuesOf(Selected());
    w.Click(VelocityUp(0));
    w.Window().onCommand(ID_SHIFT_RIGHT);
    ASSERT_EQ(StepAt(1).velocity, 11);  // the edited step 0 moved to step 1

    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(ValuesOf(Selected()), before);
    EXPECT_EQ(Column(0).GetValue(kVelocity), 10);
    EXPECT_EQ(Column(1).GetValue(kVelocity), 11);
}

// ---- Secondary clicks ----------------------------------------------------------------------

TEST_F(ControllerTest, SecondaryClickOnAPanControlCentresThatStep) {
    for (int i = 0; i < 16; ++i) {
        w.WriteStep(0, i, MakeStep(1, {0}, 0, 100, 10 + i, 4));
    }
    input.shift = true;  // the change is 0 once the step holds 64: nothing else moves
    w.SecondaryClick(Column(5).GetPanDial().GetBar().GetRect());

    EXPECT_EQ(StepAt(5).pan, 64);
    EXPECT_EQ(Column(5).GetValue(kPan), 64);
    EXPECT_EQ(w.Status(), "64");
    EXPECT_TRUE(w.TheSetup().dirty);
    EXPECT_EQ(StepAt(4).pan, 14);
    EXPECT_EQ(StepAt(6).pan, 16);
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, 0);
    EXPECT_EQ(w.TheSetup().undoMeasure.steps[5].pan, 15);
}

TEST_F(ControllerTest, SecondaryClickOnAPanControlWithShiftAltCentresEveryVisibleStep) {
    w.ShowColumns(8);
    for (int i = 0; i < 16; ++i) {
        w.WriteStep(0, i, MakeStep(1, {0}, 0, 100, 10 + i, 4));
    }
    input.shift = true;
    input.alt = true;
    w.SecondaryClick(Column(5).GetPanDial().GetBar().GetRect());
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(StepAt(i).pan, i < 8 ? 64 : 10 + i) << "step " << i;
    }
}

TEST_F(ControllerTest, SecondaryClicksOnTheVolumeAndTransposeDialsRestoreTheirDefaults) {
    w.Controller().SetVolume(30);
    w.Controller().SetTranspose(7);
    ASSERT_FALSE(w.TheSetup().dirty);

    w.SecondaryClick(w.Panel().VolumeDial().GetBar().GetRect());
    EXPECT_EQ(w.TheSetup().volume, 80);
    EXPECT_EQ(w.Panel().VolumeDial().GetValue(), 80);
    EXPECT_TRUE(w.TheSetup().dirty);
    EXPECT_EQ(w.TheSetup().undoVolume, 30);

    w.SecondaryClick(w.Panel().TransposeDial().GetUpButton().GetRect());
    EXPECT_EQ(w.TheSetup().transpose, 0);
    EXPECT_EQ(w.Panel().TransposeDial().GetValue(), 0);
    EXPECT_EQ(w.TheSetup().undoTranspose, 7);

    w.CtrlKey(Qt::Key_Z);
    EXPECT_EQ(w.TheSetup().transpose, 7);
    EXPECT_EQ(w.TheSetup().volume, 80);
}

// ---- Presses and loop selection ------------------------------------------------------------

TEST_F(ControllerTest, PressesOnLoopSelectorsAndMenuButtonsTakeNoSnapshot) {
    w.Press(LoopSelector(3));
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, -1);
    EXPECT_FALSE(w.TheSetup().dirty);
    w.Release(LoopSelector(3));
    EXPECT_EQ(w.TheSetup().selectedMeasure, 3);
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, -1);

    for (MBmpButton* button : {&w.Panel().Menu().FileButton(), &w.Panel().Menu().EditButton(),
                               &w.Panel().Menu().MidiButton()}) {
        w.TheSetup().dirty = false;
        w.Press(button->GetRect());
        EXPECT_EQ(w.TheSetup().undoMeasureIndex, -1);
        EXPECT_FALSE(w.TheSetup().dirty);
        // Leave the button before letting go, so that no menu opens.
        const QPoint away(60, 125);
        QTest::mouseMove(&w.Window(), away);
        QTest::mouseRelease(&w.Window(), Qt::LeftButton, Qt::NoModifier, away);
    }
}

TEST_F(ControllerTest, APressOnPlayTakesTheSnapshotAndMarksTheSetupChanged) {
    w.Click(LoopSelector(2));
    w.TheSetup().dirty = false;
    const std::vector<StepValues> measure3 = ValuesOf(Selected());
    w.Press(w.Panel().PlayButton().GetRect());
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, 2);
    EXPECT_TRUE(w.TheSetup().dirty);
    EXPECT_EQ(ValuesOf(w.TheSetup().undoMeasure), measure3);
    EXPECT_FALSE(w.Engine().isRunning());  // playing starts on the release
    w.Release(w.Panel().PlayButton().GetRect());
    EXPECT_TRUE(w.Engine().isRunning());
}

TEST_F(ControllerTest, SelectingALoopWhilePlayingMovesPlaybackUnlessCtrlIsHeld) {
    // A measure lasts 12 s at 20 BPM: the only "measure playing" news the clock sends during
    // the test is the one of the start, handled before any loop is chosen.
    w.Controller().SetBpm(20.0);
    StartPlaying();
    QCoreApplication::processEvents();
    ASSERT_EQ(PlayingMeasure(), 0);
    ASSERT_EQ(w.TheSetup().undoMeasureIndex, 0);  // the press on play took it

    w.TheSetup().dirty = false;
    w.Click(LoopSelector(2));
    EXPECT_EQ(w.TheSetup().selectedMeasure, 2);
    EXPECT_EQ(PlayingMeasure(), 2);
    EXPECT_EQ(w.Panel().LoopGroup().GetSelected(), 2);
    EXPECT_EQ(w.Panel().LoopGroup().GetHighlighted(), 2);
    EXPECT_TRUE(w.TheSetup().dirty);
    EXPECT_EQ(Column(0).GetValue(kVelocity), w.TheSetup().measures[2].steps[0].velocity);

    // Ctrl: edit measure 5 while measure 3 goes on playing (each measure repeats itself).
    input.control = true;
    w.Click(LoopSelector(4));
    EXPECT_EQ(w.TheSetup().selectedMeasure, 4);
    EXPECT_EQ(PlayingMeasure(), 2);
    EXPECT_EQ(w.Panel().LoopGroup().GetHighlighted(), 2);
    EXPECT_EQ(Column(0).GetValue(kVelocity), w.TheSetup().measures[4].steps[0].velocity);

    // The loop already selected: nothing changed for the file, but now it plays.
    input.control = false;
    w.TheSetup().dirty = false;
    w.Click(LoopSelector(4));
    EXPECT_FALSE(w.TheSetup().dirty);
    EXPECT_EQ(PlayingMeasure(), 4);
    // No selector press replaced the snapshot taken in loop 1.
    EXPECT_EQ(w.TheSetup().undoMeasureIndex, 0);
}

TEST_F(ControllerTest, SelectingALoopWhileStoppedLeavesPlaybackAlone) {
    w.Click(LoopSelector(6));
    EXPECT_EQ(w.TheSetup().selectedMeasure, 6);
    EXPECT_EQ(PlayingMeasure(), 0);
    EXPECT_TRUE(w.TheSetup().dirty);
}

TEST_F(ControllerTest, TheVolumeAndTransposeDialsWriteTheSetup) {
    w.Controller().SetVolume(50);
    w.Controller().SetTranspose(0);
    w.Click(w.Panel().VolumeDial().GetUpButton().GetRect());
    EXPECT_EQ(w.TheSetup().volume, 51);
    EXPECT_TRUE(w.TheSetup().dirty);
    EXPECT_EQ(w.TheSetup().undoVolume, 50);
    w.Click(w.Panel().TransposeDial().GetDownButton().GetRect());
    EXPECT_EQ(w.TheSetup().transpose, -1);
}

}  // namespace
