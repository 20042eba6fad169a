#pragma once

// Events a host passes to its controls and receives back through OnControlEvent.
constexpr int EV_FOCUSLOST = 0;
constexpr int EV_PRESS = 1;
constexpr int EV_RELEASE = 2;
constexpr int EV_RPRESS = 4;
constexpr int EV_MOVE = 64;
constexpr int EV_EDIT_RCLICK = 11021;
constexpr int EV_EDIT_CLICK = 11022;
constexpr int EV_EDIT_CHANGED = 11023;

// What a control's mouse operation did with an event. Only zero versus non-zero leaves the
// toolkit: DispatchMouse reports which control took the event, never how.
constexpr int HIT_NONE = 0;
constexpr int HIT_PRESSED = 1;
constexpr int HIT_ACTED = 16;
constexpr int HIT_RPRESS = 32;
