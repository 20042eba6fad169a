#include "toolkit/Canvas.h"

#include <QPainter>

Canvas::Canvas(QPainter& painter, const QRegion& area) : painter_(painter), clip_(area) {
    // Captions are drawn crisp in two colours, like the 1-bit pictures around them.
    font_ = painter_.font();
    font_.setStyleStrategy(QFont::NoAntialias);
    painter_.setClipRegion(clip_);
}

void Canvas::FillSolidRect(const MRect& rect, ColorRef color) {
    if (rect.IsEmpty()) {
        return;
    }
    painter_.fillRect(rect.ToQRect(), ToQColor(color));
}

void Canvas::DrawText(const std::string& text, const MRect& rect, int format) {
    if (text.empty() || rect.IsEmpty()) {
        return;
    }
    int flags = 0;
    flags |= (format & DT_CENTER)  ? Qt::AlignHCenter
             : (format & DT_RIGHT) ? Qt::AlignRight
                                   : Qt::AlignLeft;
    flags |= (format & DT_VCENTER)  ? Qt::AlignVCenter
             : (format & DT_BOTTOM) ? Qt::AlignBottom
                                    : Qt::AlignTop;
    if (!(format & DT_SINGLELINE)) {
        flags |= Qt::TextWordWrap;
    }
    painter_.save();
    painter_.setFont(font_);
    painter_.setPen(ToQColor(textColor_));
    painter_.setClipRegion(clip_.intersected(rect.ToQRect()));
    QString shown = QString::fromStdString(text);
    if (format & DT_SINGLELINE) {
        shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    }
    painter_.drawText(rect.ToQRect(), flags, shown);
    painter_.restore();
}

bool Canvas::RectVisible(const MRect& rect) const {
    return !rect.IsEmpty() && clip_.intersects(rect.ToQRect());
}

void Canvas::ExcludeClipRect(const MRect& rect) {
    if (rect.IsEmpty()) {
        return;
    }
    clip_ -= rect.ToQRect();
    // An empty region still clips: it lets nothing through.
    painter_.setClipRegion(clip_);
}

QFont Canvas::SelectFont(const QFont& font) {
    QFont previous = font_;
    font_ = font;
    return previous;
}

void Canvas::BlitMono(const QImage& image, int x, int y) {
    if (image.isNull()) {
        return;
    }
    QImage tinted = image;
    tinted.setColorTable({ToQColor(textColor_).rgba(), ToQColor(bkColor_).rgba()});
    painter_.drawImage(QPoint(x, y), tinted);
}

void Canvas::SaveDC() {
    saved_.push_back(State{textColor_, bkColor_, font_});
}

void Canvas::RestoreDC() {
    if (saved_.empty()) {
        return;
    }
    textColor_ = saved_.back().textColor;
    bkColor_ = saved_.back().bkColor;
    font_ = saved_.back().font;
    saved_.pop_back();
}
