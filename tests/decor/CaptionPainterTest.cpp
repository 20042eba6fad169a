#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <memory>
#include <vector>

#include "decor/CCaptionPainter.h"
#include "decor/CaptionFrame.h"

namespace {

constexpr int kPaintMessage = 0x400 + 5;
constexpr int kClientHeight = 166;

// Stands in for the main window: limits like it, and a close procedure that may refuse.
class ClientWindow : public QWidget {
public:
    ClientWindow() {
        setMinimumWidth(133);
        setMaximumWidth(707);
        setFixedHeight(kClientHeight);
        resize(500, kClientHeight);
    }
    bool refuseClose = false;
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        ++closeRequests;
        event->setAccepted(!refuseClose);
    }
};

struct PaintRecord {
    int message;
    std::intptr_t active;
    bool withInfo;
};

class CaptionPainter : public testing::Test {
protected:
    CaptionPainter() {
        palette.DeriveFrom(MakeColorRef(0, 0, 255));
        painter.SetPalette(&palette);
        painter.SetTitle(QStringLiteral(" -  +  ÷  x"));
        painter.InstallOn(&client, kPaintMessage,
                          [this](int message, std::intptr_t wParam, std::intptr_t lParam) {
                              records.push_back({message, wParam, lParam != 0});
                              painter.RenderCaption(wParam != 0,
                                                    reinterpret_cast<CaptionPaintInfo*>(lParam));
                          });
        client.show();
        QApplication::processEvents();
    }

    CaptionFrame& frame() { return *painter.Frame(); }

