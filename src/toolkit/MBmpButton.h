#pragma once

#include <string>

#include "toolkit/MBitmapRes.h"
#include "toolkit/MButton.h"

// A push-button drawn as a pair of bitmaps: the up picture at rest in the normal colours,
// the down picture while pressed in the pressed colours. Its size is the up picture's.
class MBmpButton : public MButton {
public:
    MBmpButton();

    using MButton::Create;
    void Create(int id, const std::string& text, int x, int y, ControlHost* host,
                const std::string& upName, const std::string& downName);
    void Draw(Canvas& dc) override;

    const MBitmapRes& GetUpBitmap() const { return upBitmap_; }
    const MBitmapRes& GetDownBitmap() const { return downBitmap_; }

protected:
    // Draws the down picture in the pressed pair or the up picture in the normal pair.
    void DrawLook(Canvas& dc, bool down, ColorRef upText, ColorRef upBack, ColorRef downText,
                  ColorRef downBack);

    MBitmapRes upBitmap_;
    MBitmapRes downBitmap_;
    std::string upName_;
    std::string downName_;
};
