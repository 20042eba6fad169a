// The yardstick for the start-up benchmark: a bare Qt window of the main window's size that
// paints once and reports it the way the program does ("first-paint-ns <ns>" on stdout), so
// that both are timed alike, side by side.

#include <time.h>

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <cstdio>

namespace {

class BareWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::darkBlue);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("bare"));
        if (!reported_) {
            reported_ = true;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("first-paint-ns %lld\n",
                        static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
            std::fflush(stdout);
        }
    }

private:
    bool reported_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    BareWindow window;
    window.resize(707, 166);
    window.show();
    return QApplication::exec();
}
