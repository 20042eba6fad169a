#include "FileTypeRegistration.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the file unless it already holds exactly this content. `written` tells whether it
// was written; the result whether the file now holds the content.
bool writeIfChanged(const QString& path, const QByteArray& content, bool* written) {
    *written = false;
    if (QFileInfo::exists(path) && fileContent(path) == content) {
        return true;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(content);
    *written = file.commit();
    return *written;
}

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool startTool(const QString& name, const QString& folder) {
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) {
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments({folder});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached();
}

// The step grid of the program in miniature: four rows of four steps, some lit, on the dark
// face of the window.
constexpr int kIconCells = 4;
constexpr bool kLitCells[kIconCells][kIconCells] = {{true, false, false, true},
                                                    {false, true, false, false},
                                                    {false, false, true, true},
                                                    {true, false, true, false}};

}  // namespace

FileTypeRegistration::FileTypeRegistration(QString dataHome, QString programPath)
    : dataHome_(std::move(dataHome)), programPath_(std::move(programPath)) {}

int FileTypeRegistration::RegisterFileType() {
    const FileTypeRegistration registration(defaultDataHome(), runningProgramPath());
    Changes changes;
    registration.writeFiles(&changes);
    return registration.refreshDatabases(changes);
}

QString FileTypeRegistration::defaultDataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) {
        return QDir::cleanPath(xdg);
    }
    return QDir::homePath() + QStringLiteral("/.local/share");
}

QString FileTypeRegistration::runningProgramPath() {
    if (QCoreApplication::instance() != nullptr) {
        return QCoreApplication::applicationFilePath();
    }
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString FileTypeRegistration::mimePackagePath() const {
    return dataHome_ + QStringLiteral("/mime/packages/glimmerstave.xml");
}

QString FileTypeRegistration::desktopEntryPath() const {
    return dataHome_ + QStringLiteral("/applications/glimmerstave.desktop");
}

QString FileTypeRegistration::iconPath() const {
    return dataHome_ + QStringLiteral("/icons/hicolor/%1x%1/apps/%2.png")
                           .arg(kIconSize)
                           .arg(QLatin1String(kIconName));
}

QString FileTypeRegistration::scalableIconPath() const {
    return dataHome_ +
           QStringLiteral("/icons/hicolor/scalable/apps/%1.svg").arg(QLatin1String(kIconName));
}

bool FileTypeRegistration::writeFiles(Changes* changes) const {
    bool mimeWritten = false;
    bool desktopWritten = false;
    bool iconWritten = false;
    bool written = writeIfChanged(mimePackagePath(), mimePackageText(), &mimeWritten);
    written = writeIfChanged(desktopEntryPath(), desktopEntryText(programPath_), &desktopWritten) &&
              written;
    written = writeIfChanged(iconPath(), pngBytes(iconImage()), &iconWritten) && written;
    written = writeIfChanged(scalableIconPath(), scalableIconText(), &iconWritten) && written;
    if (changes != nullptr) {
        // A database that was never made (its tool was missing or failed) is made now.
        changes->mime =
            mimeWritten || !QFileInfo::exists(dataHome_ + QStringLiteral("/mime/") +
                                              QLatin1String(kMimeType) + QStringLiteral(".xml"));
        changes->desktop =
            desktopWritten ||
            !QFileInfo::exists(dataHome_ + QStringLiteral("/applications/mimeinfo.cache"));
    }
    return written;
}

int FileTypeRegistration::refreshDatabases(const Changes& changes) const {
    int started = 0;
    if (changes.mime &&
        startTool(QStringLiteral("update-mime-database"), dataHome_ + QStringLiteral("/mime"))) {
        ++started;
    }
    if (changes.desktop && startTool(QStringLiteral("update-desktop-database"),
                                     dataHome_ + QStringLiteral("/applications"))) {
        ++started;
    }
    return started;
}

QByteArray FileTypeRegistration::mimePackageText() {
    // The glob is case-sensitive because the program opens only files ending in lower-case
    // "qov"; song.QOV would be offered to it and then ignored.
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kMimeType + "\">\n    <comment>" + kTypeComment + "</comment>\n    <icon name=\"" +
           kIconName + "\"/>\n    <glob pattern=\"" + kGlob +
           "\" case-sensitive=\"true\"/>\n  </mime-type>\n</mime-info>\n";
}

QString FileTypeRegistration::execProgramArgument(const QString& programPath) {
    // Characters that make an argument need quotes, and those that must be escaped inside
    // the quotes (freedesktop.org desktop entries, "The Exec key").
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    static const QString escapedInQuotes = QStringLiteral("\"`$\\");
    bool needsQuotes = false;
    for (const QChar c : programPath) {
        needsQuotes = needsQuotes || reserved.contains(c);
    }
    QString argument;
    for (const QChar c : programPath) {
        if (c == QLatin1Char('%')) {
            argument += QStringLiteral("%%");  // a literal percent sign, not a field code
        } else if (needsQuotes && escapedInQuotes.contains(c)) {
            argument += QLatin1Char('\\');
            argument += c;
        } else {
            argument += c;
        }
    }
    if (needsQuotes) {
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    }
    // The key's value is itself a string value with its own escapes, applied on top.
    QString value;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            value += QStringLiteral("\\\\");
        } else if (c == QLatin1Char('\n')) {
            value += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\t')) {
            value += QStringLiteral("\\t");
        } else if (c == QLatin1Char('\r')) {
            value += QStringLiteral("\\r");
        } else {
            value += c;
        }
    }
    return value;
}