    void SetActive(bool active) {
        QEvent event(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(&client, &event);
    }

    int Renders(int active) const {
        int count = 0;
        for (const PaintRecord& record : records) {
            count += record.withInfo && record.active == active ? 1 : 0;
        }
        return count;
    }

    // A press, a move and a release of the primary button, in global coordinates, delivered to
    // the widget under the press as the window system would.
    static void Drag(QWidget* target, QPoint fromGlobal, QPoint toGlobal) {
        const QPoint local = target->mapFromGlobal(fromGlobal);
        QMouseEvent press(QEvent::MouseButtonPress, local, fromGlobal, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &press);
        const QPoint movedLocal = local + (toGlobal - fromGlobal);
        QMouseEvent move(QEvent::MouseMove, movedLocal, toGlobal, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, movedLocal, toGlobal, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &release);
    }

    void ClickCaption(QPoint point) {
        const QPoint global = frame().mapToGlobal(point);
        Drag(&frame(), global, global);
    }

    QPoint CentreOf(const QRect& rect) const { return rect.center(); }

    MShadePalette palette;
    ClientWindow client;
    CCaptionPainter painter;
    std::vector<PaintRecord> records;
};

TEST_F(CaptionPainter, WrapsTheWindowInAFramelessFrameUnderItsCaption) {
    ASSERT_TRUE(painter.IsInstalled());
    EXPECT_EQ(client.parentWidget(), &frame());
    EXPECT_TRUE(frame().isWindow());
    EXPECT_TRUE(frame().windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(frame().isVisible());
    EXPECT_EQ(client.pos(), QPoint(0, CCaptionPainter::kCaptionHeight));
    EXPECT_EQ(frame().size(), QSize(500, kClientHeight + CCaptionPainter::kCaptionHeight));
    // Only the width can change, within the window's own limits.
    EXPECT_EQ(frame().minimumSize(), QSize(133, kClientHeight + CCaptionPainter::kCaptionHeight));
    EXPECT_EQ(frame().maximumSize(), QSize(707, kClientHeight + CCaptionPainter::kCaptionHeight));
}

TEST_F(CaptionPainter, ActivationSwitchesBetweenCachedImagesWithoutDrawingAgain) {
    SetActive(true);
    SetActive(false);
    ASSERT_EQ(Renders(1), 1);
    ASSERT_EQ(Renders(0), 1);
    EXPECT_FALSE(painter.Image(true).isNull());
    EXPECT_FALSE(painter.Image(false).isNull());
    for (int i = 0; i < 3; ++i) {
        SetActive(true);
        EXPECT_TRUE(painter.IsActive());
        SetActive(false);
        EXPECT_FALSE(painter.IsActive());
    }
    EXPECT_EQ(Renders(1), 1);
    EXPECT_EQ(Renders(0), 1);
}

TEST_F(CaptionPainter, ADisabledWindowShowsTheInactiveCaption) {
    client.setEnabled(false);
    SetActive(true);
    EXPECT_FALSE(painter.IsActive());
}

TEST_F(CaptionPainter, ATitleChangeRedrawsOnlyTheStateOnShow) {
    SetActive(true);
    SetActive(false);
    SetActive(true);
    records.clear();
    client.setWindowTitle(QStringLiteral(" -  +  ÷  x :   song.qov"));
    EXPECT_EQ(painter.Title(), QStringLiteral(" -  +  ÷  x :   song.qov"));
    EXPECT_EQ(frame().windowTitle(), painter.Title());
    EXPECT_EQ(Renders(1), 1);
    EXPECT_EQ(Renders(0), 0);
    EXPECT_TRUE(painter.Image(false).isNull());
    SetActive(false);
    EXPECT_EQ(Renders(0), 1);
}

TEST_F(CaptionPainter, SettingTheTitleMakesTheNextPaintDrawIt) {
    SetActive(true);
    records.clear();
    painter.SetTitle(QStringLiteral("same title"));
    EXPECT_TRUE(records.empty());
    QImage target(10, 10, QImage::Format_ARGB32_Premultiplied);
    QPainter dc(&target);
    EXPECT_TRUE(painter.HandleFramePaint(dc, QRegion(painter.CaptionArea())));
    EXPECT_EQ(Renders(1), 1);
}

TEST_F(CaptionPainter, NothingIsPaintedWhileMinimised) {
    frame().showMinimized();
    ASSERT_TRUE(frame().isMinimized());
    records.clear();
    client.setWindowTitle(QStringLiteral("while minimised"));
    SetActive(true);
    EXPECT_FALSE(painter.BlitCaption(true));
    EXPECT_TRUE(records.empty());
    frame().showNormal();
    EXPECT_EQ(Renders(1), 1);
}

TEST_F(CaptionPainter, ANewWidthRedrawsTheImageAtThatWidth) {
    SetActive(true);
    records.clear();
    frame().resize(300, frame().height());
    EXPECT_EQ(Renders(1), 1);
    EXPECT_EQ(painter.Image(true).width(), qRound(300 * painter.Image(true).devicePixelRatio()));
}

TEST_F(CaptionPainter, ALookChangeDropsTheFontAndRedraws) {
    SetActive(true);
    records.clear();
    QEvent event(QEvent::ApplicationPaletteChange);
    QCoreApplication::sendEvent(&client, &event);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0].message, kPaintMessage);
    EXPECT_FALSE(records[0].withInfo);
    EXPECT_EQ(Renders(1), 1);
}

TEST_F(CaptionPainter, ThePaintOfARegionOutsideTheCaptionLeavesItAlone) {
    QImage target(10, 10, QImage::Format_ARGB32_Premultiplied);
    QPainter dc(&target);
    records.clear();
    painter.BlitCaption(true);
    records.clear();
    EXPECT_FALSE(painter.HandleFramePaint(dc, QRegion(0, 40, 50, 50)));
    EXPECT_TRUE(painter.HandleFramePaint(dc, QRegion(0, 5, 50, 50)));
    EXPECT_TRUE(records.empty());
}

TEST_F(CaptionPainter, ActiveCaptionInBaseAndInactiveInTheDesktopColours) {
    SetActive(true);
    SetActive(false);
    // Just right of the icon, above the text: the background.
    const QPoint background(CCaptionPainter::kButtonSize + 1, 0);
    EXPECT_EQ(FromQColor(painter.Image(true).pixelColor(background)), palette.base);
    EXPECT_EQ(FromQColor(painter.Image(false).pixelColor(background)),
              CCaptionPainter::InactiveCaptionColor());
}

