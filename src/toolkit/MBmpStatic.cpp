#include "toolkit/MBmpStatic.h"

#include "toolkit/Canvas.h"

void MBmpStatic::Create(int id, const std::string& text, int x, int y, ControlHost* host,
                        const std::string& bitmapName) {
    bitmap_.SetName(bitmapName);
    const QSize size = bitmap_.GetSize();
    MWnd::Create(id, text, x, y, x + size.width(), y + size.height(), host);
}

void MBmpStatic::Draw(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    bitmap_.Blit(dc, textColor_, backColor_, rect_.left, rect_.top);
    dc.ExcludeClipRect(rect_);
}
