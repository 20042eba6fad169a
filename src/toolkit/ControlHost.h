#pragma once

#include "toolkit/MRect.h"

class QWidget;

// A window that holds toolkit controls: the main window and the loop popup. The host
// forwards its mouse input as events (primary down and double click as EV_PRESS, primary up
// as EV_RELEASE, moves as EV_MOVE, secondary down as EV_RPRESS where wanted, each with
// controlId 0), paints its controls with PaintControls, and learns through OnControlEvent of
// everything its controls report. Controls keep a plain pointer to their host.
class ControlHost {
public:
    virtual ~ControlHost() = default;

    // The widget whose client area holds the controls; also the parent of the edit fields.
    virtual QWidget* HostWidget() = 0;

    // event is one of the EV_* codes, (x, y) the point in client coordinates; controlId is 0
    // for forwarded mouse input (resolve it with DispatchMouse) and the field's id for events
    // of an edit field.
    virtual void OnControlEvent(int event, int x, int y, int controlId) = 0;

    // Asks for a repaint of rect. erase is true when a control disappears, so the host must
    // paint its own background there; Qt repaints the whole area either way.
    virtual void InvalidateRect(const MRect& rect, bool erase);
};
