#pragma once

#include <string>

#include <QImage>

#include "toolkit/ColorRef.h"

class Canvas;

// A named 1-bit bitmap that a control draws through its colour pair. In kept-loaded mode
// (the default) the picture is loaded once when the name is set; otherwise it is looked up
// for each measurement and each draw and not held in between.
class MBitmapRes {
public:
    explicit MBitmapRes(bool keepLoaded = true) : keepLoaded_(keepLoaded) {}
    virtual ~MBitmapRes() = default;

    void SetName(const std::string& name);
    const std::string& GetName() const { return name_; }
    // Width and height in pixels; 0 by 0 when the bitmap does not exist.
    QSize GetSize() const;
    // Draws the whole bitmap unscaled at (x, y): black pixels in textColor, white pixels in
    // backColor. The canvas keeps its own colours.
    void Blit(Canvas& dc, ColorRef textColor, ColorRef backColor, int x, int y) const;

    bool IsKeptLoaded() const { return keepLoaded_; }
    // Whether a picture is held right now (never between paints unless kept loaded).
    bool HoldsBitmap() const { return !bitmap_.isNull(); }

private:
    QImage Picture() const;

    std::string name_;
    QImage bitmap_;
    bool keepLoaded_;
};
