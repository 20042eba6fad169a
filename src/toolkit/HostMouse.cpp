#include "toolkit/HostMouse.h"

#include <QMouseEvent>

#include "toolkit/ToolkitEvents.h"

std::optional<int> ControlEventFor(const QMouseEvent& event, bool forwardSecondary) {
    switch (event.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (event.button() == Qt::LeftButton) {
                return EV_PRESS;
            }
            if (event.button() == Qt::RightButton && forwardSecondary &&
                event.type() == QEvent::MouseButtonPress) {
                return EV_RPRESS;
            }
            return std::nullopt;
        case QEvent::MouseButtonRelease:
            if (event.button() == Qt::LeftButton) {
                return EV_RELEASE;
            }
            return std::nullopt;
        case QEvent::MouseMove:
            return EV_MOVE;
        default:
            return std::nullopt;
    }
}
