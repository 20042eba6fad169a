#include "toolkit/Resources.h"

#include <QFile>
#include <QHash>
#include <QPixmap>
#include <QRegularExpression>

// Resource initialisation has to happen outside any namespace.
static void InitToolkitResources() {
    Q_INIT_RESOURCE(glimmerstave);
}

namespace Resources {
namespace {

void EnsureResources() {
    static const bool done = [] {
        InitToolkitResources();
        return true;
    }();
    (void)done;
}

QString PathOf(const char* folder, std::string_view name, const char* suffix) {
    return QStringLiteral(":/glimmerstave/%1/%2%3")
        .arg(QLatin1String(folder), QString::fromUtf8(name.data(), qsizetype(name.size())),
             QLatin1String(suffix));
}

// Reads a 1-bit picture and puts black at colour index 0, white at 1.
QImage ReadMono(const QString& path) {
    QImage image(path);
    if (image.isNull()) {
        return {};
    }
    image = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    if (image.colorCount() == 2 && qGray(image.color(0)) > qGray(image.color(1))) {
        image.invertPixels();
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    } else {
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    }
    return image;
}

// Cursor files carry their hot spot in a comment line "# hotspot X Y".
QPoint ReadHotSpot(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    static const QRegularExpression hotspot(QStringLiteral("#\\s*hotspot\\s+(\\d+)\\s+(\\d+)"));
    const QRegularExpressionMatch match = hotspot.match(QString::fromLatin1(file.readAll()));
    if (!match.hasMatch()) {
        return {};
    }
    return QPoint(match.captured(1).toInt(), match.captured(2).toInt());
}

// The cursor as a picture with an alpha channel: black where shape and mask are both set,
// white where only the mask is, transparent elsewhere. Qt's Wayland plugin draws a cursor
// from its picture alone; a cursor made of two bitmaps has none, and it then asks for a
// shared buffer of 0 bytes ("QWaylandShmBuffer: mmap failed") and shows no cursor at all.
QImage CursorPicture(const QImage& shape, const QImage& mask) {
    QImage picture(shape.size(), QImage::Format_ARGB32);
    for (int y = 0; y < shape.height(); ++y) {
        for (int x = 0; x < shape.width(); ++x) {
            // Index 0 is black: set.
            const bool opaque = mask.pixelIndex(x, y) == 0;
            const bool black = shape.pixelIndex(x, y) == 0;
            picture.setPixel(x, y,
                             !opaque ? qRgba(0, 0, 0, 0)
                             : black ? qRgb(0, 0, 0)
                                     : qRgb(255, 255, 255));
        }
    }
    return picture;
}

}  // namespace

QImage LoadBitmap(std::string_view name) {
    EnsureResources();
    static QHash<QString, QImage> cache;
    const QString path = PathOf("bitmaps", name, ".pbm");
    if (auto found = cache.constFind(path); found != cache.constEnd()) {
        return *found;
    }
    QImage image = ReadMono(path);
    cache.insert(path, image);
    return image;
}

std::optional<QCursor> LoadCursor(std::string_view name) {
    EnsureResources();
    // Every control asks for its cursor when it is made: each picture is read once.
    struct CursorImages {
        QImage shape;
        QImage mask;
        QPoint hot;
    };
    static QHash<QString, CursorImages> cache;
    const QString path = PathOf("cursors", name, ".pbm");
    auto found = cache.constFind(path);
    if (found == cache.constEnd()) {
        found = cache.insert(path, {ReadMono(path), ReadMono(PathOf("cursors", name, ".mask.pbm")),
                                    ReadHotSpot(path)});
    }
    const CursorImages& images = *found;
    if (images.shape.isNull() || images.mask.isNull() ||
        images.shape.size() != images.mask.size()) {
        return std::nullopt;
    }
    return QCursor(QPixmap::fromImage(CursorPicture(images.shape, images.mask)), images.hot.x(),
                   images.hot.y());
}

QIcon LoadAppIcon(QColor ink, QColor paper) {
    QImage image = LoadBitmap("ICON128");
    if (image.isNull()) {
        return {};
    }
    image.setColorTable({ink.rgba(), paper.rgba()});
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace Resources
