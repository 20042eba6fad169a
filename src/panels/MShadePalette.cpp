#include "panels/MShadePalette.h"

#include <cstdint>
#include <cstdlib>

#include <QColorDialog>

#include "core/Random.h"

namespace {

std::array<ColorRef, MShadePalette::kCustomColorCount> customColors{};
bool customColorsFilled = false;

// Three draws: the first lands in blue, the second in green, the third in red.
ColorRef RandomColor() {
    const int first = Random::below(256);
    const int second = Random::below(256);
    const int third = Random::below(256);
    return first * 65536 + second * 256 + third;
}

}  // namespace

MShadePalette::MShadePalette()
    : contrastDarker(GetSysColor(SysColor::ButtonShadow)),
      contrast(GetSysColor(SysColor::ButtonFace)),
      contrastLighter(GetSysColor(SysColor::ButtonHighlight)),
      darker(GetSysColor(SysColor::Highlight)),
      base(GetSysColor(SysColor::Highlight)),
      lighter(GetSysColor(SysColor::HighlightText)),
      lightest(GetSysColor(SysColor::Desktop)) {}

void MShadePalette::DeriveFrom(ColorRef b) {
    base = b;
    darker = ShiftColor(b, -1);
    lighter = ShiftColor(b, +1);
    lightest = ShiftColor(lighter, +1);
    contrast = ContrastColor(b, -128);
    contrastDarker = ShiftColor(contrast, -1);
    contrastLighter = ShiftColor(contrast, +1);
}

const std::array<ColorRef, MShadePalette::kCustomColorCount>& MShadePalette::CustomColors() {
    return customColors;
}

ColorRef MShadePalette::ChooseBaseColor(QWidget* owner) {
    if (!customColorsFilled) {
        for (ColorRef& colour : customColors) {
            colour = RandomColor();
        }
        customColorsFilled = true;
    }
    for (int i = 0; i < kCustomColorCount; ++i) {
        QColorDialog::setCustomColor(i, ToQColor(customColors[static_cast<std::size_t>(i)]));
    }
    QColorDialog dialog(ToQColor(base), owner);
    dialog.setOptions(QColorDialog::DontUseNativeDialog);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // The custom colours the user edited stay for the next time.
    for (int i = 0; i < kCustomColorCount; ++i) {
        customColors[static_cast<std::size_t>(i)] = FromQColor(QColorDialog::customColor(i));
    }
    return accepted ? FromQColor(dialog.selectedColor()) : base;
}

ColorRef ContrastColor(ColorRef colour, int k) {
    const int k16 = static_cast<std::int16_t>(k);
    const int red = std::abs(RedOf(colour) - k16) & 0xFF;
    const int green = std::abs(GreenOf(colour) - k16) & 0xFF;
    const int blue = std::abs(BlueOf(colour) - k16) & 0xFF;
    return MakeColorRef(red, green, blue);
}

ColorRef ShiftColor(ColorRef colour, int direction, bool fallbackAllowed, int amount) {
    const int s = static_cast<std::int16_t>(direction * amount);
    const int sums[3] = {static_cast<std::int16_t>(RedOf(colour) + s),
                         static_cast<std::int16_t>(GreenOf(colour) + s),
                         static_cast<std::int16_t>(BlueOf(colour) + s)};
    int clamped[3];
    int over = 0;
    int under = 0;
    for (int i = 0; i < 3; ++i) {
        if (sums[i] > 255) {
            clamped[i] = 255;
            ++over;
        } else if (sums[i] < 0) {
            clamped[i] = 0;
            ++under;
        } else {
            clamped[i] = sums[i];
        }
    }
    const bool saturated = over > 2 || under > 2 || sums[1] > 305 ||
                           (clamped[1] == 255 && (clamped[0] == 255 || clamped[2] == 255));
    if (saturated && fallbackAllowed) {
        return ShiftColor(ShiftColor(colour, -direction, false, amount), -direction, false, amount);
    }
    return MakeColorRef(clamped[0], clamped[1], clamped[2]);
}
