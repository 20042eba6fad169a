#include "ToolkitTestSupport.h"

#include <QPaintEvent>
#include <QPainter>

#include "toolkit/Canvas.h"
#include "toolkit/ControlRegistry.h"

TestHost::TestHost(int width, int height, ColorRef back) : background(back) {
    resize(width, height);
}

void TestHost::OnControlEvent(int event, int /*x*/, int /*y*/, int controlId) {
    events.push_back(Event{event, controlId});
}

void TestHost::InvalidateRect(const MRect& rect, bool erase) {
    invalidated.push_back(rect);
    ControlHost::InvalidateRect(rect, erase);
}

void TestHost::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(background));
    Canvas dc(painter, event->region());
    PaintControls(dc, this);
}

QImage TestHost::Render() {
    QImage image(size(), QImage::Format_RGB32);
    image.fill(ToQColor(background));
    QPainter painter(&image);
    Canvas dc(painter, QRegion(image.rect()));
    PaintControls(dc, this);
    painter.end();
    return image;
}

ColorRef TestHost::PixelAt(const QImage& image, int x, int y) {
    return FromQColor(QColor(image.pixel(x, y)));
}
