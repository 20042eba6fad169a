#include "app/WindowPlacement.h"

#include <algorithm>

namespace {

// How many positions a cascade from start takes before the window would leave the screen.
int slotsFrom(const QPoint& start, const QPoint& last, int step) {
    if (start.x() > last.x() || start.y() > last.y()) {
        return 0;
    }
    return std::min((last.x() - start.x()) / step, (last.y() - start.y()) / step) + 1;
}

}  // namespace

QPoint PlaceClearOfOtherCopies(const QRect& screen, const QSize& window, int others, int step) {
    // The last top-left corner that keeps the whole window on the screen.
    const QPoint last(std::max(screen.left(), screen.right() + 1 - window.width()),
                      std::max(screen.top(), screen.bottom() + 1 - window.height()));
    const QPoint centred = screen.center() - QPoint(window.width() / 2, window.height() / 2);
    const QPoint start(std::clamp(centred.x(), screen.left(), last.x()),
                       std::clamp(centred.y(), screen.top(), last.y()));
    others = std::max(others, 0);
    if (step <= 0) {
        return start;
    }
    const int fromCentre = slotsFrom(start, last, step);
    if (others < fromCentre) {
        return start + QPoint(others, others) * step;
    }
    const int fromCorner = std::max(slotsFrom(screen.topLeft(), last, step), 1);
    return screen.topLeft() + QPoint(1, 1) * (step * ((others - fromCentre) % fromCorner));
}
