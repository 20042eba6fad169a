#include "FileTypeRegistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// The installed files, compiled in from packaging/, so that the user's copies and the
// installed ones never differ but for the program path.
QByteArray packagedFile(const char* name) {
    return fileContent(QStringLiteral(":/packaging/") + QLatin1String(name));
}

// A desktop entry's string value with its escapes (\s, \n, \t, \r, \\) undone.
QString unescapedValue(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value[i];
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            c = value[++i];
            c = c == QLatin1Char('s')   ? QLatin1Char(' ')
                : c == QLatin1Char('n') ? QLatin1Char('\n')
                : c == QLatin1Char('t') ? QLatin1Char('\t')
                : c == QLatin1Char('r') ? QLatin1Char('\r')
                                        : c;
        }
        text += c;
    }
    return text;
}

// The program an Exec key starts: its first argument, unquoted, found on PATH when it is a
// bare name. Empty when there is none.
QString execProgram(const QByteArray& entry) {
    QString exec;
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith("Exec=")) {
            exec = unescapedValue(QString::fromUtf8(line.mid(5)).trimmed());
        }
    }
    QString program;
    if (exec.startsWith(QLatin1Char('"'))) {
        for (qsizetype i = 1; i < exec.size() && exec[i] != QLatin1Char('"'); ++i) {
            if (exec[i] == QLatin1Char('\\') && i + 1 < exec.size()) {
                ++i;
            }
            program += exec[i];
        }
    } else {
        program = exec.section(QLatin1Char(' '), 0, 0);
    }
    if (program.isEmpty() || QDir::isAbsolutePath(program)) {
        return program;
    }
    return QStandardPaths::findExecutable(program);
}

}  // namespace

FileTypeRegistration::FileTypeRegistration(QString dataHome, QString programPath)
    : dataHome_(std::move(dataHome)), programPath_(std::move(programPath)) {}

int FileTypeRegistration::RegisterFileType() {
    if (installedSystemWide(defaultDataDirs(), runningProgramPath())) {
        return 0;
    }
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

QStringList FileTypeRegistration::defaultDataDirs() {
    QStringList dirs;
    for (const QString& dir : qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'))) {
        if (QDir::isAbsolutePath(dir)) {
            dirs.append(QDir::cleanPath(dir));
        }
    }
    if (dirs.isEmpty()) {
        dirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    }
    return dirs;
}

bool FileTypeRegistration::installedSystemWide(const QStringList& dataDirs,
                                               const QString& programPath) {
    const QString program = QFileInfo(programPath).canonicalFilePath();
    for (const QString& dir : dataDirs) {
        const FileTypeRegistration installed(dir, programPath);
        if (!QFileInfo::exists(installed.mimePackagePath())) {
            continue;
        }
        const QString started = execProgram(fileContent(installed.desktopEntryPath()));
        if (!started.isEmpty() && !program.isEmpty() &&
            QFileInfo(started).canonicalFilePath() == program) {
            return true;
        }
    }
    return false;
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
    written = writeIfChanged(iconPath(), iconPngBytes(), &iconWritten) && written;
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
    return packagedFile("glimmerstave.mime.xml");
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
    // The installed entry starts the program by name; the user's names the program that ran.
    QByteArray text;
    for (const QByteArray& line : packagedFile("glimmerstave.desktop").split('\n')) {
        if (line.startsWith("Exec=")) {
            text += "Exec=" + execProgramArgument(programPath).toUtf8() + " %f\n";
        } else if (!line.isEmpty()) {
            text += line + "\n";
        }
    }
    return text;
}

QByteArray FileTypeRegistration::iconPngBytes() {
    return packagedFile("glimmerstave.png");
}

QByteArray FileTypeRegistration::scalableIconText() {
    return packagedFile("glimmerstave.svg");
}
