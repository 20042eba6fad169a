// File > Export MIDI File and Export Audio in a real window (offscreen): the dialog's default
// length, the files written, and an audio export cancelled from its progress dialog while
// the clock plays.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSpinBox>
#include <chrono>
#include <filesystem>
#include <functional>

#include "WindowTestSupport.h"
#include "app/ExportController.h"
#include "app/ExportDialog.h"
#include "document/MidiExport.h"
#include "document/TempFolder.h"
#include "panels/CommandIds.h"

namespace {

using namespace CommandIds;

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Loop 0 plays twice, then loop 3 once, then back to 0: one pass is three measures.
void chainThreeMeasures(::Setup& setup) {
    setup.selectedMeasure = 0;
    setup.measures[0].repeats = 2;
    setup.measures[0].next = 3;
    setup.measures[3].repeats = 1;
    setup.measures[3].next = 0;
}

ExportDialog* openDialog(MainWindow& window, int command) {
    window.onCommand(command);
    ExportDialog* dialog = nullptr;
    waitUntil([&] {
        dialog = window.findChild<ExportDialog*>();
        return dialog != nullptr && dialog->isVisible();
    });
    return dialog;
}

TEST(WindowExport, ExportMidiFileWritesThePassThroughTheChainOrTheMeasuresTyped) {
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    chainThreeMeasures(window.setup());
    TempFolder folder;
    const int stepsPerMeasure = window.setup().stepsPerMeasure;

    ExportDialog* dialog = openDialog(window, ID_EXPORT_MIDI);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->measures(), 3);
    dialog->pathField()->setText(QString::fromStdString(folder.file("chain.mid")));
    dialog->accept();
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder.file("chain.mid")); }));
    ::Setup copy = window.setup();
    EXPECT_EQ(TempFolder::readBytes(folder.file("chain.mid")),
              MidiExport::render(copy, 3 * stepsPerMeasure));

    dialog = openDialog(window, ID_EXPORT_MIDI);
    ASSERT_NE(dialog, nullptr);
    dialog->typedLengthChoice()->setChecked(true);
    dialog->measureField()->setValue(5);
    dialog->pathField()->setText(QString::fromStdString(folder.file("typed.mid")));
    dialog->accept();
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder.file("typed.mid")); }));
    copy = window.setup();
    EXPECT_EQ(TempFolder::readBytes(folder.file("typed.mid")),
              MidiExport::render(copy, 5 * stepsPerMeasure));
    EXPECT_TRUE(fixture.notes.empty());
}

TEST(WindowExport, AudioRendersBesidePlaybackAndACancelLeavesNoFile) {
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    ExportController& exports = window.exports();
    TempFolder folder;
    int finished = 0;
    bool lastWritten = false;
    QObject::connect(&exports, &ExportController::finished, [&](bool written) {
        ++finished;
        lastWritten = written;
    });
    window.player().toggle();
    ASSERT_TRUE(window.player().isRunning());

    exports.exportTo(ExportController::Kind::Audio, folder.file("one.wav"), 1);
    ASSERT_TRUE(waitUntil([&] { return finished == 1; }));
    EXPECT_TRUE(lastWritten);
    const auto bytes = TempFolder::readBytes(folder.file("one.wav"));
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");

    // Hours of sound: the progress dialog comes up after half a second, and Cancel ends it.
    window.setup().bpm = 30.0;
    exports.exportTo(ExportController::Kind::Audio, folder.file("long.wav"),
                     ExportDialog::kMaxMeasures);
    ASSERT_TRUE(waitUntil([&] {
        return exports.progressDialog() != nullptr && exports.progressDialog()->isVisible();
    }));
    EXPECT_TRUE(window.player().isRunning());
    exports.progressDialog()->cancel();
    ASSERT_TRUE(waitUntil([&] { return finished == 2; }));
    EXPECT_FALSE(lastWritten);
    EXPECT_FALSE(exports.busy());
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"one.wav"});
    EXPECT_TRUE(window.player().isRunning());
    EXPECT_TRUE(fixture.notes.empty());
}

// The question an export dialog asks before replacing a file, once it shows.
QMessageBox* replaceQuestion(ExportDialog& dialog) {
    QMessageBox* question = nullptr;
    waitUntil([&] {
        question = dialog.findChild<QMessageBox*>();
        return question != nullptr && question->isVisible();
    });
    return question;
}

// Export over a file that is there asks first, as the save dialog does: No keeps the file
// and the dialog, Yes replaces it. The file's label leads to its field (Alt+F).
TEST(WindowExport, ExportOverAnExistingFileAsksFirst) {
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    TempFolder folder;
    const std::string target = folder.file("old.mid");
    TempFolder::writeBytes(target, {1, 2, 3});

    ExportDialog* dialog = openDialog(window, ID_EXPORT_MIDI);
    ASSERT_NE(dialog, nullptr);
    QLabel* label = nullptr;
    for (QLabel* candidate : dialog->findChildren<QLabel*>()) {
        label = candidate->text() == "&File:" ? candidate : label;
    }
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->buddy(), dialog->pathField());
    dialog->pathField()->setText(QString::fromStdString(target));

    dialog->accept();
    QMessageBox* question = replaceQuestion(*dialog);
    ASSERT_NE(question, nullptr);
    question->button(QMessageBox::No)->click();
    ASSERT_TRUE(waitUntil([&] { return dialog->findChild<QMessageBox*>() == nullptr; }));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(TempFolder::readBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));

    dialog->accept();
    question = replaceQuestion(*dialog);
    ASSERT_NE(question, nullptr);
    question->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(waitUntil([&] { return TempFolder::readBytes(target).size() > 3; }));
    ::Setup copy = window.setup();
    EXPECT_EQ(TempFolder::readBytes(target),
              MidiExport::render(copy, MidiExport::chainPassSteps(copy)));
}

}  // namespace
