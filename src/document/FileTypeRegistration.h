#pragma once

#include <QByteArray>
#include <QString>

class QImage;

// Registers the setup file type with the desktop at every start: a shared-mime-info package
// for "*.qov", a desktop entry that opens such files with the running program, and the
// program's icon, all under $XDG_DATA_HOME (default ~/.local/share). The files are rewritten
// on each start so they always name the program that ran last. Failures are silent: the
// program then simply runs without the association.
class FileTypeRegistration {
public:
    static constexpr const char* kMimeType = "application/x-glimmerstave-setup";
    static constexpr const char* kTypeComment = "Glimmerstave Settings File";
    static constexpr const char* kGlob = "*.qov";
    static constexpr const char* kApplicationName = "Glimmerstave";
    static constexpr const char* kIconName = "glimmerstave";
    static constexpr int kIconSize = 48;
    // How long each database tool may take before it is stopped; the start does not wait for
    // more than this per tool.
    static constexpr int kToolTimeoutMs = 2000;

    FileTypeRegistration(QString dataHome, QString programPath);

    // The registration at start-up: writes the files for the running program under the user's
    // data folder, then refreshes the desktop databases whose tools are installed.
    static void RegisterFileType();

    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    static QString defaultDataHome();
    // The absolute path of the running program.
    static QString runningProgramPath();

    // Writes the mime package, the desktop entry and the icons; false when any of them could
    // not be written (the others are still written).
    bool writeFiles() const;
    // Runs update-mime-database and update-desktop-database on the folders written, each only
    // when it is installed, each stopped after timeoutMs. Their results are ignored.
    void refreshDatabases(int timeoutMs = kToolTimeoutMs) const;

    QString mimePackagePath() const;   // <data>/mime/packages/glimmerstave.xml
    QString desktopEntryPath() const;  // <data>/applications/glimmerstave.desktop
    QString iconPath() const;          // <data>/icons/hicolor/48x48/apps/glimmerstave.png
    QString scalableIconPath() const;  // <data>/icons/hicolor/scalable/apps/glimmerstave.svg

    static QByteArray mimePackageText();
    static QByteArray desktopEntryText(const QString& programPath);
    // The program path as the first argument of a desktop entry's Exec key: quoted when it
    // holds a character the key reserves, with the escapes the key's rules require.
    static QString execProgramArgument(const QString& programPath);
    static QImage iconImage();
    static QByteArray scalableIconText();

private:
    QString dataHome_;
    QString programPath_;
};
