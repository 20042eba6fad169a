// Writes the pictures of the main window with its painted caption (two start colours, active
// and inactive) into a folder: caption-<n>-active.png and caption-<n>-inactive.png, and the
// about box as about.png. Needs an X server: xvfb-run decor_caption_screenshots docs/
#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "CaptionWindowSupport.h"
#include "decor/AboutDialog.h"
#include "panels/MainPanel.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    UsePrivateXdgFolders(home);
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const std::uint32_t seeds[] = {7, 12};
    int failures = 0;
    for (int n = 0; n < 2; ++n) {
        CaptionWindowFixture fixture("on", seeds[n]);
        MainWindow& window = fixture.window();
        if (!window.captionPainting()) {
            std::fprintf(stderr, "the caption is not painted on this platform\n");
            return 1;
        }
        for (const bool active : {true, false}) {
            QEvent event(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
            QCoreApplication::sendEvent(&window, &event);
            QApplication::processEvents();
            const QString path =
                QStringLiteral("%1/caption-%2-%3.png")
                    .arg(folder)
                    .arg(n + 1)
                    .arg(active ? QStringLiteral("active") : QStringLiteral("inactive"));
            if (!window.window()->grab().save(path)) {
                std::fprintf(stderr, "could not write %s\n", path.toLocal8Bit().constData());
                ++failures;
            }
        }
    }
    {
        CaptionWindowFixture fixture("on", seeds[0]);
        AboutDialog about(fixture.window().panel().Palette());
        const QString path = folder + QStringLiteral("/about.png");
        if (!about.grab().save(path)) {
            std::fprintf(stderr, "could not write %s\n", path.toLocal8Bit().constData());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
