#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Registers the setup file type with the desktop at every start: a shared-mime-info package
// for "*.qov", a desktop entry that opens such files with the running program, and the
// program's icon, all under $XDG_DATA_HOME (default ~/.local/share). Each start makes them name
// the program that runs, but writes only the files whose content would change and refreshes
// only the databases that changed, with the tools running detached: a start with nothing to
// change writes nothing and starts no process. An installed program whose desktop entry and
// file type the desktop already has from its installation writes nothing at all. Failures are
// silent: the program then simply runs without the association. The files' content is that of
// the installed ones in packaging/, but for the program path.
class FileTypeRegistration {
public:
    static constexpr const char* kMimeType = "application/x-glimmerstave-setup";
    static constexpr const char* kTypeComment = "Glimmerstave Settings File";
    static constexpr const char* kGlob = "*.qov";
    static constexpr const char* kApplicationName = "Glimmerstave";
    static constexpr const char* kIconName = "glimmerstave";
    static constexpr int kIconSize = 48;

    // The desktop databases that must learn of the files written.
    struct Changes {
        bool mime = false;
        bool desktop = false;
    };

    FileTypeRegistration(QString dataHome, QString programPath);

    // The registration at start-up: writes the files for the running program under the user's
    // data folder, then refreshes the desktop databases that changed. Returns the number of
    // database tools started.
    static int RegisterFileType();

    // True when one of dataDirs holds the file type and a desktop entry that starts this
    // very program (by path or by name on PATH): it was installed, and copies of the user's
    // would only shadow the installed files.
    static bool installedSystemWide(const QStringList& dataDirs, const QString& programPath);
    // The absolute folders of $XDG_DATA_DIRS, else /usr/local/share and /usr/share.
    static QStringList defaultDataDirs();
    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    static QString defaultDataHome();
    // The absolute path of the running program.
    static QString runningProgramPath();

    // Writes those of the mime package, the desktop entry and the icons whose content differs
    // from what is there; false when any of them could not be written (the others are still
    // written). `changes` receives the databases to refresh: those whose files were written,
    // and those whose database has never been made.
    bool writeFiles(Changes* changes = nullptr) const;
    // Starts update-mime-database and update-desktop-database on the folders that changed,
    // each only when it is installed, detached: never waited for, their results ignored.
    // Returns the number started.
    int refreshDatabases(const Changes& changes) const;

    QString mimePackagePath() const;   // <data>/mime/packages/glimmerstave.xml
    QString desktopEntryPath() const;  // <data>/applications/glimmerstave.desktop
    QString iconPath() const;          // <data>/icons/hicolor/48x48/apps/glimmerstave.png
    QString scalableIconPath() const;  // <data>/icons/hicolor/scalable/apps/glimmerstave.svg

    static QByteArray mimePackageText();
    static QByteArray desktopEntryText(const QString& programPath);
    // The program path as the first argument of a desktop entry's Exec key: quoted when it
    // holds a character the key reserves, with the escapes the key's rules require.
    static QString execProgramArgument(const QString& programPath);
    static QByteArray iconPngBytes();
    static QByteArray scalableIconText();

private:
    QString dataHome_;
    QString programPath_;
};
