#include "toolkit/MBmpButton.h"

#include "toolkit/Canvas.h"

MBmpButton::MBmpButton() {
    typeName_ = "MBmpButton";
}

void MBmpButton::Create(int id, const std::string& text, int x, int y, ControlHost* host,
                        const std::string& upName, const std::string& downName) {
    upName_ = upName;
    downName_ = downName;
    upBitmap_.SetName(upName);
    downBitmap_.SetName(downName);
    const QSize size = upBitmap_.GetSize();
    Create(id, text, x, y, x + size.width(), y + size.height(), host);
}

void MBmpButton::DrawLook(Canvas& dc, bool down, ColorRef upText, ColorRef upBack,
                          ColorRef downText, ColorRef downBack) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    if (down) {
        downBitmap_.Blit(dc, downText, downBack, rect_.left, rect_.top);
    } else {
        upBitmap_.Blit(dc, upText, upBack, rect_.left, rect_.top);
    }
    dc.ExcludeClipRect(rect_);
}

void MBmpButton::Draw(Canvas& dc) {
    DrawLook(dc, pressed_, textColor_, backColor_, pressedTextColor_, pressedBackColor_);
}