TEST_F(CaptionPainter, TheTitleIsDrawnInTheContrastColourWhenActive) {
    SetActive(true);
    const QImage image = painter.Image(true).convertToFormat(QImage::Format_RGB32);
    const QColor contrast = ToQColor(palette.contrast);
    bool found = false;
    for (int x = CCaptionPainter::kButtonSize + 2; x < 120 && !found; ++x) {
        for (int y = 0; y < image.height() && !found; ++y) {
            found = image.pixelColor(x, y) == contrast;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(CaptionPainter, ButtonsSitRightWithAGapBeforeClose) {
    const CaptionButtonRects rects = painter.ButtonRects(500);
    EXPECT_EQ(rects.close.right(), 500 - 3);
    EXPECT_EQ(rects.middle.right() + 1, rects.close.left() - 2);
    EXPECT_EQ(rects.minimize.right() + 1, rects.middle.left());
    // The buttons and a gap of 2 before the leftmost, where the title ends.
    EXPECT_EQ(rects.width, 500 - rects.minimize.left() + 2);
}

TEST_F(CaptionPainter, WithoutAMaximiseBoxTheMaximiseButtonIsGrayed) {
    auto glyphPixel = [&] {
        SetActive(true);
        painter.BlitCaption(true);
        const CaptionButtonRects rects = painter.ButtonRects(frame().width());
        // On the top edge of the maximise glyph.
        const QPoint at(rects.middle.left() + 5, rects.middle.top() + 2);
        return painter.Image(true).pixelColor(at);
    };
    EXPECT_NE(glyphPixel(), QColor(Qt::black));
    painter.SetButtons(true, true, false);
    EXPECT_EQ(glyphPixel(), QColor(Qt::black));
}

TEST_F(CaptionPainter, TheCloseButtonAsksTheWindowAndClosesOnlyWhenItAgrees) {
    client.refuseClose = true;
    const CaptionButtonRects rects = painter.ButtonRects(frame().width());
    ClickCaption(CentreOf(rects.close));
    EXPECT_EQ(client.closeRequests, 1);
    EXPECT_TRUE(frame().isVisible());
    client.refuseClose = false;
    ClickCaption(CentreOf(rects.close));
    EXPECT_EQ(client.closeRequests, 2);
    EXPECT_FALSE(frame().isVisible());
}

TEST_F(CaptionPainter, TheWindowClosingItselfClosesTheFrameWithoutASecondQuestion) {
    client.close();
    EXPECT_EQ(client.closeRequests, 1);
    EXPECT_FALSE(frame().isVisible());
}

TEST_F(CaptionPainter, TheMinimiseButtonMinimises) {
    const CaptionButtonRects rects = painter.ButtonRects(frame().width());
    ClickCaption(CentreOf(rects.minimize));
    EXPECT_TRUE(frame().isMinimized());
}

TEST_F(CaptionPainter, AButtonActsOnlyWhenReleasedOnIt) {
    const CaptionButtonRects rects = painter.ButtonRects(frame().width());
    const QPoint from = frame().mapToGlobal(CentreOf(rects.close));
    Drag(&frame(), from, from + QPoint(-60, 0));
    EXPECT_EQ(client.closeRequests, 0);
    EXPECT_TRUE(frame().isVisible());
}

TEST_F(CaptionPainter, DraggingTheCaptionMovesTheWindow) {
    frame().move(100, 100);
    const QPoint from = frame().mapToGlobal(QPoint(200, 9));
    Drag(&frame(), from, from + QPoint(40, 25));
    EXPECT_EQ(frame().pos(), QPoint(140, 125));
    EXPECT_EQ(client.pos(), QPoint(0, CCaptionPainter::kCaptionHeight));
}

TEST_F(CaptionPainter, EdgeGripsResizeOnlyHorizontallyWithinTheLimits) {
    frame().setGeometry(100, 100, 400, frame().height());
    const int height = frame().height();
    QWidget* rightGrip = frame().childAt(frame().width() - 1, 60);
    ASSERT_NE(rightGrip, nullptr);
    ASSERT_NE(rightGrip, &client);
    const QPoint right = rightGrip->mapToGlobal(QPoint(1, 5));
    Drag(rightGrip, right, right + QPoint(100, 50));
    EXPECT_EQ(frame().width(), 500);
    EXPECT_EQ(frame().height(), height);
    Drag(rightGrip, frame().mapToGlobal(QPoint(frame().width() - 2, 60)),
         frame().mapToGlobal(QPoint(frame().width() + 500, 60)));
    EXPECT_EQ(frame().width(), 707);

    QWidget* leftGrip = frame().childAt(0, 60);
    ASSERT_NE(leftGrip, nullptr);
    ASSERT_NE(leftGrip, &client);
    const int rightEdge = frame().geometry().right();
    const QPoint left = leftGrip->mapToGlobal(QPoint(1, 5));
    Drag(leftGrip, left, left + QPoint(1000, 0));
    EXPECT_EQ(frame().width(), 133);
    EXPECT_EQ(frame().geometry().right(), rightEdge);
    EXPECT_EQ(client.width(), 133);
}

TEST_F(CaptionPainter, TheWindowPlacingAndSizingItselfMovesTheFrame) {
    client.move(220, 140);
    EXPECT_EQ(frame().pos(), QPoint(220, 140));
    EXPECT_EQ(client.pos(), QPoint(0, CCaptionPainter::kCaptionHeight));
    client.resize(300, kClientHeight);
    EXPECT_EQ(frame().width(), 300);
    EXPECT_EQ(client.width(), 300);
}

TEST_F(CaptionPainter, HidingAndShowingTheWindowHidesAndShowsTheFrame) {
    client.hide();
    EXPECT_FALSE(frame().isVisible());
    client.show();
    EXPECT_TRUE(frame().isVisible());
    EXPECT_TRUE(client.isVisible());
}

TEST_F(CaptionPainter, TheWindowMenuOffersAboutOnlyWithAHandler) {
    std::unique_ptr<QMenu> plain(frame().CreateWindowMenu());
    for (const QAction* action : plain->actions()) {
        EXPECT_NE(action->text(), QString::fromLatin1(CaptionFrame::kAboutText));
    }
    int abouts = 0;
    frame().SetAboutHandler([&abouts] { ++abouts; });
    std::unique_ptr<QMenu> menu(frame().CreateWindowMenu());
    QAction* about = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == QString::fromLatin1(CaptionFrame::kAboutText)) {
            about = action;
        }
    }
    ASSERT_NE(about, nullptr);
    about->trigger();
    EXPECT_EQ(abouts, 1);
}

TEST_F(CaptionPainter, UninstallingGivesTheWindowItsOwnDecorationBack) {
    frame().move(150, 90);
    painter.Uninstall();
    EXPECT_FALSE(painter.IsInstalled());
    EXPECT_TRUE(client.isWindow());
    EXPECT_FALSE(client.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(client.isVisible());
    EXPECT_EQ(client.pos(), QPoint(150, 90));
    EXPECT_EQ(CSubclassWnd::HeadHook(&client), nullptr);
}

}  // namespace

namespace {

TEST(CaptionPainterSupport, OnlyRealWindowSystemsLetTheProgramDrawTheCaption) {
    EXPECT_TRUE(CCaptionPainter::IsSupportedOn(QStringLiteral("xcb")));
    EXPECT_TRUE(CCaptionPainter::IsSupportedOn(QStringLiteral("wayland")));
    EXPECT_TRUE(CCaptionPainter::IsSupportedOn(QStringLiteral("wayland-egl")));
    EXPECT_FALSE(CCaptionPainter::IsSupportedOn(QStringLiteral("offscreen")));
    EXPECT_FALSE(CCaptionPainter::IsSupportedOn(QStringLiteral("minimal")));
    EXPECT_FALSE(CCaptionPainter::IsSupportedOn(QStringLiteral("eglfs")));
    EXPECT_FALSE(CCaptionPainter::IsSupportedOn(QStringLiteral("vnc")));
}

}  // namespace
