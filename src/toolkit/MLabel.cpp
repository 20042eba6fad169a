#include "toolkit/MLabel.h"

#include <QGuiApplication>

#include "toolkit/Canvas.h"
#include "toolkit/PointFont.h"

void MLabel::SetFont(const std::string& name, int tenthsOfPoint) {
    fontName_ = name;
    fontSize_ = tenthsOfPoint;
    if (visible_) {
        Show();
    }
}

void MLabel::SetAlignment(int horizontal, int vertical) {
    horizontalAlign_ = horizontal;
    verticalAlign_ = vertical;
    if (visible_) {
        Show();
    }
}

void MLabel::SetText(const std::string& text) {
    text_ = text;
    if (visible_) {
        Show();
    }
}

QFont MLabel::MakeFont() const {
    const int size = fontSize_ > 0 ? fontSize_ : 90;
    if (fontName_ == "System") {
        // The desktop's interface font, bold like the classic system font it stands for.
        QFont font = PointFont(QGuiApplication::font().family().toStdString(), size);
        font.setBold(true);
        return font;
    }
    return PointFont(fontName_, size);
}

void MLabel::Draw(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    const QFont previous = dc.SelectFont(MakeFont());
    dc.FillSolidRect(rect_, backColor_);
    dc.SetTextColor(textColor_);
    dc.SetBkColor(backColor_);
    dc.DrawText(text_, rect_, horizontalAlign_ | verticalAlign_ | DT_SINGLELINE);
    dc.SelectFont(previous);
    dc.ExcludeClipRect(rect_);
}
