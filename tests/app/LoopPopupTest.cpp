#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "WindowTestSupport.h"
#include "panels/MainPanel.h"
#include "toolkit/ColorRef.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/MRect.h"

namespace {

class LoopPopupTest : public testing::Test {
protected:
    // Secondary click on loop selector n (0 = loop 1, the lowest).
    void rightClickSelector(int n) {
        const MRect rect = window.panel().LoopGroup().GetElementRect(n);
        QTest::mouseClick(&window, Qt::RightButton, {}, WindowFixture::centreOf(rect));
        QApplication::processEvents();
    }

    WindowFixture fixture;
    MainWindow& window = fixture.window();
    ::Setup& setup = window.setup();
    LoopPopup& popup = window.panel().Popup();
};

TEST_F(LoopPopupTest, OpensBesideTheThirdSelectorShowingItsMeasure) {
    setup.measures[2].next = 5;
    setup.measures[2].repeats = 3;
    rightClickSelector(2);
    ASSERT_TRUE(popup.isVisible());
    const MRect rect = window.panel().LoopGroup().GetElementRect(2);
    EXPECT_EQ(popup.mapTo(&window, QPoint(0, 0)), QPoint(rect.right, rect.top - 1));
    EXPECT_EQ(popup.measure(), 2);
    EXPECT_EQ(popup.NextDial().GetValue(), 6);
    EXPECT_EQ(popup.RepeatsDial().GetValue(), 3);
    EXPECT_FALSE(popup.hasFocus());
}

TEST_F(LoopPopupTest, InAWindowTooNarrowForItTheWholePanelStaysInside) {
    window.panel().FitWindowToColumns(1);
    rightClickSelector(7);
    ASSERT_TRUE(popup.isVisible());
    EXPECT_TRUE(window.rect().contains(QRect(popup.mapTo(&window, QPoint(0, 0)), popup.size())))
        << "the repeats dial would be cut off";
    EXPECT_EQ(popup.y(), window.panel().LoopGroup().GetElementRect(7).top - 1)
        << "only moved sideways, still on its selector's row";
}

TEST_F(LoopPopupTest, WhileItIsOpenSpaceAndNumbersAreTheMainWindowsButAClickedFieldTypesThem) {
    rightClickSelector(3);
    QWidget* keys = QApplication::focusWidget();
    ASSERT_EQ(keys, static_cast<QWidget*>(window.defaultButton()))
        << "opening leaves the keys where they were";
    QTest::keyClick(keys, Qt::Key_Space);
    EXPECT_TRUE(window.player().isRunning());
    EXPECT_FALSE(popup.isVisible());

    rightClickSelector(3);
    MDialEdit* field = popup.NextDial().GetField();
    ASSERT_NE(field, nullptr);
    QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }, 10'000));
    field->selectAll();
    QTest::keyClicks(field, "5 ");
    EXPECT_EQ(setup.measures[3].next, 4);
    EXPECT_EQ(setup.playingMeasure, 0) << "5 is typed, not a jump to loop 5";
    EXPECT_TRUE(window.player().isRunning()) << "the blank is typed, not a stop";
    QTest::keyClick(field, Qt::Key_Control);
    EXPECT_TRUE(popup.isVisible()) << "a key the field leaves never reaches the main window";

    // A click on the panel off its fields hands the keys back to the default button.
    QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(60, 10));
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(window.defaultButton()));
    EXPECT_EQ(field->GetText(), "5");
    window.player().stop();
}

TEST_F(LoopPopupTest, StoredRepeatsOutsideTheRangeShowClampedAndStayStored) {
    for (const auto& [stored, shown] : {std::pair{0, 1}, std::pair{40, 32}}) {
        setup.measures[4].repeats = static_cast<std::int16_t>(stored);
        rightClickSelector(4);
        EXPECT_EQ(popup.RepeatsDial().GetValue(), shown);
        EXPECT_EQ(setup.measures[4].repeats, stored) << "only the user's change is stored";
        popup.hide();
    }
}

TEST_F(LoopPopupTest, TypingAValueStoresItAndOnlyARealChangeMarksTheSetup) {
    rightClickSelector(0);
    MDialEdit* field = popup.NextDial().GetField();
    ASSERT_NE(field, nullptr);
    setup.dirty = false;
    field->selectAll();
    QTest::keyClicks(field, "8");
    QApplication::processEvents();
    EXPECT_EQ(setup.measures[0].next, 7);
    EXPECT_TRUE(setup.dirty);

    setup.dirty = false;
    field->selectAll();
    QTest::keyClicks(field, "8");
    QApplication::processEvents();
    EXPECT_EQ(setup.measures[0].next, 7);
    EXPECT_FALSE(setup.dirty) << "the same value again is no change";
}

TEST_F(LoopPopupTest, HidesOnAClickInTheMainWindowButNotOnItsOwn) {
    rightClickSelector(1);
    ASSERT_TRUE(popup.isVisible());
    QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(60, 10));
    QApplication::processEvents();
    EXPECT_TRUE(popup.isVisible());

    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(300, 80));
    QApplication::processEvents();
    EXPECT_FALSE(popup.isVisible());
}

TEST_F(LoopPopupTest, AKeyInTheMainWindowHidesItAndASecondSelectorReopensIt) {
    rightClickSelector(1);
    QTest::keyClick(window.defaultButton(), Qt::Key_Shift);
    EXPECT_FALSE(popup.isVisible());
    rightClickSelector(1);
    rightClickSelector(6);
    EXPECT_TRUE(popup.isVisible());
    EXPECT_EQ(popup.measure(), 6);
}

TEST_F(LoopPopupTest, ItsEdgesAroundTheBackgroundAreTheDarkerContrast) {
    rightClickSelector(3);
    const QImage image = popup.grab().toImage();
    const ColorRef expected = window.panel().Palette().contrastDarker;
    ASSERT_NE(expected, window.panel().Palette().base);
    const double ratio = image.devicePixelRatio();
    // The background bitmap is 125 x 20 at the top left of the 127 x 22 panel.
    for (const QPoint edge : {QPoint(126, 5), QPoint(60, 21), QPoint(126, 21)}) {
        EXPECT_EQ(FromQColor(image.pixelColor(edge * ratio)), expected)
            << edge.x() << "," << edge.y();
    }
}

TEST_F(LoopPopupTest, EscapeClosesIt) {
    rightClickSelector(2);
    MDialEdit* field = popup.RepeatsDial().GetField();
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(popup.isVisible());
}

TEST_F(LoopPopupTest, EnterInAFieldTidiesItAndTheValueStays) {
    rightClickSelector(5);
    MDialEdit* field = popup.RepeatsDial().GetField();
    ASSERT_NE(field, nullptr);
    // A click in a field gives the panel the keyboard.
    QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }, 10'000));
    field->selectAll();
    // Applied as typed; the trailing blank goes when the field is left.
    QTest::keyClicks(field, "7 ");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(setup.measures[5].repeats, 7);
    EXPECT_EQ(field->GetText(), "7");
    EXPECT_FALSE(field->hasFocus());
    EXPECT_TRUE(popup.isVisible());
}

}  // namespace
