#pragma once

#include <optional>
#include <string_view>

#include <QCursor>
#include <QIcon>
#include <QImage>

// The program's bitmaps, cursors and icon, compiled into the toolkit and looked up by name
// ("PLAY2UP", "NOTEBMP", "PUSHCUR", ...). Every picture is 1 bit per pixel.
namespace Resources {

// The bitmap as Format_Mono with colour index 0 for black and 1 for white, ready for
// Canvas::BlitMono; a null image when no bitmap has that name.
QImage LoadBitmap(std::string_view name);

// The cursor of that name, or nothing when there is none.
std::optional<QCursor> LoadCursor(std::string_view name);

// The application icon (icon resource 128) in the given colours: black pixels in ink,
// white pixels in paper.
QIcon LoadAppIcon(QColor ink = Qt::black, QColor paper = Qt::white);

}  // namespace Resources
