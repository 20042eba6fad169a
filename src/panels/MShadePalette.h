#pragma once

#include <array>

#include "toolkit/ColorRef.h"

class QWidget;

// The seven colours every control paints with, all derived from one base colour. The main
// panel owns the palette the others are copied or derived from; each step column, popup
// and decoration keeps its own.
class MShadePalette {
public:
    MShadePalette();
    virtual ~MShadePalette() = default;

    void DeriveFrom(ColorRef b);

    // Shows the colour chooser starting at base; returns the chosen colour, or base after a
    // cancel. The 16 custom colours are random on the first use and kept for the whole run,
    // with the user's changes.
    ColorRef ChooseBaseColor(QWidget* owner);

    ColorRef contrastDarker;
    ColorRef contrast;
    ColorRef contrastLighter;
    ColorRef darker;
    ColorRef base;
    ColorRef lighter;
    ColorRef lightest;

    static constexpr int kCustomColorCount = 16;
    // The chooser's custom colours as they stand (all 0 before the first use).
    static const std::array<ColorRef, kCustomColorCount>& CustomColors();
};

// Each channel becomes the low byte of |channel - k|, k read as 16 bits signed; with k -128
// every channel moves half way round the colour wheel.
ColorRef ContrastColor(ColorRef colour, int k);

// Moves every channel by direction x amount, clamped to 0..255. When that saturates (all
// three channels overflow, or green runs far over or reaches white with red or blue) and
// fallbackAllowed, the colour is instead shifted twice the other way, without fallback.
ColorRef ShiftColor(ColorRef colour, int direction, bool fallbackAllowed = true, int amount = 80);
