// Edits against playback: the real step clock plays at a high tempo on its own thread while the
// window thread edits the very measure being played through the controller (values spread with
// Shift and Alt, chords that grow and shrink, Randomize, Undo, shifting, expanding, loop
// changes and tempo changes). The engine must keep playing, and the controller's columns,
// steps and undo must still agree at the end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <random>

#include "EditingTestSupport.h"
#include "core/Player.h"
#include "core/StepValue.h"
#include "panels/CommandIds.h"
#include "panels/PanelIds.h"
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

// At 30,000 BPM a step lasts half a millisecond: the clock plays one every millisecond, its
// fastest, so every edit below races a step.
constexpr double kFastTempo = 30000.0;
// Enough of both sides: thousands of edits while the clock plays thousands of steps.
constexpr int kMinimumEdits = 6000;
constexpr std::uint64_t kMinimumClockFirings = 3000;
constexpr int kMostEdits = 5'000'000;

class EditStorm {
public:
    EditStorm(EditingWindow& window, EditingInput& input) : w_(window), input_(input) {}

    void OneEdit() {
        SetupController& controller = w_.Controller();
        const int visible = w_.TheSetup().stepsPerMeasure;
        const int column = Below(visible);
        input_.shift = Below(3) == 0;
        input_.alt = Below(2) == 0;
        input_.control = false;
        switch (Below(12)) {
            case 0:
            case 1: {
                static constexpr int kValues[] = {kOn, kProgram, kVelocity, kPan, kDuration};
                const int value = kValues[Below(5)];
                controller.OnPressAction(columnId(column) + value + 1);
                w_.Panel().Column(column).SetValue(value, Below(140) - 5);
                controller.WriteBackValue(column, value);
                break;
            }
            case 2:
            case 3: {
                // Chords of 1 to 48 notes: the step's note array is reallocated under the
                // clock's feet every time it grows.
                IntArray chord;
                const int size = 1 + Below(48);
                for (int i = 0; i < size; ++i) {
                    chord.add(Below(127) - 59);
                }
                w_.Panel().Column(column).SetNotes(chord);
                w_.Window().OnControlEvent(EV_EDIT_CHANGED, 0, 0, columnId(column) + kRoot + 3);
                break;
            }
            case 4:
                w_.Window().onCommand(ID_RANDOMIZE);
                break;
            case 5:
                w_.Window().onCommand(ID_UNDO);
                break;
            case 6:
                w_.Window().onCommand(Below(2) == 0 ? ID_SHIFT_LEFT : ID_SHIFT_RIGHT);
                break;
            case 7:
                // Few visible steps half of the time: the clock then plays the very steps
                // being edited, over and over.
                if (visible > 4) {
                    w_.ShowColumns(1 + Below(4));
                } else {
                    w_.Window().onCommand(ID_EXPAND_VISIBLE);
                }
                break;
            case 8:
                // Mostly without Ctrl, so that the edited measure is mostly the one playing.
                input_.control = Below(4) == 0;
                controller.OnValueChanged(PanelIds::ID_LOOPS + 1 + Below(8));
                break;
            case 9:
                controller.OnSecondaryAction(columnId(column) + kPan + 4);
                break;
            case 10:
                controller.SetBpm(kFastTempo / 2 + Below(static_cast<int>(kFastTempo)));
                break;
            default:
                w_.Window().onCommand(Below(2) == 0 ? ID_POLYPHONIC : ID_MUTE_COMMAND);
                break;
        }
    }

private:
    int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

    EditingWindow& w_;
    EditingInput& input_;
    std::mt19937 random_{20261207u};
};

