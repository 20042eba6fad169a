// The main window as a client of a real Wayland compositor (weston's headless backend, started
// by with_weston.sh): what the compositor decides alone (where a window goes, which surface
// has the keys, what a client may grab) is tested here. The headless compositor has no seat,
// so input is given to Qt's windows directly, as the platform would deliver it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <mutex>

#include "WindowTestSupport.h"
#include "app/NoteBox.h"
#include "decor/AboutDialog.h"
#include "document/SetupFile.h"
#include "document/SetupRecord.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/MRect.h"

namespace {

constexpr int kDeadlineMs = 10'000;

// Counts what would show a surface going away: a hidden window, or its platform window
// (the wl_surface and its xdg role) destroyed.
class SurfaceWatch : public QObject {
public:
    explicit SurfaceWatch(QWindow* window) : window_(window) { window->installEventFilter(this); }
    ~SurfaceWatch() override { window_->removeEventFilter(this); }
    int losses = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ &&
            (event->type() == QEvent::Hide || event->type() == QEvent::PlatformSurface)) {
            ++losses;
        }
        return false;
    }

private:
    QWindow* window_;
};

// The Qt messages printed while it lives.
class MessageLog {
public:
    MessageLog() { previous_ = qInstallMessageHandler(&MessageLog::record); }
    ~MessageLog() {
        qInstallMessageHandler(previous_);
        lines().clear();
    }
    static QStringList& lines() {
        static QStringList all;
        return all;
    }

private:
    static void record(QtMsgType, const QMessageLogContext&, const QString& text) {
        lines().append(text);
    }
    QtMessageHandler previous_ = nullptr;
};

class WaylandTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(top, kDeadlineMs));
        // What activation does on a desktop; this compositor has no seat to activate with.
        window.focusDefaultButton();
    }

    // A secondary click on loop selector n, as the compositor delivers it to the window.
    void openLoopPanel(int n) {
        const MRect rect = window.panel().LoopGroup().GetElementRect(n);
        QTest::mouseClick(&window, Qt::RightButton, {}, WindowFixture::centreOf(rect));
        ASSERT_TRUE(QTest::qWaitFor([this] { return popup.isVisible(); }, kDeadlineMs));
    }

    // A key as the compositor delivers it: to the window that has the keys, then Qt's focus.
    void press(Qt::Key key) { QTest::keyClick(top->windowHandle(), key); }

    WindowFixture fixture;
    MainWindow& window = fixture.window();
    QWidget* top = window.window();
    LoopPopup& popup = window.panel().Popup();
};

TEST_F(WaylandTest, TheLoopPanelOpensBesideItsSelectorInsideTheWindowAndLeavesTheKeys) {
    const int windowsBefore = int(QGuiApplication::allWindows().size());
    openLoopPanel(2);
    EXPECT_FALSE(popup.isWindow()) << "no surface of its own for the compositor to place";
    EXPECT_EQ(int(QGuiApplication::allWindows().size()), windowsBefore);
    const MRect selector = window.panel().LoopGroup().GetElementRect(2);
    EXPECT_EQ(popup.mapTo(&window, QPoint(0, 0)), QPoint(selector.right, selector.top - 1));

    // Space still plays, 1..8 still jump: the keys are the main window's.
    press(Qt::Key_Space);
    ASSERT_TRUE(window.player().isRunning());
    openLoopPanel(2);
    press(Qt::Key_4);
    EXPECT_EQ(window.setup().playingMeasure, 3);
    EXPECT_FALSE(popup.isVisible()) << "a key for the main window closes the panel";
    window.player().stop();
}

TEST_F(WaylandTest, AClickInALoopPanelFieldTakesTheTypingAndEscapeGivesTheKeysBack) {
    openLoopPanel(5);
    MDialEdit* field = popup.RepeatsDial().GetField();
    ASSERT_NE(field, nullptr);
    QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
    ASSERT_EQ(window.focusWidget(), field);
    field->selectAll();
    press(Qt::Key_7);
    EXPECT_TRUE(
        QTest::qWaitFor([this] { return window.setup().measures[5].repeats == 7; }, kDeadlineMs));
    EXPECT_FALSE(window.player().isRunning());
    EXPECT_TRUE(popup.isVisible()) << "typing in the panel keeps it open";

    press(Qt::Key_Escape);
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(window.focusWidget(), static_cast<QWidget*>(window.defaultButton()));
}

TEST_F(WaylandTest, ReadingASetupKeepsTheSurfaceAndSavingKeepsTheStoredPosition) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("placed.qov")).toStdString();
    ::Setup stored;
    SetupFile::save(path, stored, 0x336699, 123, 77);

    SurfaceWatch watch(top->windowHandle());
    const QPlatformWindow* surface = top->windowHandle()->handle();
    ASSERT_TRUE(window.readSetup(path));
    QApplication::processEvents();
    EXPECT_EQ(watch.losses, 0) << "the window was hidden or its surface destroyed";
    EXPECT_EQ(top->windowHandle()->handle(), surface);
    EXPECT_TRUE(top->windowHandle()->isExposed());

    // Wayland tells the program nothing of where its window is: once the compositor maps it
    // anew, or the user drags it, Qt answers 0,0, which must not replace the setup's place.
    top->move(0, 0);
    window.setup().dirty = true;
    const std::string copy = folder.filePath(QStringLiteral("copy.qov")).toStdString();
    window.setup().path = copy;
    window.onCommand(CommandIds::ID_SAVE_SETUP);
    ::Setup reread;
    const SetupRecord record = SetupFile::open(copy, reread, nullptr);
    EXPECT_EQ(QPoint(record.windowLeft, record.windowTop), QPoint(123, 77));
}

TEST_F(WaylandTest, BoxesBelongToTheMainWindowAndTheAboutBoxGrabsNothing) {
    NoteBox::setHandler({});
    NoteBox::show("Path not found.");
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&box] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* found = qobject_cast<QMessageBox*>(widget); found && found->isVisible()) {
                    box = found;
                }
            }
            return box != nullptr;
        },
        kDeadlineMs));
    ASSERT_NE(box->windowHandle(), nullptr);
    EXPECT_EQ(box->windowHandle()->transientParent(), top->windowHandle())
        << "the compositor places a box with no parent anywhere";
    box->close();

    MessageLog log;
    AboutDialog about(window.panel().Palette(), &window, LinkOpener{});
    about.show();
    ASSERT_TRUE(QTest::qWaitFor([&about] { return about.isVisible(); }, kDeadlineMs));
    QApplication::processEvents();
    EXPECT_EQ(about.windowHandle()->transientParent(), top->windowHandle());
    EXPECT_EQ(about.geometry().center(), top->geometry().center());
    EXPECT_TRUE(log.lines().filter(QStringLiteral("grab")).isEmpty())
        << log.lines().join('\n').toStdString();
    about.PressAt(about.mapToGlobal(QPoint(2, 2)));
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
