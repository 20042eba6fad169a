#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a new window of the program opens so that it does not cover the windows of the
// copies already running: centred on the screen, then moved down and right by step for each
// of them. A cascade that would leave the screen goes on from the screen's top-left corner;
// the window never lies partly off the screen when it fits on it.
QPoint PlaceClearOfOtherCopies(const QRect& screen, const QSize& window, int others, int step);
