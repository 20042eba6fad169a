// The main window and its loop panel on an X server with a window manager, driven by real
// pointer clicks and key presses (xdotool) that go through the server and the manager.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTest>

#include "WindowTestSupport.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"

namespace {

constexpr int kDeadlineMs = 10'000;

void Xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(tool.waitForFinished(kDeadlineMs)) << arguments.join(' ').toStdString();
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
}

void ClickAt(const QPoint& global, int button) {
    Xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y()),
             "click", QString::number(button)});
}

class DesktopTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.window(), kDeadlineMs));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.window(), kDeadlineMs));
    }

    // A real secondary click on loop selector n, which opens the loop panel beside it.
    void openLoopPanel(int n) {
        const MRect rect = window.panel().LoopGroup().GetElementRect(n);
        ClickAt(window.mapToGlobal(WindowFixture::centreOf(rect)), 3);
        ASSERT_TRUE(QTest::qWaitFor([this] { return popup.isVisible(); }, kDeadlineMs));
    }

    WindowFixture fixture;
    MainWindow& window = fixture.window();
    LoopPopup& popup = window.panel().Popup();
};

TEST_F(DesktopTest, ALoopPanelFieldTakesTypingAfterAClickAndEscapeClosesThePanel) {
    openLoopPanel(2);
    EXPECT_TRUE(window.window()->isActiveWindow()) << "opening leaves the keys where they were";
    MDialEdit* field = popup.RepeatsDial().GetField();
    ASSERT_NE(field, nullptr);
    ClickAt(field->mapToGlobal(field->rect().center()), 1);
    ASSERT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }, kDeadlineMs));
    Xdotool({"key", "--clearmodifiers", "ctrl+a", "7"});
    const Measure& measure = window.setup().measures[2];
    EXPECT_TRUE(QTest::qWaitFor([&measure] { return measure.repeats == 7; }, kDeadlineMs));
    EXPECT_TRUE(popup.isVisible()) << "typing in the panel keeps it open";

    Xdotool({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([this] { return !popup.isVisible(); }, kDeadlineMs));
    EXPECT_TRUE(QTest::qWaitFor([this] { return window.window()->isActiveWindow(); }, kDeadlineMs));
}

TEST_F(DesktopTest, AClickInTheMainWindowClosesTheLoopPanelItsFieldHadTheKeys) {
    openLoopPanel(4);
    MDialEdit* field = popup.NextDial().GetField();
    ASSERT_NE(field, nullptr);
    ClickAt(field->mapToGlobal(field->rect().center()), 1);
    ASSERT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }, kDeadlineMs));
    ClickAt(window.mapToGlobal(QPoint(300, 80)), 1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !popup.isVisible(); }, kDeadlineMs));
    EXPECT_TRUE(QTest::qWaitFor([this] { return window.window()->isActiveWindow(); }, kDeadlineMs));
}

}  // namespace
