#include "toolkit/ControlHost.h"

#include <QWidget>

void ControlHost::InvalidateRect(const MRect& rect, bool /*erase*/) {
    if (QWidget* widget = HostWidget(); widget != nullptr && !rect.IsEmpty()) {
        widget->update(rect.ToQRect());
    }
}
