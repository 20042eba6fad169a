#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "panels/MShadePalette.h"
#include "toolkit/MBmpButton.h"
#include "toolkit/MRect.h"

class ControlHost;
class QMenu;
class Setup;

// The main window's menu: three small bitmap buttons (File, Edit, MIDI) at the top left of the
// client area, the popup menus they open (and the General MIDI program menu of a step column),
// and the entry point of every menu command and accelerator. The buttons are toolkit controls
// hosted by the main window; the panel owns this object. Window thread only.
//
// A popup is built afresh from the menu tables each time it opens, marked and enabled from
// the setup, shown without blocking, and deleted when it closes; the chosen item's command is
// posted back to OnCommand, so it runs after the popup has gone.
class MenuBar : public QObject {
    Q_OBJECT

public:
    using CommandHandler = std::function<void(int commandId)>;

    // What the menu needs from outside the panels: the output port for "Select Port", the
    // column edit behind the program menu, and whether the clipboard holds a measure.
    struct Services {
        // Lists the devices again (the port table of the setup's PortState).
        std::function<void()> refreshPorts;
        // Lets go of the open port; then opens the port of that name, as a setup read from a
        // file does, so that of two devices with one name the same one plays both times.
        std::function<void()> releasePort;
        std::function<void(const std::string& name)> selectPortByName;
        // Sets a column's program and writes it back like any edit of the column.
        std::function<void(int column, int program)> chooseProgram;
        // 3 or 2 when the clipboard holds a measure in that layout, else 0.
        std::function<int()> clipboardKind;
        // True while a session manager owns the setup's file: no opening or saving elsewhere.
        std::function<bool()> sessionOwnsFile;
        // The Ableton Link item: whether Link is on, its text and tooltip (with the peers).
        std::function<bool()> linkEnabled;
        std::function<std::string()> linkText;
        std::function<std::string()> linkToolTip;
        // Whether a JACK server runs ("JACK Transport" is disabled without one); unset: yes.
        std::function<bool()> jackServerRunning;
        // The MIDI input: the sources it can take (listed as the menu opens), the chosen one
        // ("" for none) and the choice; whether the MIDI clock at the input is followed.
        std::function<std::vector<std::string>()> inputSources;
        std::function<std::string()> inputSource;
        std::function<void(const std::string& name)> chooseInput;
        std::function<bool()> clockFollowed;
        // Whether MIDI learn is on (its item's check mark).
        std::function<bool()> midiLearning;
        // Whether the input's notes transpose, and whether they are recorded into steps.
        std::function<bool()> transposingFromInput;
        std::function<bool()> stepRecording;
    };

    MenuBar();
    MenuBar(const MenuBar&) = delete;
    MenuBar& operator=(const MenuBar&) = delete;
    ~MenuBar() override;

    void Create(const std::string& name, int x, int y, ControlHost& host);
    void attach(Setup& setup);
    void recolour(ColorRef baseColor);
    // Where every fixed command goes, accelerators included (set by the main window).
    void setCommandHandler(CommandHandler handler) { commandHandler_ = std::move(handler); }
    void setServices(Services services) { services_ = std::move(services); }

    // A menu command or accelerator: carried out whether or not its menu item is enabled.
    // The port, program and menu-button ids are handled here; every other id goes on to the
    // command handler.
    void OnCommand(int commandId);

    // Builds, marks and shows popup menuId (161, 162, 163 or 169) with its top-left corner at
    // the screen point; false when there is no such menu.
    bool ShowPopup(int menuId, int screenX, int screenY);
    void openFileMenu();
    void openEditMenu();
    void openMidiMenu();
    // The popup of menu button 1002, 1003 or 1004.
    void openMenuForButton(int buttonId);
    // The General MIDI program menu of step column `column`, at the pointer.
    void openProgramMenu(int column);
    // The same menu with its top-left corner at the screen point (opened from the keyboard).
    void openProgramMenuAt(int column, int screenX, int screenY);

    // The popup on screen, or nullptr once it has closed.
    QMenu* CurrentPopup() const;
    int ProgramColumn() const { return programColumn_; }

    MBmpButton& FileButton() { return fileButton_; }
    MBmpButton& EditButton() { return editButton_; }
    MBmpButton& MidiButton() { return midiButton_; }
    const MRect& GetRect() const { return rect_; }
    const std::string& GetName() const { return name_; }
    Setup* GetSetup() const { return setup_; }

private:
    void openUnderButton(int menuId, const MBmpButton& button);
    void insertPorts(QMenu* menu);
    void insertInputSources(QMenu* menu);
    // The input source of menu command id, as listed when the menu opened; false for none.
    bool chooseInputSource(int id);
    void applyEnabling(QMenu* menu);
    void applyMarks(QMenu* menu);
    void markProgram(QMenu* menu);
    void choosePort(int portId);
    // After the port table was listed again: the open port keeps its name, so its index
    // follows the name (-2 when it is gone).
    void followPortName();

    Setup* setup_ = nullptr;
    std::string name_;
    MRect rect_;
    MShadePalette palette_;
    MBmpButton fileButton_;
    MBmpButton editButton_;
    MBmpButton midiButton_;
    ControlHost* host_ = nullptr;
    int programColumn_ = 0;
    CommandHandler commandHandler_;
    Services services_;
    QPointer<QMenu> popup_;
    std::vector<std::string> inputSources_;
};
