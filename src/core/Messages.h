#pragma once

#include <cstdint>

// Messages between the engine, the main window and other running instances. The numbers are
// the instance protocol: every running copy must agree on them.
namespace Messages {

constexpr int WM_USER = 0x400;

// Sent only to count the running instances (the close check).
constexpr int UM_COUNT_ONLY = 0;
constexpr int UM_PORT_BUSY = WM_USER + 12;
constexpr int UM_STEP_PLAYED = WM_USER + 50;
constexpr int UM_START = WM_USER + 100;
constexpr int UM_STOP = WM_USER + 200;
constexpr int UM_PORT_HANDLE = WM_USER + 300;
constexpr int UM_SHARE_COUNT = WM_USER + 400;
constexpr int UM_MEASURE_PLAYING = WM_USER + 500;
constexpr int UM_REOPEN_PORT = WM_USER + 600;
// Local to one instance: the engine's status text changed (read it with Player::statusText).
constexpr int UM_STATUS_CHANGED = WM_USER + 700;

}  // namespace Messages
