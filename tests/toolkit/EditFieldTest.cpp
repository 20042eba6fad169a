// The real text fields: what typing, leaving and clicking report, and in which order.
#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QImage>
#include <QTest>

#include "ToolkitTestSupport.h"
#include "toolkit/MDial.h"
#include "toolkit/MEdit.h"
#include "toolkit/ToolkitEvents.h"

namespace {

using Event = TestHost::Event;

DialParams FieldDial(int id, int x, ControlHost* host) {
    return DialParams{.id = id,
                      .x = x,
                      .y = 10,
                      .upBitmapBase = "UPARROW",
                      .downBitmapBase = "DNARROW",
                      .downDy = 9,
                      .host = host,
                      .fieldDx = 7,
                      .fieldDy = 2,
                      .fieldWidth = 30,
                      .fieldHeight = 15,
                      .min = 0,
                      .max = 127,
                      .ctrlMultiplier = 10};
}

// Two dials side by side in a shown, active window, so focus moves for real.
class EditFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        first.Create(FieldDial(800, 0, &host));
        second.Create(FieldDial(900, 60, &host));
        host.show();
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
        field = first.GetField();
        field->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(field->hasFocus());
        host.events.clear();
    }

    void LeaveField() {
        QTest::keyClick(field, Qt::Key_Tab);
        ASSERT_FALSE(field->hasFocus());
    }

    TestHost host;
    MDial first;
    MDial second;
    MDialEdit* field = nullptr;
};

TEST_F(EditFieldTest, LiveFieldReportsEveryKeystrokeAndOnlyFocusLossOnLeaving) {
    first.SetLive(true);
    field->selectAll();
    QTest::keyClicks(field, "42");
    EXPECT_EQ(host.events, (std::vector<Event>{{EV_EDIT_CHANGED, 803}, {EV_EDIT_CHANGED, 803}}));
    EXPECT_EQ(first.GetBar().GetValue(), 42);
    host.events.clear();
    LeaveField();
    EXPECT_EQ(host.events, (std::vector<Event>{{EV_FOCUSLOST, 803}}));
}

TEST_F(EditFieldTest, LiveFieldClampsTypedValuesAtOnce) {
    first.SetLive(true);
    field->selectAll();
    QTest::keyClicks(field, "200");
    EXPECT_EQ(field->GetText(), "127");
    EXPECT_EQ(first.GetValue(), 127);
}

TEST_F(EditFieldTest, NonLiveFieldReportsTheChangeAfterTheFocusLoss) {
    field->selectAll();
    QTest::keyClicks(field, "200");
    EXPECT_TRUE(host.events.empty());
    EXPECT_TRUE(field->HasPendingChange());
    EXPECT_EQ(field->GetText(), "200");
    LeaveField();
    EXPECT_EQ(host.events, (std::vector<Event>{{EV_FOCUSLOST, 803}, {EV_EDIT_CHANGED, 803}}));
    EXPECT_EQ(field->GetText(), "127");
    EXPECT_FALSE(field->HasPendingChange());
}

TEST_F(EditFieldTest, LeavingWithoutTypingReportsOnlyTheFocusLoss) {
    LeaveField();
    EXPECT_EQ(host.events, (std::vector<Event>{{EV_FOCUSLOST, 803}}));
}

TEST_F(EditFieldTest, ProgramTextIsNeverTyping) {
    first.SetLive(true);
    first.SetValue(12);
    field->SetText("99");
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(field->isModified());
    // SetValueText was not called: the bar still shows the value set before.
    EXPECT_EQ(first.GetBar().GetValue(), 12);
    first.SetLive(false);
    field->SetText("98");
    LeaveField();
    EXPECT_EQ(host.events, (std::vector<Event>{{EV_FOCUSLOST, 803}}));
}

TEST_F(EditFieldTest, ClicksAreReportedBeforeTheFieldHandlesThemAndNoMenuOfItsOwnOpens) {
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mousePress(field, Qt::RightButton, {}, QPoint(3, 3));
    QTest::mouseRelease(field, Qt::RightButton, {}, QPoint(3, 3));
    // The menu request that a desktop sends with a right click.
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(3, 3), field->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(field, &request);
    QWidget* menu = QApplication::activePopupWidget();
    if (menu != nullptr) {
        menu->close();
    }
    EXPECT_EQ(menu, nullptr) << "the right click is the host's alone";
    ASSERT_GE(host.events.size(), 2u);
    EXPECT_EQ(host.events[0], (Event{EV_EDIT_CLICK, 803}));
    EXPECT_EQ(host.events[1], (Event{EV_EDIT_RCLICK, 803}));
}

