#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

// The question before unsaved changes would go: Save, Cancel or Don't Save. A modal dialog of
// its own (not the desktop's message box) so that it keeps the program's caption, icon, white
// frame and button order. The main window's document code makes one for each question.
class SaveChangesDialog : public QDialog {
    Q_OBJECT

public:
    // The results of exec().
    static constexpr int kCancel = 0;
    static constexpr int kSave = 1;
    static constexpr int kDontSave = 2;

    static constexpr const char* kCaption =
        "      \xE2\x82\xAC \xC2\xA7 \xC2\xB6 \xC2\xB0 \xC2\xA4 \xC2\xB0 \xC2\xA4 \xC2\xB0 ";
    static constexpr const char* kInitialText = "Your text here...";
    // The name shown for a setup that has never been saved.
    static constexpr const char* kUntitledName = "Untitled Settings.qov";
    // Names longer than this many characters are shown shortened in the middle, so that the
    // prompt keeps the start of the folder and the whole file name in view.
    static constexpr int kLongestShownName = 236;

    explicit SaveChangesDialog(QWidget* parent = nullptr);

    // Save changes to, a line break, then the name in double quotes and a question mark.
    static QString PromptFor(const std::string& name);
    // name itself, or its start and end joined by "..." when it is longer than
    // kLongestShownName characters.
    static QString ShownName(const QString& name);

    void setPrompt(const QString& text);
    QString prompt() const;

    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* dontSaveButton() const { return dontSave_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* prompt_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* dontSave_ = nullptr;
};
