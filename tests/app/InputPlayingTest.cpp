// What the notes at the MIDI input do to the window: the chord collection of step recording,
// the transpose's limits, and where recorded steps go, fed straight to the window's objects.

#include <gtest/gtest.h>

#include <mutex>

#include "WindowTestSupport.h"
#include "app/ChordCollector.h"
#include "app/InputTransposer.h"
#include "app/StepRecorder.h"
#include "midi/ChannelMessage.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"

namespace {

ChannelMessage message(int status, int data1, int data2) {
    ChannelMessage made;
    made.status = static_cast<std::uint8_t>(status);
    made.data1 = static_cast<std::uint8_t>(data1);
    made.data2 = static_cast<std::uint8_t>(data2);
    return made;
}
ChannelMessage noteOn(int note, int velocity) {
    return message(0x90, note, velocity);
}
ChannelMessage noteOff(int note) {
    return message(0x80, note, 0);
}
ChannelMessage pedal(int value) {
    return message(0xB0, 64, value);
}

TEST(ChordCollector, OverlappingKeysMakeOneChordWithTheLoudestVelocity) {
    ChordCollector collector(-59, 67);
    collector.press(64, 40);
    collector.press(60, 90);
    EXPECT_FALSE(collector.release(64));
    collector.press(67, 70);
    collector.press(64, 20);  // played again while the chord is held: still one note
    EXPECT_FALSE(collector.release(60));
    EXPECT_FALSE(collector.release(67));
    const auto chord = collector.release(64);
    ASSERT_TRUE(chord);
    EXPECT_EQ(chord->offsets, (IntArray{0, 4, 7}));
    EXPECT_EQ(chord->velocity, 90);

    // A key let go that was never pressed (held from before) is no chord; the next chord
    // starts afresh.
    EXPECT_FALSE(collector.release(60));
    collector.press(62, 10);
    const auto next = collector.release(62);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->offsets, (IntArray{2}));
    EXPECT_EQ(next->velocity, 10);
}

TEST(ChordCollector, KeysBeyondTheChordRangeMergeAtItsEnds) {
    ChordCollector collector(-59, 67);
    for (const int key : {127, 2, 1, 0}) {
        collector.press(key, 64);
    }
    for (const int key : {0, 1, 127}) {
        EXPECT_FALSE(collector.release(key));
    }
    const auto chord = collector.release(2);
    ASSERT_TRUE(chord);
    EXPECT_EQ(chord->offsets, (IntArray{-59, -58, 67}));
}

class InputPlayingWindow : public testing::Test {
protected:
    Step& step(int index) {
        return setup.measures[static_cast<std::size_t>(setup.selectedMeasure)]
            .steps[static_cast<std::size_t>(index)];
    }
    bool chordFieldHasFocus(int column) {
        return window.window()->focusWidget() ==
               window.panel().Column(column).GetNoteDial().GetField();
    }

    WindowFixture fixture;
    MainWindow& window = fixture.window();
    ::Setup& setup = window.setup();
};

TEST_F(InputPlayingWindow, TransposeStaysWithinTheDialAndTheLastKeyHolds) {
    InputTransposer& transposer = window.transposer();
    transposer.onMessage(noteOn(72, 100));
    EXPECT_EQ(setup.transpose, 0) << "transposed while off";

    transposer.setEnabled(true);
    transposer.onMessage(noteOn(0, 100));
    EXPECT_EQ(setup.transpose, -59);
    EXPECT_EQ(window.panel().TransposeDial().GetValue(), -59);
    transposer.onMessage(noteOn(127, 100));
    transposer.onMessage(noteOff(127));
    transposer.onMessage(pedal(127));
    EXPECT_EQ(setup.transpose, 67);
    EXPECT_TRUE(setup.dirty);
    EXPECT_EQ(setup.undoMeasureIndex, -1) << "a key played is no edit to undo";
}

TEST_F(InputPlayingWindow, RecordingWrapsAtTheVisibleStepsIgnoresShiftAndWaitsForStop) {
    window.panel().FitWindowToColumns(4);
    ASSERT_EQ(window.panel().VisibleColumns(), 4);
    {
        std::lock_guard guard(window.player().engineLock());
        for (int i = 0; i < 16; ++i) {
            step(i).on = 1;
            step(i).setNotes(IntArray{0});
        }
    }
    StepRecorder& recorder = window.stepRecorder();
    recorder.setEnabled(true);
    HeldKeys keys;
    keys.shift = true;
    window.panel().Column(3).GetProgramDial().GetField()->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(recorder.targetStep(), 3);
    recorder.onMessage(pedal(127));
    EXPECT_EQ(step(3).on, 0);
    EXPECT_EQ(step(2).on, 1) << "spread to the other steps";
    EXPECT_TRUE(chordFieldHasFocus(0));

    window.player().toggle();
    ASSERT_TRUE(window.player().isRunning());
    recorder.onMessage(noteOn(65, 100));
    EXPECT_EQ(window.panel().StatusLine().GetText(), StepRecorder::kPlayingText);
    window.player().toggle();
    recorder.onMessage(noteOff(65));  // begun while playing: dropped whole
    recorder.onMessage(noteOn(69, 100));
    recorder.onMessage(noteOff(69));
    EXPECT_EQ(step(0).notes, (IntArray{9}));
    EXPECT_EQ(step(1).notes, (IntArray{0}));
    EXPECT_TRUE(chordFieldHasFocus(1));
}

}  // namespace
