#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "WindowTestSupport.h"
#include "panels/MainPanel.h"
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
    EXPECT_EQ(popup.pos(), window.mapToGlobal(QPoint(rect.right, rect.top - 1)));
    EXPECT_EQ(popup.measure(), 2);
    EXPECT_EQ(popup.NextDial().GetValue(), 6);
    EXPECT_EQ(popup.RepeatsDial().GetValue(), 3);
    EXPECT_FALSE(popup.hasFocus());
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

}  // namespace
