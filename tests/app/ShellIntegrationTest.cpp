// How setup files reach a running window from the desktop: the registration written at start,
// the file endings, shortcuts, the command line and dropped files.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <fstream>
#include <sstream>

#include "DocumentsTestSupport.h"
#include "ShellLinkBuilder.h"
#include "app/CommandLine.h"
#include "app/SaveChangesDialog.h"
#include "document/FileTypeRegistration.h"
#include "document/SetupFile.h"

namespace {

class ShellIntegrationTest : public WindowTest {
protected:
    std::string writeSetup(const std::string& name, double bpm) {
        ::Setup other;
        other.bpm = bpm;
        const std::string path = file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        SetupFile::save(path, other, 0, 0, 0);
        return path;
    }
    void drop(const std::vector<std::string>& paths) {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const std::string& path : paths) {
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        }
        data->setUrls(urls);
        const QPointF at(300, 80);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &dropped);
        // The file is opened once the drop is over.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        delete data;
    }
};

TEST_F(ShellIntegrationTest, AStartRegistersTheFileTypeForThisProgram) {
    const QString dataHome = FileTypeRegistration::defaultDataHome();
    QFile::remove(dataHome + QStringLiteral("/applications/glimmerstave.desktop"));
    makeWindow();
    QFile mime(dataHome + QStringLiteral("/mime/packages/glimmerstave.xml"));
    ASSERT_TRUE(mime.open(QIODevice::ReadOnly));
    const QByteArray mimeText = mime.readAll();
    EXPECT_TRUE(mimeText.contains("Glimmerstave Settings File"));
    EXPECT_TRUE(mimeText.contains("*.qov"));
    QFile entry(dataHome + QStringLiteral("/applications/glimmerstave.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray entryText = entry.readAll();
    EXPECT_TRUE(entryText.contains(
        ("Exec=" +
         FileTypeRegistration::execProgramArgument(FileTypeRegistration::runningProgramPath()) +
         " %f")
            .toUtf8()));
}

TEST_F(ShellIntegrationTest, EndingsAreCaseSensitive) {
    makeWindow();
    const std::string upper = writeSetup("song.QOV", 80.0);
    const std::string lower = writeSetup("song.qov", 81.0);
    window->openFile(upper);
    EXPECT_TRUE(setup().path.empty());
    EXPECT_TRUE(notes.empty());
    window->openFile(lower);
    EXPECT_EQ(setup().path, lower);
    EXPECT_DOUBLE_EQ(setup().bpm, 81.0);
}

TEST_F(ShellIntegrationTest, ShortcutsEndingInLnkOrLNKAreFollowed) {
    makeWindow();
    const std::string target = writeSetup("a long folder name/song.qov", 82.0);
    ShellLinkBuilder link;
    link.localBasePath = target;
    link.writeTo(file("set.Lnk"));
    window->openFile(file("set.Lnk"));
    EXPECT_TRUE(setup().path.empty());

    link.writeTo(file("set.LNK"));
    window->openFile(file("set.LNK"));
    EXPECT_EQ(setup().path, std::filesystem::canonical(target).string());
    EXPECT_EQ(window->windowTitle().toStdString(),
              std::string(::Setup::kTitlePrefix) + " :   song.qov");
    EXPECT_DOUBLE_EQ(setup().bpm, 82.0);
}

TEST_F(ShellIntegrationTest, AMissingPathSaysSo) {
    makeWindow();
    window->openFile(file("gone.qov"));
    EXPECT_EQ(notes, std::vector<std::string>{"Path not found."});
    EXPECT_TRUE(setup().path.empty());
}

TEST_F(ShellIntegrationTest, AnUnquotedPathWithBlanksOpensWhole) {
    const std::string path = writeSetup("My Setups/a b.qov", 83.0);
    std::vector<std::string> words;
    std::stringstream split(path);
    for (std::string word; std::getline(split, word, ' ');) {
        words.push_back(word);
    }
    ASSERT_EQ(words.size(), 3U);
    const CommandLine commandLine = CommandLine::parse(words);
    makeWindow(commandLine.setupPath);
    EXPECT_EQ(setup().path, path);
    EXPECT_DOUBLE_EQ(setup().bpm, 83.0);
}

TEST_F(ShellIntegrationTest, OnlyTheFirstDroppedFileIsOpened) {
    makeWindow();
    const std::string first = writeSetup("first.qov", 84.0);
    const std::string second = writeSetup("second.qov", 85.0);
    const std::string third = writeSetup("third.qov", 86.0);
    drop({first, second, third});
    EXPECT_EQ(setup().path, first);
    EXPECT_DOUBLE_EQ(setup().bpm, 84.0);

    // A text file first: nothing at all, even with setup files behind it.
    std::ofstream(file("notes.txt")) << "text";
    drop({file("notes.txt"), second});
    EXPECT_EQ(setup().path, first);
}

TEST_F(ShellIntegrationTest, ADirtySetupAsksBeforeADroppedFileIsLookedAt) {
    makeWindow();
    std::ofstream(file("notes.txt")) << "text";
    window->controller().SetBpm(140.0);
    setup().dirty = true;
    bool asked = false;
    dialogs.expect<SaveChangesDialog>([&asked](SaveChangesDialog* dialog) {
        asked = true;
        dialog->dontSaveButton()->click();
    });
    drop({file("notes.txt")});
    EXPECT_TRUE(asked);
    EXPECT_TRUE(setup().path.empty());
    EXPECT_DOUBLE_EQ(setup().bpm, 140.0);
    EXPECT_TRUE(notes.empty());
}

}  // namespace
