#include "document/FileTypeRegistration.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Waits for a condition met by a detached tool; false when it is not met within 10 s.
template <typename Condition>
bool waitFor(Condition condition) {
    QDeadlineTimer deadline(10'000);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}

// The inode tells a rewrite (the file is replaced by a new one) from a file left alone.
ino_t inodeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

QString execLine(const QByteArray& entry) {
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith("Exec=")) {
            return QString::fromUtf8(line.mid(5));
        }
    }
    return {};
}

// Every test runs with its own data folder, home and PATH, restored afterwards.
class FileTypeRegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "HOME", "PATH"}) {
            saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        }
        dataHome = root.filePath(QStringLiteral("data"));
        tools = root.filePath(QStringLiteral("bin"));
        QDir().mkpath(tools);
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        qputenv("HOME", root.filePath(QStringLiteral("home")).toUtf8());
        // Nothing installed, unless a test installs it here.
        systemData = root.filePath(QStringLiteral("system"));
        qputenv("XDG_DATA_DIRS", systemData.toUtf8());
    }

    // The program's desktop entry and file type as a package installs them, the entry
    // starting `program`.
    void installSystemWide(const QString& program, bool withFileType = true) {
        const FileTypeRegistration installed(systemData, program);
        ASSERT_TRUE(installed.writeFiles());
        if (!withFileType) {
            ASSERT_TRUE(QFile::remove(installed.mimePackagePath()));
        }
    }

    void TearDown() override {
        for (const Saved& entry : saved) {
            if (entry.wasSet) {
                qputenv(entry.name, entry.value);
            } else {
                qunsetenv(entry.name);
            }
        }
    }

    // Only the stand-in tools in `tools` are found.
    void useOnlyStandInTools() { qputenv("PATH", tools.toUtf8()); }

    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> saved;
    QTemporaryDir root;
    QString dataHome;
    QString systemData;
    QString tools;
};

}  // namespace

TEST_F(FileTypeRegistrationTest, StartWritesThePackageTheEntryAndTheIcons) {
    useOnlyStandInTools();
    FileTypeRegistration::RegisterFileType();

    const QByteArray mime = readAll(dataHome + "/mime/packages/glimmerstave.xml");
    EXPECT_TRUE(mime.contains("<mime-type type=\"application/x-glimmerstave-setup\">"))
        << mime.data();
    EXPECT_TRUE(mime.contains("<comment>Glimmerstave Settings File</comment>"));
    EXPECT_TRUE(mime.contains("<glob pattern=\"*.qov\" case-sensitive=\"true\"/>"));

    const QByteArray entry = readAll(dataHome + "/applications/glimmerstave.desktop");
    ASSERT_TRUE(entry.startsWith("[Desktop Entry]\n")) << entry.data();
    EXPECT_TRUE(entry.contains("\nType=Application\n"));
    EXPECT_TRUE(entry.contains("\nName=Glimmerstave\n"));
    EXPECT_TRUE(entry.contains("\nIcon=glimmerstave\n"));
    EXPECT_TRUE(entry.contains("\nMimeType=application/x-glimmerstave-setup;\n"));
    const QString program = QCoreApplication::applicationFilePath();
    ASSERT_TRUE(QFileInfo(program).isAbsolute());
    EXPECT_EQ(program + " %f", execLine(entry));

    const QImage icon(dataHome + "/icons/hicolor/48x48/apps/glimmerstave.png");
    EXPECT_EQ(QSize(48, 48), icon.size());
    EXPECT_NE(icon.pixel(0, 0), icon.pixel(24, 24));  // not a blank square
    EXPECT_TRUE(
        readAll(dataHome + "/icons/hicolor/scalable/apps/glimmerstave.svg").startsWith("<svg "));
}

TEST_F(FileTypeRegistrationTest, EveryStartRewritesTheEntryForTheRunningProgram) {
    useOnlyStandInTools();
    const FileTypeRegistration older(dataHome, QStringLiteral("/old/place/glimmerstave"));
    ASSERT_TRUE(older.writeFiles());
    EXPECT_EQ("/old/place/glimmerstave %f",
              execLine(readAll(dataHome + "/applications/glimmerstave.desktop")));
    FileTypeRegistration::RegisterFileType();
    EXPECT_EQ(QCoreApplication::applicationFilePath() + " %f",
              execLine(readAll(dataHome + "/applications/glimmerstave.desktop")));
}

TEST_F(FileTypeRegistrationTest, InstalledProgramLeavesTheUserFolderAlone) {
    useOnlyStandInTools();
    const QString program = QCoreApplication::applicationFilePath();
    installSystemWide(program);
    qputenv("XDG_DATA_DIRS", (root.filePath("elsewhere") + ":" + systemData).toUtf8());
    EXPECT_EQ(0, FileTypeRegistration::RegisterFileType());
    EXPECT_FALSE(QFileInfo::exists(dataHome));

    // The installed entry names the program on PATH, as a package's does.
    QFile::link(program, tools + "/glimmerstave");
    installSystemWide(QStringLiteral("glimmerstave"));
    EXPECT_EQ(execLine(readAll(systemData + "/applications/glimmerstave.desktop")),
              "glimmerstave %f");
    EXPECT_TRUE(FileTypeRegistration::installedSystemWide({systemData}, program));
    FileTypeRegistration::RegisterFileType();
    EXPECT_FALSE(QFileInfo::exists(dataHome));
}

