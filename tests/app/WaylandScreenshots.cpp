// Writes the pictures of the loop panel on Wayland, as weston shows them: loop 3's panel just
// opened (loop-panel-wayland.png) and with 4 typed in its repeats field
// (loop-panel-wayland-typed.png). Needs a weston that lets its clients take screenshots:
// bash tests/app/with_weston.sh --screenshots build/tests/app/app_wayland_screenshots docs
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "WindowTestSupport.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"

namespace {

constexpr int kDeadlineMs = 10'000;

// The whole output, from weston's own screenshooter.
QImage ShootOutput() {
    QTemporaryDir folder;
    QProcess shooter;
    shooter.setWorkingDirectory(folder.path());
    shooter.start(QStringLiteral("weston-screenshooter"), {});
    if (!shooter.waitForFinished(kDeadlineMs) || shooter.exitCode() != 0) {
        return {};
    }
    const QStringList shots = QDir(folder.path()).entryList({QStringLiteral("*.png")});
    return shots.isEmpty()
               ? QImage()
               : QImage(folder.filePath(shots.constFirst())).convertToFormat(QImage::Format_RGB32);
}

bool SameAt(const QImage& output, const QImage& picture, QPoint at) {
    if (!output.rect().contains(QRect(at, picture.size()))) {
        return false;
    }
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (output.pixel(at.x() + x, at.y() + y) != picture.pixel(x, y)) {
                return false;
            }
        }
    }
    return true;
}

// Where the window's own picture shows on the output: the compositor, not the program,
// chose the place.
std::optional<QPoint> Find(const QImage& output, const QImage& picture) {
    for (int y = 0; y + picture.height() <= output.height(); ++y) {
        for (int x = 0; x + picture.width() <= output.width(); ++x) {
            if (output.pixel(x, y) == picture.pixel(0, 0) && SameAt(output, picture, {x, y})) {
                return QPoint(x, y);
            }
        }
    }
    return std::nullopt;
}

// Shoots until the output shows the window as it now paints itself (the compositor shows a
// new frame a little later), then saves its left part with the panel and its decoration.
bool SaveWindow(QWidget& window, const QString& path) {
    const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage left = picture.copy(0, 0, 260, picture.height());
    QImage output;
    std::optional<QPoint> at;
    const bool shown = QTest::qWaitFor(
        [&] {
            output = ShootOutput();
            at = output.isNull() ? std::nullopt : Find(output, left);
            return at.has_value();
        },
        kDeadlineMs);
    if (!shown) {
        std::fprintf(stderr, "the window never showed on the output\n");
        return false;
    }
    const QRect area = QRect(*at, left.size()).adjusted(-12, -40, 12, 12) & output.rect();
    if (!output.copy(area).save(path)) {
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
    for (const char* sub : {"/config", "/data"}) {
        ::mkdir((root + sub).c_str(), 0700);
    }
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() != QStringLiteral("wayland")) {
        std::fprintf(stderr, "not on Wayland\n");
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);

    WindowFixture fixture;
    MainWindow& window = fixture.window();
    if (!QTest::qWaitForWindowExposed(window.window(), kDeadlineMs)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    MainPanel& panel = window.panel();
    panel.OpenLoopPopup(2);
    if (!SaveWindow(window, folder + "/loop-panel-wayland.png")) {
        return 1;
    }

    LoopPopup& popup = panel.Popup();
    MDialEdit* field = popup.RepeatsDial().GetField();
    if (field == nullptr) {
        std::fprintf(stderr, "the loop panel has no repeats field\n");
        return 1;
    }
    QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
    field->selectAll();
    QTest::keyClick(window.window()->windowHandle(), Qt::Key_4);
    if (!QTest::qWaitFor([&] { return window.setup().measures[2].repeats == 4; }, kDeadlineMs)) {
        std::fprintf(stderr, "the loop panel did not take the typed value\n");
        return 1;
    }
    return SaveWindow(window, folder + "/loop-panel-wayland-typed.png") ? 0 : 1;
}
