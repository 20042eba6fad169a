#include "toolkit/MBitmapRes.h"

#include "toolkit/Canvas.h"
#include "toolkit/Resources.h"

void MBitmapRes::SetName(const std::string& name) {
    name_ = name;
    bitmap_ = keepLoaded_ ? Resources::LoadBitmap(name_) : QImage();
}

QImage MBitmapRes::Picture() const {
    return keepLoaded_ ? bitmap_ : Resources::LoadBitmap(name_);
}

QSize MBitmapRes::GetSize() const {
    const QImage picture = Picture();
    return picture.isNull() ? QSize(0, 0) : picture.size();
}

void MBitmapRes::Blit(Canvas& dc, ColorRef textColor, ColorRef backColor, int x, int y) const {
    const QImage picture = Picture();
    dc.SaveDC();
    dc.SetTextColor(textColor);
    dc.SetBkColor(backColor);
    dc.BlitMono(picture, x, y);
    dc.RestoreDC();
}
