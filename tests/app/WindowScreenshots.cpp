// Writes the pictures of the loop panel with a typed value (loop-panel-typed.png) and of a
// step column's tooltip (tooltip-step-column.png) into a folder, as the screen shows them.
// Needs an X server: xvfb-run -a build/tests/app/app_window_screenshots docs
#include <sys/stat.h>

#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

#include "WindowTestSupport.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"

namespace {

constexpr int kDeadlineMs = 10'000;

bool SaveScreen(const QRect& area, const QString& path) {
    // Whatever the server shows there, the panel's and the tooltip's own windows included.
    if (!QGuiApplication::primaryScreen()
             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
             .save(path)) {
        std::fprintf(stderr, "could not write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    const std::string root = home.path().toStdString();
    for (const char* sub : {"/runtime", "/config", "/data"}) {
        ::mkdir((root + sub).c_str(), 0700);
    }
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    int failures = 0;

    WindowFixture fixture;
    MainWindow& window = fixture.window();
    QWidget* top = window.window();
    if (!QTest::qWaitForWindowExposed(top, kDeadlineMs)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    MainPanel& panel = window.panel();

    // Loop 3's panel, its repeats field clicked and 4 typed.
    panel.OpenLoopPopup(2);
    LoopPopup& popup = panel.Popup();
    MDialEdit* field = popup.RepeatsDial().GetField();
    QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "4");
    if (!QTest::qWaitFor([&] { return window.setup().measures[2].repeats == 4; }, kDeadlineMs) ||
        !popup.isVisible()) {
        std::fprintf(stderr, "the loop panel did not take the typed value\n");
        return 1;
    }
    const QRect panelArea =
        QRect(top->frameGeometry().topLeft(), QSize(260, top->frameGeometry().height()))
            .united(QRect(popup.mapToGlobal(QPoint(0, 0)), popup.size()))
            .adjusted(-4, -4, 4, 4);
    QTest::qWait(200);
    failures += SaveScreen(panelArea, folder + "/loop-panel-typed.png") ? 0 : 1;
    popup.closePanel();
    // A change of the active window would take the tooltip away again.
    if (!QTest::qWaitForWindowActive(top, kDeadlineMs)) {
        std::fprintf(stderr, "the main window did not get the keyboard back\n");
        return 1;
    }

    // A tooltip over column 3's velocity bar, asked for until it is on the screen: the pointer
    // really is there, and events still on their way may take a first one away again.
    MStepColumn& column = panel.Column(2);
    const QPoint at = WindowFixture::centreOf(column.GetVelocityDial().GetBar().GetRect());
    QCursor::setPos(window.mapToGlobal(at));
    const auto tipShown = [&] {
        if (!QToolTip::isVisible()) {
            QHelpEvent hover(QEvent::ToolTip, at, window.mapToGlobal(at));
            QApplication::sendEvent(&window, &hover);
        }
        // The tip deletes itself when it goes: asked here, never kept.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("qtooltip_label") && widget->isVisible() &&
                widget->windowHandle() != nullptr && widget->windowHandle()->isExposed()) {
                return true;
            }
        }
        return false;
    };
    if (!QTest::qWaitFor(tipShown, kDeadlineMs)) {
        std::fprintf(stderr, "no tooltip was shown\n");
        return 1;
    }
    const QPoint corner = window.mapToGlobal(QPoint(column.GetRect().left - 40, 0));
    failures +=
        SaveScreen(QRect(corner, QSize(260, 180)), folder + "/tooltip-step-column.png") ? 0 : 1;
    return failures == 0 ? 0 : 1;
}
