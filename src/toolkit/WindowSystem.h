#pragma once

// What the window system lets the program know and decide about its own windows.
namespace WindowSystem {

// False on Wayland: a client is never told where its windows are (Qt reports 0,0) and its
// own placement is ignored. True on X11 and on Qt's offscreen platform.
bool ReportsWindowPositions();

}  // namespace WindowSystem
