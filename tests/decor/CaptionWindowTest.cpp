// The main window with its painted caption on a real X server (xvfb-run): the decision at
// start-up, keys through the frame, the caption's colours and the window menu's about box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "CaptionWindowSupport.h"
#include "decor/AboutDialog.h"
#include "decor/CaptionFrame.h"
#include "panels/MainPanel.h"

namespace {

void SetActive(MainWindow& window, bool active) {
    QEvent event(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&window, &event);
}

TEST(CaptionWindow, PaintedByDefaultWhereTheWindowSystemAllowsIt) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    CaptionWindowFixture fixture("", 7);
    MainWindow& window = fixture.window();
    ASSERT_TRUE(window.captionPainting());
    auto* frame = dynamic_cast<CaptionFrame*>(window.window());
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(frame->height(), MainWindow::kNormalHeight + CCaptionPainter::kCaptionHeight);
    EXPECT_EQ(frame->windowTitle(), QString::fromUtf8(Setup::kTitlePrefix));
    EXPECT_EQ(window.captionPainter().Title(), QString::fromUtf8(Setup::kTitlePrefix));
}

TEST(CaptionWindow, ActivatingTheFrameReachesThePainter) {
    CaptionWindowFixture fixture("on", 7);
    MainWindow& window = fixture.window();
    QWidget* frame = window.window();
    frame->activateWindow();
    if (!QTest::qWaitForWindowActive(frame, 3000)) {
        GTEST_SKIP() << "this X server activates no window";
    }
    EXPECT_TRUE(window.captionPainter().IsActive());
    EXPECT_FALSE(window.captionPainter().Image(true).isNull());
}

TEST(CaptionWindow, SwitchedOffTheDesktopsTitleBarStays) {
    CaptionWindowFixture fixture("off", 7);
    EXPECT_FALSE(fixture.window().captionPainting());
    EXPECT_TRUE(fixture.window().isWindow());
    EXPECT_FALSE(fixture.window().windowFlags() & Qt::FramelessWindowHint);
}

TEST(CaptionWindow, OnlyExactlyOffSwitchesItOff) {
    CaptionWindowFixture fixture("Off", 7);
    EXPECT_TRUE(fixture.window().captionPainting());
}

TEST(CaptionWindow, KeysStillReachTheWindowInsideTheFrame) {
    CaptionWindowFixture fixture("on", 7);
    MainWindow& window = fixture.window();
    ASSERT_TRUE(window.captionPainting());
    QTest::keyClick(window.defaultButton(), Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
    QApplication::processEvents();
    EXPECT_TRUE(window.isDiagnosticView());
    EXPECT_EQ(window.window()->height(),
              MainWindow::kDiagnosticHeight + CCaptionPainter::kCaptionHeight);
    EXPECT_EQ(window.height(), MainWindow::kDiagnosticHeight);
}

TEST(CaptionWindow, TheActiveCaptionIsInThePanelsBaseColour) {
    CaptionWindowFixture fixture("on", 7);
    MainWindow& window = fixture.window();
    SetActive(window, true);
    ASSERT_TRUE(window.captionPainter().BlitCaption(false));
    const QImage& image = window.captionPainter().Image(true);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(FromQColor(image.pixelColor(CCaptionPainter::kButtonSize + 1, 0)),
              window.panel().Palette().base);
}

TEST(CaptionWindow, TheWindowMenuOpensTheAboutBox) {
    CaptionWindowFixture fixture("on", 7);
    MainWindow& window = fixture.window();
    auto* frame = dynamic_cast<CaptionFrame*>(window.window());
    ASSERT_NE(frame, nullptr);
    std::unique_ptr<QMenu> menu(frame->CreateWindowMenu());
    QAction* about = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == QString::fromLatin1(CaptionFrame::kAboutText)) {
            about = action;
        }
    }
    ASSERT_NE(about, nullptr);
    about->trigger();
    QApplication::processEvents();
    auto* box = window.findChild<AboutDialog*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    QPointer<AboutDialog> watch(box);
    box->PressAt(QPoint(-100, -100));
    EXPECT_FALSE(box->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watch.isNull());
}

TEST(CaptionWindow, AtOneColumnALongTitleIsCutBeforeTheButtons) {
    CaptionWindowFixture fixture("on", 7);
    MainWindow& window = fixture.window();
    ASSERT_TRUE(window.captionPainting());
    CCaptionPainter& painter = window.captionPainter();
    for (int width = 133; width <= 707; width += 38) {
        const CaptionButtonRects buttons = painter.ButtonRects(width);
        EXPECT_LT(painter.TitleRect(width).right() + 2, buttons.minimize.left()) << width;
    }

    window.resize(133, window.height());
    ASSERT_TRUE(QTest::qWaitFor([&window] { return window.window()->width() == 133; }, 10'000));
    SetActive(window, true);
    const auto caption = [&window, &painter](const std::string& title) {
        window.setTitle(title);
        EXPECT_TRUE(painter.BlitCaption(true));
        return painter.Image(true).copy();
    };
    const QImage untitled = caption("");
    const QImage titled =
        caption(std::string(Setup::kTitlePrefix) + "  A very long setup name.qov");
    const double ratio = titled.devicePixelRatio();
    const CaptionButtonRects buttons = painter.ButtonRects(133);
    const QRect buttonArea(QPoint(buttons.minimize.left() - 2, 0),
                           QPoint(titled.width() / ratio - 1, CCaptionPainter::kCaptionHeight - 1));
    const QRect scaled(buttonArea.topLeft() * ratio, buttonArea.size() * ratio);
    EXPECT_TRUE(titled.copy(scaled) == untitled.copy(scaled))
        << "nothing of the title under the buttons";
    const QRect titleArea(QPoint(0, 0), QPoint(buttonArea.left() * ratio - 1, scaled.bottom()));
    EXPECT_FALSE(titled.copy(titleArea) == untitled.copy(titleArea)) << "the title is drawn";
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    UsePrivateXdgFolders(home);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
