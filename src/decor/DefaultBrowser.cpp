#include "decor/DefaultBrowser.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace DefaultBrowser {
namespace {

// The value of key in [group] of a desktop-style key file; the first occurrence counts.
std::optional<QString> ValueInGroup(const QString& text, const QString& group, const QString& key) {
    bool inGroup = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inGroup && equals > 0 && line.left(equals).trimmed() == key) {
            return line.mid(equals + 1).trimmed();
        }
    }
    return std::nullopt;
}

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // Desktop files are small; anything huge is not one.
    return QString::fromUtf8(file.read(1 << 20));
}

QStringList MimeappsFiles() {
    QStringList files;
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        files << dir + QStringLiteral("/mimeapps.list");
    }
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        files << dir + QStringLiteral("/mimeapps.list");
    }
    return files;
}

std::optional<QString> ExecOf(const QString& desktopId) {
    // A desktop id may not climb out of the applications folders.
    if (desktopId.contains(QLatin1String("..")) || desktopId.startsWith(QLatin1Char('/'))) {
        return std::nullopt;
    }
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return DesktopExec(ReadText(path));
}

}  // namespace

QStringList DefaultHandlers(const QString& mimeappsText, const QString& mimeType) {
    const std::optional<QString> value =
        ValueInGroup(mimeappsText, QStringLiteral("Default Applications"), mimeType);
    if (!value) {
        return {};
    }
    QStringList ids = value->split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& id : ids) {
        id = id.trimmed();
    }
    ids.removeAll(QString());
    return ids;
}

std::optional<QString> DesktopExec(const QString& desktopEntryText) {
    std::optional<QString> exec =
        ValueInGroup(desktopEntryText, QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
    if (exec && exec->isEmpty()) {
        return std::nullopt;
    }
    return exec;
}

std::optional<QString> Command() {
    for (const QString& mimeType :
         {QStringLiteral("x-scheme-handler/http"), QStringLiteral("text/html")}) {
        for (const QString& file : MimeappsFiles()) {
            for (const QString& id : DefaultHandlers(ReadText(file), mimeType)) {
                if (std::optional<QString> exec = ExecOf(id)) {
                    return exec;
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace DefaultBrowser
