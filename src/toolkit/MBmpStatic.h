#pragma once

#include <string>

#include "toolkit/MBitmapRes.h"
#include "toolkit/MWnd.h"

// A bitmap drawn through the control's colour pair, with no mouse input (the panels'
// backgrounds).
class MBmpStatic : public MWnd {
public:
    MBmpStatic() = default;

    using MWnd::Create;
    void Create(int id, const std::string& text, int x, int y, ControlHost* host,
                const std::string& bitmapName);
    void Draw(Canvas& dc) override;

private:
    MBitmapRes bitmap_;
};
