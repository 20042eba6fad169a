#pragma once

#include <string>

#include "toolkit/MButton.h"

// A level bar set with the mouse: a press sets the value from the point, a drag follows the
// pointer (inside the host and outside it) and the release sets it a last time; each of
// these reports to the host. Vertical bars grow upwards. Drawn in three colours: the level
// (text colour), the rest (background colour) and the thumb; in a vertical bar each of them
// may be NO_COLOR to leave that area to what lies behind.
class MBar : public MButton {
public:
    MBar();

    using MButton::Create;
    void Create(int id, const std::string& text, int x, int y, int width, int height,
                ControlHost* host, bool horizontal);
    void Draw(Canvas& dc) override;
    int OnMouse(int event, int x, int y) override;
    int TrackMouse(int event, int x, int y) override;
    // Level and rest through the base colours, then the thumb; the pressed pair is untouched.
    virtual void SetBarColors(ColorRef fillColor, ColorRef restColor, ColorRef thumbColor);

    void SetRange(int min, int max) {
        min_ = min;
        max_ = max;
    }
    void SetThumbSize(int n) { thumbSize_ = n; }
    // Stores v as it is; repaints when visible.
    void SetValue(int v);
    int GetValue() const { return value_; }
    int GetMin() const { return min_; }
    int GetMax() const { return max_; }
    bool IsHorizontal() const { return horizontal_; }
    ColorRef GetThumbColor() const { return thumbColor_; }

    // The value a press at (x, y) gives: an end value beyond either end, else the share of
    // the length, truncated toward zero.
    int ValueFromPoint(int x, int y) const;

private:
    // Share of the range the value covers, kept within 0..1 so the drawing never leaves the bar.
    double Fraction() const;

    ColorRef thumbColor_ = 0;
    bool horizontal_ = false;
    int value_ = 25;
    int min_ = 0;
    int max_ = 100;
    int thumbSize_ = 2;
};