TEST_F(FileTypeRegistrationTest, ProgramNotTheInstalledOneRegistersForTheUser) {
    useOnlyStandInTools();
    const QString program = QCoreApplication::applicationFilePath();
    const QStringList dirs = {systemData};
    installSystemWide(QStringLiteral("/usr/games/another/glimmerstave"));
    EXPECT_FALSE(FileTypeRegistration::installedSystemWide(dirs, program));
    installSystemWide(QStringLiteral("glimmerstave"));  // not on PATH
    EXPECT_FALSE(FileTypeRegistration::installedSystemWide(dirs, program));
    installSystemWide(program, false);  // a desktop entry without its file type
    EXPECT_FALSE(FileTypeRegistration::installedSystemWide(dirs, program));

    FileTypeRegistration::RegisterFileType();
    EXPECT_EQ(program + " %f", execLine(readAll(dataHome + "/applications/glimmerstave.desktop")));
}

TEST_F(FileTypeRegistrationTest, InstalledEntryIsFoundThroughQuotesAndEscapes) {
    const QString folder = root.filePath("my $tools \\ \"x\"");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + "/glimmerstave";
    ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), program));
    installSystemWide(program);
    EXPECT_TRUE(FileTypeRegistration::installedSystemWide({systemData}, program));
    EXPECT_FALSE(FileTypeRegistration::installedSystemWide(
        {systemData}, QStringLiteral("/usr/games/another/glimmerstave")));
}

TEST_F(FileTypeRegistrationTest, DataDirsDefaultToTheSystemFolders) {
    qunsetenv("XDG_DATA_DIRS");
    const QStringList standard = {"/usr/local/share", "/usr/share"};
    EXPECT_EQ(standard, FileTypeRegistration::defaultDataDirs());
    qputenv("XDG_DATA_DIRS", "relative:/opt/x/share/:");
    EXPECT_EQ(QStringList{"/opt/x/share"}, FileTypeRegistration::defaultDataDirs());
    qputenv("XDG_DATA_DIRS", "");
    EXPECT_EQ(standard, FileTypeRegistration::defaultDataDirs());
}

TEST_F(FileTypeRegistrationTest, DataHomeFallsBackToTheHomeFolder) {
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(root.filePath("home/.local/share"), FileTypeRegistration::defaultDataHome());
    qputenv("XDG_DATA_HOME", "");
    EXPECT_EQ(root.filePath("home/.local/share"), FileTypeRegistration::defaultDataHome());
    qputenv("XDG_DATA_HOME", "relative/data");  // not absolute: ignored, as the rules say
    EXPECT_EQ(root.filePath("home/.local/share"), FileTypeRegistration::defaultDataHome());
    qputenv("XDG_DATA_HOME", (dataHome + "/").toUtf8());
    EXPECT_EQ(dataHome, FileTypeRegistration::defaultDataHome());

    qunsetenv("XDG_DATA_HOME");
    useOnlyStandInTools();
    FileTypeRegistration::RegisterFileType();
    EXPECT_TRUE(
        QFile::exists(root.filePath("home/.local/share/applications/glimmerstave.desktop")));
}

TEST_F(FileTypeRegistrationTest, UnwritableDataFolderFailsSilently) {
    useOnlyStandInTools();
    QFile blocker(dataHome);  // a plain file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const FileTypeRegistration registration(dataHome, QStringLiteral("/usr/bin/glimmerstave"));
    EXPECT_FALSE(registration.writeFiles());
    FileTypeRegistration::RegisterFileType();  // no exception, no message
    EXPECT_TRUE(QFileInfo(dataHome).isFile());
}

// Paths as the Exec key must carry them, and the expected key text.
struct ExecCase {
    const char* path;
    const char* exec;
};

class FileTypeRegistrationExec : public testing::TestWithParam<ExecCase> {};

TEST_P(FileTypeRegistrationExec, ProgramPathIsQuotedAndEscapedWhenNeeded) {
    EXPECT_EQ(QString::fromUtf8(GetParam().exec),
              FileTypeRegistration::execProgramArgument(QString::fromUtf8(GetParam().path)));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileTypeRegistrationExec,
    testing::Values(ExecCase{"/usr/bin/glimmerstave", "/usr/bin/glimmerstave"},
                    ExecCase{"/opt/My Tools/glimmerstave", "\"/opt/My Tools/glimmerstave\""},
                    ExecCase{"/opt/a\"b/g", "\"/opt/a\\\\\"b/g\""},
                    ExecCase{"/opt/$HOME/g", "\"/opt/\\\\$HOME/g\""},
                    ExecCase{"/opt/back\\slash/g", "\"/opt/back\\\\\\\\slash/g\""},
                    ExecCase{"/opt/100%/g", "/opt/100%%/g"},
                    ExecCase{"/opt/it's/g", "\"/opt/it's/g\""},
                    ExecCase{"/opt/\xC3\xA9t\xC3\xA9/g", "/opt/\xC3\xA9t\xC3\xA9/g"}));

