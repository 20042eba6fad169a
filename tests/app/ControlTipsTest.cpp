// The tooltips of the main window and the loop panel: asked for as Qt asks, at the point of
// each kind of control, and the words chosen for values at their edges.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

#include "WindowTestSupport.h"
#include "panels/ControlTips.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/MRect.h"

namespace {

// The tooltip Qt shows for a hover at point of widget (in the widget's coordinates).
std::string TipAt(QWidget* widget, const QPoint& point) {
    QToolTip::hideText();
    QWidget* target = widget->childAt(point) != nullptr ? widget->childAt(point) : widget;
    QHelpEvent event(QEvent::ToolTip, target->mapFrom(widget, point), widget->mapToGlobal(point));
    QApplication::sendEvent(target, &event);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
}

QPoint CentreOf(const MWnd& control) {
    return WindowFixture::centreOf(control.GetRect());
}
QPoint CentreOf(const QWidget* field) {
    return field->geometry().center();
}

TEST(ControlTips, EveryKindOfControlInTheMainWindowSaysWhatItIsAndItsValue) {
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    MainPanel& panel = window.panel();
    MStepColumn& column = panel.Column(2);
    column.SetValue(static_cast<int>(StepValue::Velocity), 100);
    column.SetValue(static_cast<int>(StepValue::Pan), 20);
    column.SetValue(static_cast<int>(StepValue::Duration), 2);
    column.SetValue(static_cast<int>(StepValue::Program), 73);
    column.SetNotes(IntArray{0, 4, 7});
    column.GetOnOff().SetState(0);
    panel.VolumeDial().SetValue(80);
    panel.TransposeDial().SetValue(17);
    panel.TempoDial().SetTempo(126.0);
    window.setup().measures[2].repeats = 1;
    window.setup().measures[2].next = 3;

    const std::vector<std::pair<QPoint, std::string>> cases = {
        {CentreOf(column.GetVelocityDial().GetBar()), "Velocity 100"},
        {CentreOf(column.GetPanDial().GetBar()), "Pan 20 (left)"},
        {CentreOf(column.GetVelocityDial().GetUpButton()), "Velocity 100"},
        {CentreOf(column.GetDurationDial().GetBar()), "Duration 2 steps"},
        {CentreOf(column.GetProgramDial().GetField()), "Program 73: Flute"},
        {CentreOf(column.GetNoteDial().GetField()), "Chord 0,4,7 (root +0)"},
        {CentreOf(column.GetOnOff()), "Step 3 off"},
        {CentreOf(column.GetLabel()), "Step 3"},
        {CentreOf(panel.TransposeDial().GetBar()), "Transpose +17"},
        {CentreOf(panel.VolumeDial().GetBar()), "Volume 80"},
        {CentreOf(panel.TempoDial().GetField()), "Tempo 126 BPM"},
        {WindowFixture::centreOf(panel.LoopGroup().GetElementRect(2)),
         "Loop 3: plays 1 time, then loop 4"},
        {CentreOf(panel.PlayButton()), "Play / stop (Space)"},
        {CentreOf(panel.MuteButton()), "Sound on (mute: Ctrl+M)"},
        {CentreOf(panel.Menu().MidiButton()), "MIDI menu"},
    };
    for (const auto& [point, expected] : cases) {
        EXPECT_EQ(TipAt(&window, point), expected) << point.x() << "," << point.y();
    }
    QToolTip::hideText();
}

TEST(ControlTips, TheLoopPanelsDialsSayWhereTheLoopGoesAndHowOften) {
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    window.setup().measures[1].next = 4;
    window.setup().measures[1].repeats = 3;
    window.panel().OpenLoopPopup(1);
    LoopPopup& popup = window.panel().Popup();
    ASSERT_TRUE(popup.isVisible());
    EXPECT_EQ(TipAt(&popup, CentreOf(popup.NextDial().GetField())), "Next: loop 5");
    EXPECT_EQ(TipAt(&popup, CentreOf(popup.RepeatsDial().GetUpButton())), "Repeats: plays 3 times");
    QToolTip::hideText();
}

TEST(ControlTips, ValuesAtTheirEdgesInAMusiciansWords) {
    EXPECT_EQ(ControlTips::Pan(64), "Pan 64 (centre)");
    EXPECT_EQ(ControlTips::Pan(63), "Pan 63 (left)");
    EXPECT_EQ(ControlTips::Pan(65), "Pan 65 (right)");
    EXPECT_EQ(ControlTips::Duration(0), "Duration: released at once");
    EXPECT_EQ(ControlTips::Duration(1), "Duration 1 step");
    EXPECT_EQ(ControlTips::Duration(16), "Duration 16 steps");
    EXPECT_EQ(ControlTips::Duration(17), "Duration: to the next note");
    EXPECT_EQ(ControlTips::Program(-1), "Program: none (no program change)");
    EXPECT_EQ(ControlTips::Program(0), "Program 0: Acoustic Grand Piano");
    EXPECT_EQ(ControlTips::Program(127), "Program 127: Gunshot");
    EXPECT_EQ(ControlTips::Chord(IntArray{-12, -5}), "Chord -12,-5 (root -12)");
    EXPECT_EQ(ControlTips::Transpose(0), "Transpose 0");
    EXPECT_EQ(ControlTips::Transpose(-59), "Transpose -59");
    EXPECT_EQ(ControlTips::Tempo("23456", 1), "Tempo 23456 samples per measure");
    EXPECT_EQ(ControlTips::Loop(7, 32, 0), "Loop 8: plays 32 times, then loop 1");
}

}  // namespace