TEST(EditingStress, EditsRaceFastPlaybackWithoutBreakingTheEngineOrTheUndo) {
    EditingInput input;
    EditingWindow w;
    w.Controller().SetBpm(kFastTempo);
    w.Click(w.Panel().PlayButton().GetRect());
    ASSERT_TRUE(w.Engine().isRunning());

    EditStorm storm(w, input);
    const std::uint64_t firingsAtStart = w.Window().clock().firings();
    int edits = 0;
    while (edits < kMostEdits && (edits < kMinimumEdits || w.Window().clock().firings() -
                                                               firingsAtStart <
                                                           kMinimumClockFirings)) {
        storm.OneEdit();
        ++edits;
        // Between two user actions the window repaints what the edit changed and handles the
        // engine's posted messages (step played, measure playing). The clock plays on during
        // the repaint, which takes no lock: a write of the playing data made without the
        // engine lock would meet the clock's reading of it there.
        w.Window().repaint();
        QCoreApplication::processEvents();
        if (!w.Engine().isRunning()) {
            w.Click(w.Panel().PlayButton().GetRect());
        }
    }
    ASSERT_GE(w.Window().clock().firings() - firingsAtStart, kMinimumClockFirings);
    ASSERT_TRUE(w.Engine().isRunning());
    EXPECT_GT(w.Midi().Count(), 0u);
    input.shift = false;
    input.alt = false;
    input.control = false;

    // Still playing: the selected measure's columns show exactly its steps.
    ::Setup& setup = w.TheSetup();
    const int visible = setup.stepsPerMeasure;
    ASSERT_GE(visible, 1);
    ASSERT_LE(visible, 16);
    EXPECT_EQ(w.Panel().VisibleColumns(), visible);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        Step& step = w.StepOf(setup.selectedMeasure, i);
        MStepColumn& column = w.Panel().Column(i);
        EXPECT_EQ(column.GetValue(kOn), step.on);
        EXPECT_EQ(column.GetValue(kProgram), step.program);
        EXPECT_EQ(column.GetValue(kVelocity), step.velocity);
        EXPECT_EQ(column.GetValue(kPan), step.pan);
        EXPECT_EQ(column.GetValue(kDuration), step.duration);
        const IntArray& shown = column.GetNotes();
        EXPECT_EQ(std::vector<std::int32_t>(shown.begin(), shown.end()),
                  std::vector<std::int32_t>(step.notes.begin(), step.notes.end()));
    }

    // Undo still toggles exactly between two states while the clock plays.
    const std::vector<StepValues> before = ValuesOf(setup.measures[static_cast<std::size_t>(
        setup.selectedMeasure)]);
    w.Window().onCommand(ID_RANDOMIZE);
    const std::vector<StepValues> randomized =
        ValuesOf(setup.measures[static_cast<std::size_t>(setup.selectedMeasure)]);
    w.Window().onCommand(ID_UNDO);
    EXPECT_EQ(ValuesOf(setup.measures[static_cast<std::size_t>(setup.selectedMeasure)]), before);
    w.Window().onCommand(ID_UNDO);
    EXPECT_EQ(ValuesOf(setup.measures[static_cast<std::size_t>(setup.selectedMeasure)]),
              randomized);

    // Every value that was ever written came through a control or Randomize: in range.
    for (const Measure& measure : setup.measures) {
        for (const Step& step : measure.steps) {
            EXPECT_TRUE(step.on == 0 || step.on == 1);
            EXPECT_GE(step.program, -1);
            EXPECT_LE(step.program, 127);
            EXPECT_GE(step.velocity, 0);
            EXPECT_LE(step.velocity, 127);
            EXPECT_GE(step.pan, 0);
            EXPECT_LE(step.pan, 127);
            EXPECT_GE(step.duration, 0);
            EXPECT_LE(step.duration, 17);
            // Randomize moves a chord's root and keeps its shape, so its other notes may lie
            // anywhere; but a chord is never left empty by an edit.
            EXPECT_FALSE(step.notes.empty());
        }
    }

    w.Click(w.Panel().PlayButton().GetRect());
    EXPECT_FALSE(w.Engine().isRunning());
}

}  // namespace
