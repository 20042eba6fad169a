#pragma once

#include <QObject>

class QWidget;

// For start-up benchmarks: when GLIMMERSTAVE_REPORT_FIRST_PAINT is set, prints one line
// "first-paint-ns <CLOCK_MONOTONIC nanoseconds>" on stdout once the window has painted for the
// first time, so that a script can time the way from exec to a window on the screen. Owned by
// the window it watches.
class FirstPaintReport : public QObject {
public:
    static constexpr const char* kVariable = "GLIMMERSTAVE_REPORT_FIRST_PAINT";

    // Watches the window when the variable is set; otherwise does nothing.
    static void installIfAsked(QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FirstPaintReport(QWidget& window);
};
