// Open, Save, Save As and the save-changes question of a real main window; the file dialogs
// and the question are answered from timers, as a user would answer them.
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <fstream>

#include "DocumentsTestSupport.h"
#include "app/DocumentController.h"
#include "app/SaveChangesDialog.h"
#include "document/SetupFile.h"
#include "panels/CommandIds.h"

using namespace CommandIds;

namespace {

const std::string kPrefix = ::Setup::kTitlePrefix;

void typeName(QFileDialog* dialog, const std::string& path) {
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(path));
}

class DocumentsTest : public WindowTest {
protected:
    // A setup file with a tempo of its own.
    std::string writeOther(const std::string& name, double bpm) {
        ::Setup other;
        other.bpm = bpm;
        const std::string path = file(name);
        SetupFile::save(path, other, 0x00405060, 30, 40);
        return path;
    }
    QByteArray read(const std::string& path) {
        QFile in(QString::fromStdString(path));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    void makeChanged(double bpm) {
        window->controller().SetBpm(bpm);
        setup().dirty = true;
    }
    void answer(int result, QString* prompt = nullptr) {
        dialogs.expect<SaveChangesDialog>([result, prompt](SaveChangesDialog* dialog) {
            if (prompt != nullptr) {
                *prompt = dialog->prompt();
            }
            QPushButton* button = result == SaveChangesDialog::kSave     ? dialog->saveButton()
                                  : result == SaveChangesDialog::kCancel ? dialog->cancelButton()
                                                                         : dialog->dontSaveButton();
            button->click();
        });
    }
    void chooseFile(const std::string& path, QString* initialName = nullptr) {
        dialogs.expect<QFileDialog>([path, initialName](QFileDialog* dialog) {
            if (initialName != nullptr) {
                *initialName =
                    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            }
            typeName(dialog, path);
            static_cast<QDialog*>(dialog)->accept();
        });
    }
    void cancelFileDialog() {
        dialogs.expect<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    }
};

TEST_F(DocumentsTest, OpenWithoutChangesGoesStraightToTheFileDialog) {
    makeWindow();
    const std::string other = writeOther("other.qov", 99.0);
    setup().dirty = false;
    bool questionShown = false;
    dialogs.expect<QFileDialog>([&](QFileDialog* dialog) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            questionShown |=
                qobject_cast<SaveChangesDialog*>(widget) != nullptr && widget->isVisible();
        }
        EXPECT_TRUE(dialog->defaultSuffix() == QStringLiteral("qov"));
        EXPECT_EQ(dialog->nameFilters(), QStringList({QStringLiteral("qov files (*.qov)"),
                                                      QStringLiteral("All Files (*)")}));
        typeName(dialog, other);
        static_cast<QDialog*>(dialog)->accept();
    });
    window->onCommand(ID_OPEN_SETUP);
    EXPECT_FALSE(questionShown);
    EXPECT_DOUBLE_EQ(setup().bpm, 99.0);
    EXPECT_EQ(setup().path, other);
    EXPECT_EQ(window->windowTitle().toStdString(), kPrefix + " :   other.qov");
    EXPECT_FALSE(setup().dirty);
    EXPECT_EQ(window->baseColor(), 0x00405060U);
    EXPECT_EQ(window->window()->pos(), QPoint(30, 40));
}

TEST_F(DocumentsTest, UntitledPromptNamesTheUntitledFileAndSaveGoesThroughSaveAs) {
    makeWindow();
    makeChanged(111.0);
    QString prompt;
    QString initialName;
    answer(SaveChangesDialog::kSave, &prompt);
    chooseFile(file("first.qov"), &initialName);
    cancelFileDialog();  // the open dialog that follows
    window->onCommand(ID_OPEN_SETUP);
    EXPECT_EQ(prompt, QStringLiteral("Save changes to\n\"Untitled Settings.qov\"?"));
    EXPECT_EQ(initialName, QStringLiteral("Untitled Settings.qov"));
    EXPECT_EQ(setup().path, file("first.qov"));
    EXPECT_FALSE(setup().dirty);
    EXPECT_DOUBLE_EQ(setup().bpm, 111.0);
    EXPECT_DOUBLE_EQ(SetupFile::read(file("first.qov")).bpm, 111.0);
}

