#pragma once

#include <string>
#include <vector>

#include <QFont>
#include <QImage>
#include <QRegion>

#include "toolkit/ColorRef.h"
#include "toolkit/MRect.h"

class QPainter;

// Text format bits of Canvas::DrawText, combined with |.
constexpr int DT_LEFT = 0x00;
constexpr int DT_CENTER = 0x01;
constexpr int DT_RIGHT = 0x02;
constexpr int DT_TOP = 0x00;
constexpr int DT_VCENTER = 0x04;
constexpr int DT_BOTTOM = 0x08;
constexpr int DT_SINGLELINE = 0x20;

// The drawing surface the controls paint on, laid over a QPainter for one paint pass.
// It keeps its own clip region: every control removes its area after drawing, so whatever
// is drawn first stays on top and later (older) controls only fill what is left.
// Mono images are drawn through the current pair of colours: black pixels in the text
// colour, white pixels in the background colour.
class Canvas {
public:
    // area is what may be painted, usually the paint event's region.
    Canvas(QPainter& painter, const QRegion& area);

    void FillSolidRect(const MRect& rect, ColorRef color);
    void SetTextColor(ColorRef color) { textColor_ = color; }
    void SetBkColor(ColorRef color) { bkColor_ = color; }
    ColorRef GetTextColor() const { return textColor_; }
    ColorRef GetBkColor() const { return bkColor_; }

    // Text in the text colour, placed in rect by the DT_* bits and clipped to rect.
    void DrawText(const std::string& text, const MRect& rect, int format);

    // Whether any part of rect can still be painted.
    bool RectVisible(const MRect& rect) const;
    void ExcludeClipRect(const MRect& rect);
    const QRegion& GetClipRegion() const { return clip_; }

    // Selects font and returns the one selected before.
    QFont SelectFont(const QFont& font);
    const QFont& GetFont() const { return font_; }

    // Draws a mono image unscaled at (x, y) through the current colour pair. The image
    // must come from Resources::LoadBitmap (index 0 black, index 1 white).
    void BlitMono(const QImage& image, int x, int y);

    // Saves and restores the colours and the font.
    void SaveDC();
    void RestoreDC();

private:
    struct State {
        ColorRef textColor;
        ColorRef bkColor;
        QFont font;
    };

    QPainter& painter_;
    QRegion clip_;
    ColorRef textColor_ = 0;
    ColorRef bkColor_ = MakeColorRef(255, 255, 255);
    QFont font_;
    std::vector<State> saved_;
};
