// Which mouse events a host forwards to its controls, and as what.
#include <gtest/gtest.h>

#include <QMouseEvent>

#include "toolkit/HostMouse.h"
#include "toolkit/ToolkitEvents.h"

namespace {

std::optional<int> For(QEvent::Type type, Qt::MouseButton button, bool secondary) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    const QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), button, held, Qt::NoModifier);
    return ControlEventFor(event, secondary);
}

TEST(ControlEventFor, PrimaryButtonAndMoves) {
    EXPECT_EQ(For(QEvent::MouseButtonPress, Qt::LeftButton, false), EV_PRESS);
    EXPECT_EQ(For(QEvent::MouseButtonDblClick, Qt::LeftButton, false), EV_PRESS);
    EXPECT_EQ(For(QEvent::MouseButtonRelease, Qt::LeftButton, false), EV_RELEASE);
    EXPECT_EQ(For(QEvent::MouseMove, Qt::NoButton, false), EV_MOVE);
}

TEST(ControlEventFor, SecondaryPressOnlyWhereForwarded) {
    EXPECT_EQ(For(QEvent::MouseButtonPress, Qt::RightButton, true), EV_RPRESS);
    EXPECT_EQ(For(QEvent::MouseButtonPress, Qt::RightButton, false), std::nullopt);
    EXPECT_EQ(For(QEvent::MouseButtonRelease, Qt::RightButton, true), std::nullopt);
    EXPECT_EQ(For(QEvent::MouseButtonDblClick, Qt::RightButton, true), std::nullopt);
    EXPECT_EQ(For(QEvent::MouseButtonPress, Qt::MiddleButton, true), std::nullopt);
}

}  // namespace