TEST_F(DocumentsTest, SaveAsCancelledFromThePromptKeepsTheChangesAndStops) {
    makeWindow();
    makeChanged(111.0);
    answer(SaveChangesDialog::kSave);
    cancelFileDialog();
    EXPECT_FALSE(window->confirmDiscard());
    EXPECT_TRUE(setup().dirty);
    EXPECT_TRUE(setup().path.empty());
}

TEST_F(DocumentsTest, SaveOnATitledSetupWritesWithoutAnyDialog) {
    makeWindow();
    setup().path = file("titled.qov");
    makeChanged(123.0);
    window->onCommand(ID_SAVE_SETUP);
    EXPECT_EQ(dialogs.pending(), 0);
    EXPECT_FALSE(setup().dirty);
    EXPECT_EQ(window->windowTitle().toStdString(), kPrefix + " :   titled.qov");
    const SetupRecord written = SetupFile::read(file("titled.qov"));
    EXPECT_DOUBLE_EQ(written.bpm, 123.0);
    EXPECT_EQ(written.baseColor, static_cast<std::int32_t>(window->baseColor()));
    EXPECT_EQ(written.windowLeft, window->window()->x());
    EXPECT_EQ(written.windowTop, window->window()->y());
}

TEST_F(DocumentsTest, DontSaveOpensTheOtherFileAndDropsTheChanges) {
    makeWindow();
    const std::string other = writeOther("other.qov", 77.0);
    makeChanged(150.0);
    answer(SaveChangesDialog::kDontSave);
    window->openFile(other);
    EXPECT_DOUBLE_EQ(setup().bpm, 77.0);
    EXPECT_EQ(setup().path, other);
    EXPECT_FALSE(setup().dirty);
}

TEST_F(DocumentsTest, CancelLeavesEverythingAsItWas) {
    makeWindow();
    const std::string other = writeOther("other.qov", 77.0);
    makeChanged(150.0);
    const std::string title = window->windowTitle().toStdString();
    answer(SaveChangesDialog::kCancel);
    window->openFile(other);
    EXPECT_DOUBLE_EQ(setup().bpm, 150.0);
    EXPECT_TRUE(setup().path.empty());
    EXPECT_TRUE(setup().dirty);
    EXPECT_EQ(window->windowTitle().toStdString(), title);
}

TEST_F(DocumentsTest, AFailedReadLeavesEverythingAsItWas) {
    makeWindow();
    const std::string damaged = file("damaged.qov");
    std::ofstream(damaged, std::ios::binary) << "not a setup";
    makeChanged(140.0);
    setup().dirty = false;
    const Measure measure = setup().measures[2];
    window->openFile(damaged);
    ASSERT_EQ(notes.size(), 1U);
    EXPECT_NE(notes[0].find("damaged.qov"), std::string::npos);
    EXPECT_DOUBLE_EQ(setup().bpm, 140.0);
    EXPECT_TRUE(setup().path.empty());
    EXPECT_EQ(setup().measures[2].steps[5].notes, measure.steps[5].notes);
    EXPECT_EQ(window->windowTitle().toStdString(), kPrefix);
}

TEST_F(DocumentsTest, AFailedWriteLeavesEverythingAsItWasAndStopsTheOpen) {
    makeWindow();
    const std::string other = writeOther("other.qov", 77.0);
    const std::string unwritable = file("no-such-folder/setup.qov");
    setup().path = unwritable;
    makeChanged(150.0);
    const std::string title = window->windowTitle().toStdString();
    answer(SaveChangesDialog::kSave);
    window->openFile(other);
    ASSERT_EQ(notes.size(), 1U);
    EXPECT_DOUBLE_EQ(setup().bpm, 150.0);
    EXPECT_EQ(setup().path, unwritable);
    EXPECT_TRUE(setup().dirty);
    EXPECT_EQ(window->windowTitle().toStdString(), title);
}

