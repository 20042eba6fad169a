#include "app/FirstPaintReport.h"

#include <time.h>

#include <QEvent>
#include <QWidget>
#include <cstdio>

FirstPaintReport::FirstPaintReport(QWidget& window) : QObject(&window) {}

void FirstPaintReport::installIfAsked(QWidget& window) {
    if (qEnvironmentVariableIsEmpty(kVariable)) {
        return;
    }
    window.installEventFilter(new FirstPaintReport(window));
}

bool FirstPaintReport::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint) {
        return false;
    }
    // The window paints first (event filters are passed by, so this does not come back here),
    // and the time is taken when it is done.
    watched->removeEventFilter(this);
    watched->event(event);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("first-paint-ns %lld\n",
                static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
    std::fflush(stdout);
    deleteLater();
    return true;
}
