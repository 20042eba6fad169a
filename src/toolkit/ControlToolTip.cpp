#include "toolkit/ControlToolTip.h"

#include <utility>

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

#include "toolkit/ControlHost.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MEdit.h"
#include "toolkit/MWnd.h"

namespace {

// The control's id and its area, where the tooltip stays while the pointer is inside.
std::pair<int, QRect> ControlIdAt(QWidget* widget, const QPoint& at, ControlHost* host) {
    // The text fields are child widgets that leave the question to their host; they are
    // registered nowhere, so they are found as widgets.
    if (const auto* field = qobject_cast<const MEdit*>(widget->childAt(at)); field != nullptr) {
        return {field->GetId(), field->geometry()};
    }
    if (const MWnd* control = ControlAt(at.x(), at.y(), host); control != nullptr) {
        return {control->GetId(), control->GetRect().ToQRect()};
    }
    return {0, QRect()};
}

}  // namespace

bool ShowControlToolTip(QHelpEvent* event, ControlHost* host,
                        const std::function<std::string(int controlId)>& textFor) {
    QWidget* widget = host != nullptr ? host->HostWidget() : nullptr;
    if (widget == nullptr) {
        return false;
    }
    const auto [id, area] = ControlIdAt(widget, event->pos(), host);
    const std::string text = id != 0 ? textFor(id) : std::string();
    if (text.empty()) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), QString::fromStdString(text), widget, area);
    return true;
}
