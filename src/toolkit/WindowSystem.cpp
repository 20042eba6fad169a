#include "toolkit/WindowSystem.h"

#include <QGuiApplication>

namespace WindowSystem {

bool ReportsWindowPositions() {
    // "wayland", "wayland-egl", "wayland-brcm": every variant of the plugin.
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace WindowSystem
