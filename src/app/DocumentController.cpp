#include "app/DocumentController.h"

#include <QFileDialog>

#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "app/SaveChangesDialog.h"
#include "core/Setup.h"
#include "document/SetupFile.h"
#include "document/SetupFileError.h"

DocumentController::DocumentController(MainWindow& window) : window_(window) {}

QStringList DocumentController::NameFilters(const std::string& windowsFilter) {
    const QStringList parts = QString::fromStdString(windowsFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1].trimmed();
        if (description.isEmpty() || patterns.isEmpty()) {
            break;  // the "||" that ends the list
        }
        // The description repeats its patterns in parentheses; the dialog reads them there.
        if (const qsizetype open = description.lastIndexOf(QLatin1Char('(')); open > 0) {
            description = description.left(open).trimmed();
        }
        QStringList qtPatterns;
        for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            qtPatterns << (pattern.trimmed() == QStringLiteral("*.*") ? QStringLiteral("*")
                                                                      : pattern.trimmed());
        }
        filters << description + QStringLiteral(" (") + qtPatterns.join(QLatin1Char(' ')) +
                       QStringLiteral(")");
    }
    return filters;
}

bool DocumentController::ConfirmDiscard() {
    Setup& setup = window_.setup();
    if (!setup.dirty) {
        return true;
    }
    const bool untitled = setup.path.empty();
    SaveChangesDialog dialog(&window_);
    dialog.setPrompt(
        SaveChangesDialog::PromptFor(untitled ? SaveChangesDialog::kUntitledName : setup.path));
    switch (dialog.exec()) {
        case SaveChangesDialog::kDontSave:
            return true;
        case SaveChangesDialog::kSave:
            if (untitled) {
                SaveSetupAs();
            } else {
                WriteSetup(setup.path);
            }
            // A cancelled Save As or a failed write keeps the changes, and the caller stops.
            return !setup.dirty;
        default:
            return false;
    }
}

void DocumentController::OpenSetup() {
    if (!ConfirmDiscard()) {
        return;
    }
    QFileDialog dialog(&window_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromLatin1(kDefaultExtension));
    dialog.setNameFilters(NameFilters(kFileFilter));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        window_.readSetup(dialog.selectedFiles().constFirst().toStdString());
    }
    giveFocusBack();
}

bool DocumentController::SaveSetup() {
    const std::string path = window_.setup().path;
    if (path.empty()) {
        return SaveSetupAs();
    }
    return WriteSetup(path);
}

bool DocumentController::SaveSetupAs() {
    const Setup& setup = window_.setup();
    QFileDialog dialog(&window_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromLatin1(kDefaultExtension));
    dialog.setNameFilters(NameFilters(kFileFilter));
    dialog.selectFile(QString::fromStdString(
        setup.path.empty() ? std::string(SaveChangesDialog::kUntitledName) : setup.path));
    bool written = false;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        written = WriteSetup(dialog.selectedFiles().constFirst().toStdString());
    }
    giveFocusBack();
    return written;
}

bool DocumentController::WriteSetup(const std::string& path) {
    Setup& setup = window_.setup();
    try {
        const QPoint at = window_.windowPosition();
        SetupFile::save(path, setup, static_cast<std::int32_t>(window_.baseColor()), at.x(),
                        at.y());
    } catch (const SetupFileError& error) {
        NoteBox::show(error.what());
        return false;
    }
    window_.setTitle(setup.title);
    return true;
}

void DocumentController::giveFocusBack() {
    window_.activateWindow();
    window_.focusDefaultButton();
}
