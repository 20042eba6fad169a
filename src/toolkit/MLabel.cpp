#include "toolkit/MLabel.h"

#include <QGuiApplication>

#include "toolkit/Canvas.h"

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
    QFont font;
    if (fontName_ == "System") {
        // The desktop's interface font, bold like the classic system font it stands for.
        font = QGuiApplication::font();
        font.setBold(true);
    } else {
        font = QFont(QString::fromStdString(fontName_));
    }
    font.setPointSizeF((fontSize_ > 0 ? fontSize_ : 90) / 10.0);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
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