QByteArray FileTypeRegistration::desktopEntryText(const QString& programPath) {
    QByteArray text("[Desktop Entry]\n");
    text += "Type=Application\n";
    text += QByteArray("Name=") + kApplicationName + "\n";
    text += "GenericName=MIDI Step Sequencer\n";
    text += "Comment=Real-time MIDI step sequencer\n";
    text += "Exec=" + execProgramArgument(programPath).toUtf8() + " %f\n";
    text += QByteArray("Icon=") + kIconName + "\n";
    text += QByteArray("MimeType=") + kMimeType + ";\n";
    text += "Categories=AudioVideo;Audio;Midi;\n";
    text += "Terminal=false\n";
    return text;
}

QImage FileTypeRegistration::iconImage() {
    QImage image(kIconSize, kIconSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QRgb face = qRgb(0x20, 0x28, 0x38);
    const QRgb lit = qRgb(0xF0, 0xC0, 0x40);
    const QRgb unlit = qRgb(0x50, 0x60, 0x78);
    constexpr int margin = 2;
    for (int y = margin; y < kIconSize - margin; ++y) {
        for (int x = margin; x < kIconSize - margin; ++x) {
            image.setPixel(x, y, face);
        }
    }
    constexpr int cell = (kIconSize - 2 * margin) / kIconCells;
    constexpr int gap = 2;
    for (int row = 0; row < kIconCells; ++row) {
        for (int column = 0; column < kIconCells; ++column) {
            const QRgb colour = kLitCells[row][column] ? lit : unlit;
            const int left = margin + column * cell + gap;
            const int top = margin + row * cell + gap;
            for (int y = top; y < top + cell - 2 * gap; ++y) {
                for (int x = left; x < left + cell - 2 * gap; ++x) {
                    image.setPixel(x, y, colour);
                }
            }
        }
    }
    return image;
}

QByteArray FileTypeRegistration::scalableIconText() {
    QByteArray svg(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\" "
        "viewBox=\"0 0 48 48\">\n"
        "  <rect x=\"2\" y=\"2\" width=\"44\" height=\"44\" fill=\"#202838\"/>\n");
    constexpr int margin = 2;
    constexpr int cell = (kIconSize - 2 * margin) / kIconCells;
    constexpr int gap = 2;
    for (int row = 0; row < kIconCells; ++row) {
        for (int column = 0; column < kIconCells; ++column) {
            svg += QStringLiteral(
                       "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%3\" fill=\"%4\"/>\n")
                       .arg(margin + column * cell + gap)
                       .arg(margin + row * cell + gap)
                       .arg(cell - 2 * gap)
                       .arg(kLitCells[row][column] ? QStringLiteral("#f0c040")
                                                   : QStringLiteral("#506078"))
                       .toUtf8();
        }
    }
    svg += "</svg>\n";
    return svg;
}
