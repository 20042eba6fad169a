// Which mouse events a host forwards to its controls, and as what.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>

#include "ToolkitTestSupport.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MBar.h"

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

// A host that forwards its real mouse events the way a panel does.
class ForwardingHost : public TestHost {
public:
    ForwardingHost() { setMouseTracking(true); }
    std::vector<int> taken;

protected:
    void mousePressEvent(QMouseEvent* event) override { Forward(*event); }
    void mouseReleaseEvent(QMouseEvent* event) override { Forward(*event); }
    void mouseMoveEvent(QMouseEvent* event) override { Forward(*event); }

private:
    void Forward(const QMouseEvent& event) {
        if (const std::optional<int> code = ControlEventFor(event, true)) {
            const QPoint at = event.position().toPoint();
            if (UpdateCursor(*code, at.x(), at.y(), this) == 0) {
                setCursor(Qt::ArrowCursor);
            }
            if (const int id = DispatchMouse(*code, at.x(), at.y(), this); id != 0) {
                taken.push_back(id);
            }
        }
    }
};

TEST(HostMouse, BarFollowsARealDragPastTheEdge) {
    ForwardingHost host;
    MBar bar;
    bar.Create(77, "bar", 10, 10, 27, 7, &host, true);
    bar.SetRange(0, 127);
    bar.SetCursorName("BARHCUR");
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));

    QTest::mousePress(&host, Qt::LeftButton, {}, QPoint(10, 12));
    EXPECT_EQ(bar.GetValue(), 0);
    EXPECT_EQ(host.cursor().shape(), Qt::BitmapCursor);
    QTest::mouseMove(&host, QPoint(23, 40));
    EXPECT_EQ(bar.GetValue(), 61);
    QTest::mouseMove(&host, QPoint(150, 12));
    EXPECT_EQ(bar.GetValue(), 127);
    QTest::mouseRelease(&host, Qt::LeftButton, {}, QPoint(150, 12));
    EXPECT_EQ(host.taken, (std::vector<int>{77, 77, 77, 77}));
    EXPECT_EQ(host.cursor().shape(), Qt::ArrowCursor);

    // Moves with no button held reach no one.
    QTest::mouseMove(&host, QPoint(15, 12));
    EXPECT_EQ(host.taken.size(), 4u);
}

}  // namespace