TEST_F(DocumentsTest, SaveAsAsksBeforeReplacingAFile) {
    makeWindow();
    const std::string existing = writeOther("existing.qov", 60.0);
    const QByteArray before = read(existing);
    makeChanged(90.0);
    dialogs.expect<QFileDialog>([existing](QFileDialog* dialog) {
        typeName(dialog, existing);
        QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
    });
    dialogs.expect<QMessageBox>([](QMessageBox* question) {
        QAbstractButton* no = question->button(QMessageBox::No);
        ASSERT_NE(no, nullptr);
        no->click();
        // The file dialog stays open after "No"; the user then gives up.
        QTimer::singleShot(0, [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* files = qobject_cast<QFileDialog*>(widget); files && files->isVisible()) {
                    files->reject();
                }
            }
        });
    });
    window->onCommand(ID_SAVE_SETUP_AS);
    EXPECT_EQ(read(existing), before);
    EXPECT_TRUE(setup().dirty);
    EXPECT_TRUE(setup().path.empty());
}

TEST_F(DocumentsTest, TheSaveSuffixIsAddedToANameWithoutIt) {
    makeWindow();
    makeChanged(90.0);
    chooseFile(file("plain"));
    window->onCommand(ID_SAVE_SETUP_AS);
    EXPECT_EQ(setup().path, file("plain.qov"));
    EXPECT_TRUE(std::filesystem::exists(file("plain.qov")));
}

TEST_F(DocumentsTest, ClosingAChangedSetupAsksFirst) {
    makeWindow();
    makeChanged(90.0);
    answer(SaveChangesDialog::kCancel);
    window->close();
    EXPECT_TRUE(window->isVisible());
    answer(SaveChangesDialog::kDontSave);
    window->close();
    EXPECT_FALSE(window->isVisible());
}

TEST(SaveChangesDialog, CaptionButtonsAndResults) {
    SaveChangesDialog dialog;
    EXPECT_EQ(dialog.windowTitle().toStdString(), SaveChangesDialog::kCaption);
    EXPECT_EQ(dialog.prompt(), QStringLiteral("Your text here..."));
    EXPECT_TRUE(dialog.saveButton()->isDefault());
    const std::vector<std::pair<QPushButton*, int>> results = {
        {dialog.saveButton(), 1}, {dialog.cancelButton(), 0}, {dialog.dontSaveButton(), 2}};
    for (const auto& [button, result] : results) {
        QTimer::singleShot(0, button, [button = button] { button->click(); });
        EXPECT_EQ(dialog.exec(), result) << button->text().toStdString();
    }
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });  // Escape, the close box
    EXPECT_EQ(dialog.exec(), SaveChangesDialog::kCancel);
}

TEST(SaveChangesDialog, LongNamesAreShortenedVisiblyInTheMiddle) {
    const std::string shortName = "/home/me/" + std::string(200, 'a') + ".qov";
    EXPECT_EQ(SaveChangesDialog::ShownName(QString::fromStdString(shortName)).toStdString(),
              shortName);
    std::string longName = "/home/me/";
    for (int i = 0; i < 40; ++i) {
        longName += "f\xC3\xA9ldername/";  // two bytes for one character
    }
    longName += "my song.qov";
    const QString shown = SaveChangesDialog::ShownName(QString::fromStdString(longName));
    EXPECT_EQ(shown.toUcs4().size(), SaveChangesDialog::kLongestShownName);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/home/me/f\u00e9ldername/")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/my song.qov")));
    EXPECT_TRUE(shown.contains(QStringLiteral("...")));
    EXPECT_EQ(SaveChangesDialog::PromptFor(longName),
              QStringLiteral("Save changes to\n\"") + shown + QStringLiteral("\"?"));
}

TEST(DocumentController, FileFilterBecomesDialogFilters) {
    EXPECT_EQ(DocumentController::NameFilters(DocumentController::kFileFilter),
              QStringList({QStringLiteral("qov files (*.qov)"), QStringLiteral("All Files (*)")}));
    EXPECT_EQ(DocumentController::NameFilters("Setups (*.qov;*.q_v)|*.qov;*.q_v||"),
              QStringList({QStringLiteral("Setups (*.qov *.q_v)")}));
}

}  // namespace