TEST_F(FileTypeRegistrationTest, InstalledMimeDatabaseLearnsTheType) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (tool.isEmpty()) {
        GTEST_SKIP() << "update-mime-database is not installed";
    }
    FileTypeRegistration::RegisterFileType();
    const QString type = dataHome + "/mime/application/x-glimmerstave-setup.xml";
    ASSERT_TRUE(waitFor([&] {
        return readAll(type).contains("Glimmerstave Settings File") &&
               QFile::exists(dataHome + "/mime/mime.cache") &&
               readAll(dataHome + "/mime/globs2").contains("application/x-glimmerstave-setup");
    })) << readAll(type).data();
}

TEST_F(FileTypeRegistrationTest, ToolsRunOnTheFoldersWrittenAndFailuresAreIgnored) {
    const QString log = root.filePath("calls.log");
    writeScript(tools + "/update-mime-database", "echo \"mime $1\" >> '" + log.toUtf8() + "'");
    writeScript(tools + "/update-desktop-database",
                "echo \"desktop $1\" >> '" + log.toUtf8() + "'; exit 3");
    useOnlyStandInTools();
    EXPECT_EQ(2, FileTypeRegistration::RegisterFileType());
    ASSERT_TRUE(waitFor([&] { return readAll(log).count('\n') == 2; })) << readAll(log).data();
    const QByteArray calls = readAll(log);
    EXPECT_TRUE(calls.contains("mime " + dataHome.toUtf8() + "/mime\n")) << calls.data();
    EXPECT_TRUE(calls.contains("desktop " + dataHome.toUtf8() + "/applications\n"));
}

TEST_F(FileTypeRegistrationTest, OnlyWhatChangedIsWrittenAndRefreshed) {
    // Stand-in tools that make the databases' files, as the real ones do.
    writeScript(
        tools + "/update-mime-database",
        "/bin/mkdir -p \"$1/application\" && : > \"$1/application/x-glimmerstave-setup.xml\"");
    writeScript(tools + "/update-desktop-database", ": > \"$1/mimeinfo.cache\"");
    useOnlyStandInTools();
    ASSERT_EQ(2, FileTypeRegistration::RegisterFileType());
    ASSERT_TRUE(waitFor([&] {
        return QFile::exists(dataHome + "/mime/application/x-glimmerstave-setup.xml") &&
               QFile::exists(dataHome + "/applications/mimeinfo.cache");
    }));
    const FileTypeRegistration current(dataHome, QCoreApplication::applicationFilePath());
    const QStringList files = {current.mimePackagePath(), current.desktopEntryPath(),
                               current.iconPath(), current.scalableIconPath()};
    QList<ino_t> inodes;
    for (const QString& file : files) {
        inodes.append(inodeOf(file));
        ASSERT_NE(0u, inodes.back()) << file.toStdString();
    }

    // Nothing changed: no file is written, no tool started.
    EXPECT_EQ(0, FileTypeRegistration::RegisterFileType());
    for (int i = 0; i < files.size(); ++i) {
        EXPECT_EQ(inodes[i], inodeOf(files[i])) << files[i].toStdString() << " was rewritten";
    }

    // Another program path changes the desktop entry only.
    const FileTypeRegistration moved(dataHome, QStringLiteral("/opt/moved/glimmerstave"));
    FileTypeRegistration::Changes changes;
    ASSERT_TRUE(moved.writeFiles(&changes));
    EXPECT_FALSE(changes.mime);
    EXPECT_TRUE(changes.desktop);
    EXPECT_NE(inodes[1], inodeOf(files[1]));
    EXPECT_EQ(inodes[0], inodeOf(files[0]));

    // A database that is gone is made again although its files are unchanged.
    ASSERT_TRUE(QFile::remove(dataHome + "/mime/application/x-glimmerstave-setup.xml"));
    ASSERT_TRUE(moved.writeFiles(&changes));
    EXPECT_TRUE(changes.mime);
    EXPECT_FALSE(changes.desktop);
}

TEST_F(FileTypeRegistrationTest, AHangingToolIsNotWaitedFor) {
    // The tool would sleep far beyond this test's time limit if it were waited for.
    writeScript(tools + "/update-mime-database", "exec /bin/sleep 120");
    useOnlyStandInTools();
    EXPECT_GE(FileTypeRegistration::RegisterFileType(), 1);
    EXPECT_TRUE(QFile::exists(dataHome + "/applications/glimmerstave.desktop"));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
