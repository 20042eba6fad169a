#include "toolkit/PointFont.h"

QFont PointFont(const std::string& face, int tenthsOfPoint) {
    QFont font(QString::fromStdString(face));
    // Rounded to the nearest pixel, halves up.
    const int pixels = (tenthsOfPoint * 96 + 360) / 720;
    font.setPixelSize(pixels > 0 ? pixels : 1);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}
