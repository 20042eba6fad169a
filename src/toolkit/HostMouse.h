#pragma once

#include <optional>

class QMouseEvent;

// The toolkit event a host forwards for one of its mouse events: primary press and double
// click give EV_PRESS, primary release EV_RELEASE, any move EV_MOVE, and secondary press
// EV_RPRESS when the host forwards the secondary button (the main window does, the loop
// popup does not). Nothing for the rest.
std::optional<int> ControlEventFor(const QMouseEvent& event, bool forwardSecondary);
