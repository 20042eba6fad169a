#pragma once

#include <cstdint>

#include <QColor>
#include <QGuiApplication>
#include <QPalette>

// Colours inside the toolkit are 0x00BBGGRR values (red in the low byte), the form the setup
// file stores; -1 marks an area that a control leaves unpainted. Header-only, so the palette
// can use it without linking the toolkit.
using ColorRef = std::int32_t;

constexpr ColorRef NO_COLOR = -1;

constexpr ColorRef MakeColorRef(int red, int green, int blue) {
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
constexpr int RedOf(ColorRef color) {
    return color & 0xFF;
}
constexpr int GreenOf(ColorRef color) {
    return (color >> 8) & 0xFF;
}
constexpr int BlueOf(ColorRef color) {
    return (color >> 16) & 0xFF;
}

// NO_COLOR becomes fully transparent.
inline QColor ToQColor(ColorRef color) {
    if (color == NO_COLOR) {
        return QColor(0, 0, 0, 0);
    }
    return QColor(RedOf(color), GreenOf(color), BlueOf(color));
}

inline ColorRef FromQColor(const QColor& color) {
    return MakeColorRef(color.red(), color.green(), color.blue());
}

// The desktop colours the controls start with before a palette is applied.
enum class SysColor {
    Highlight,
    HighlightText,
    ButtonFace,
    ButtonShadow,
    ButtonHighlight,
    Desktop
};

// Taken from the application's palette; fixed classic values when no application runs.
inline ColorRef GetSysColor(SysColor which) {
    if (qGuiApp == nullptr) {
        switch (which) {
            case SysColor::Highlight:
                return MakeColorRef(0, 0, 128);
            case SysColor::HighlightText:
                return MakeColorRef(255, 255, 255);
            case SysColor::ButtonFace:
                return MakeColorRef(192, 192, 192);
            case SysColor::ButtonShadow:
                return MakeColorRef(128, 128, 128);
            case SysColor::ButtonHighlight:
                return MakeColorRef(255, 255, 255);
            case SysColor::Desktop:
                return MakeColorRef(0, 128, 128);
        }
        return 0;
    }
    const QPalette palette = QGuiApplication::palette();
    switch (which) {
        case SysColor::Highlight:
            return FromQColor(palette.color(QPalette::Highlight));
        case SysColor::HighlightText:
            return FromQColor(palette.color(QPalette::HighlightedText));
        case SysColor::ButtonFace:
            return FromQColor(palette.color(QPalette::Button));
        case SysColor::ButtonShadow:
            return FromQColor(palette.color(QPalette::Dark));
        case SysColor::ButtonHighlight:
            return FromQColor(palette.color(QPalette::Light));
        case SysColor::Desktop:
            return FromQColor(palette.color(QPalette::Window).darker(150));
    }
    return 0;
}
