#pragma once

#include <QStringList>
#include <string>

class MainWindow;

// Open Setup, Save Setup, Save Setup As and the question before unsaved changes would go, for
// the main window that owns this object and the setup inside it. The file dialogs and the
// save-changes dialog are modal; every failure is shown in the "NOTE!" box and leaves the setup,
// its path, caption and dirty flag as they were.
class DocumentController {
public:
    // The file dialogs' filter as the program has always written it: description|pattern
    // pairs ending in "||".
    static constexpr const char* kFileFilter = "qov files (*.qov)|*.qov|All Files (*.*)|*.*||";
    static constexpr const char* kDefaultExtension = "qov";

    explicit DocumentController(MainWindow& window);
    DocumentController(const DocumentController&) = delete;
    DocumentController& operator=(const DocumentController&) = delete;
    virtual ~DocumentController() = default;

    // Asks whether unsaved changes may go (Save, Cancel, Don't Save); true when the caller may
    // go on: nothing was changed, the user let the changes go, or they were saved.
    bool ConfirmDiscard();
    // Command 21001: the question, then the open dialog and the read.
    void OpenSetup();
    // Command 21002: writes to the setup's own file without a dialog; Save As for an untitled
    // setup. True when the setup was written.
    bool SaveSetup();
    // Command 21003: the save dialog (which asks before replacing a file), then the write.
    bool SaveSetupAs();
    // Writes the setup with the window's colour and position; the caption follows.
    bool WriteSetup(const std::string& path);

    // kFileFilter as file dialog name filters. "*.*" means every file here, as it did where
    // the filter comes from, so it becomes "*" (a name without a dot is a file too).
    static QStringList NameFilters(const std::string& windowsFilter);

private:
    void giveFocusBack();

    MainWindow& window_;
};