TEST_F(EditFieldTest, ProgramTextWiderThanTheFieldShowsItsStart) {
    field->clearFocus();
    field->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The field's left edge up to the end of a first "0", for the field's text.
    const int width = 2 + QFontMetrics(field->font()).horizontalAdvance(QLatin1Char('0'));
    const auto leftEdge = [this, width](const std::string& text) {
        field->SetText(text);
        const QImage image = field->grab().toImage();
        return image.copy(0, 0, qRound(width * image.devicePixelRatio()), image.height());
    };
    ASSERT_GT(QFontMetrics(field->font()).horizontalAdvance("0,4,7,11,14,19"), field->width());
    EXPECT_TRUE(leftEdge("0,4,7,11,14,19") == leftEdge("0")) << "the chord's first note shows";
}

TEST_F(EditFieldTest, FieldWithoutAreaIsNeverReachedWithTab) {
    MEdit hidden;
    hidden.Create(950, &host, 0, 0, 40, 10, 0, 0, "left");
    EXPECT_NE(hidden.focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    EXPECT_EQ(FieldOf(second).focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_FALSE(hidden.hasFocus());
    }
}

TEST(MEdit, CreationDefaultsAndAlignment) {
    TestHost host;
    MEdit status;
    status.Create(3, &host, 0, MakeColorRef(1, 2, 3), 0, 166, 707, 13, "left");
    EXPECT_EQ(status.GetTextColor(), GetSysColor(SysColor::Highlight));
    EXPECT_EQ(status.GetBackColor(), MakeColorRef(1, 2, 3));
    EXPECT_EQ(status.GetRect(), MRect::FromSize(0, 166, 707, 13));
    EXPECT_EQ(status.geometry(), QRect(0, 166, 707, 13));
    EXPECT_EQ(status.parentWidget(), &host);
    // 7 points at 96 pixels per inch.
    EXPECT_EQ(status.font().pixelSize(), 9);
    EXPECT_TRUE(status.font().family().contains("Arial") ||
                status.font().family().contains("Liberation"));
    EXPECT_TRUE(status.alignment() & Qt::AlignLeft);
    EXPECT_FALSE(status.GetBrush().has_value());
    status.SetTabStop(false);
    EXPECT_NE(status.focusPolicy() & Qt::TabFocus, Qt::TabFocus);

    MEdit right;
    right.Create(4, &host, 0, 0, 0, 0, 20, 10, "right");
    EXPECT_TRUE(right.alignment() & Qt::AlignRight);
    MEdit hiddenByStyle;
    hiddenByStyle.Create(5, &host, 0, 0, 0, 0, 20, 10, "left", WS_TABSTOP);
    EXPECT_TRUE(hiddenByStyle.isHidden());
}

TEST(MEdit, SharedBrushSurvivesRecolouring) {
    TestHost host;
    MEdit field;
    field.Create(6, &host, 0, 0, 0, 0, 30, 12, "center");
    const QBrush shared(QColor(10, 20, 30));
    field.UseBrush(shared);
    field.SetColors(MakeColorRef(200, 0, 0), MakeColorRef(0, 200, 0));
    ASSERT_TRUE(field.GetBrush().has_value());
    EXPECT_EQ(field.GetBrush()->color(), QColor(10, 20, 30));
    EXPECT_EQ(field.palette().color(QPalette::Base), QColor(10, 20, 30));
    EXPECT_EQ(field.palette().color(QPalette::Text), QColor(200, 0, 0));
    EXPECT_TRUE(field.HasExternalBrush());

    MEdit own;
    own.Create(7, &host, 0, 0, 0, 0, 30, 12, "center");
    own.SetColors(MakeColorRef(200, 0, 0), MakeColorRef(0, 200, 0));
    EXPECT_EQ(own.palette().color(QPalette::Base), QColor(0, 200, 0));
}

TEST(MEdit, DialFieldOutlivingItsHostIsNotDeletedTwice) {
    auto host = std::make_unique<TestHost>();
    MDial dial;
    dial.Create(FieldDial(990, 0, host.get()));
    ASSERT_NE(dial.GetField(), nullptr);
    host.reset();
    // The host deleted its child; the dial notices and its own destruction deletes nothing.
    EXPECT_EQ(dial.GetField(), nullptr);
}

}  // namespace
