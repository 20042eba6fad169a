#pragma once

#include <functional>
#include <string>

#include "panels/MShadePalette.h"
#include "toolkit/MBmpButton.h"
#include "toolkit/MRect.h"

class ControlHost;
class Setup;

// The main window's menu: three small bitmap buttons (File, Edit, MIDI) at the top left of the
// client area, the popup menus they open, and the entry point of every menu command and
// accelerator. The buttons are toolkit controls hosted by the main window.
class MenuBar {
public:
    using CommandHandler = std::function<void(int commandId)>;

    MenuBar();
    MenuBar(const MenuBar&) = delete;
    MenuBar& operator=(const MenuBar&) = delete;
    virtual ~MenuBar();

    void Create(const std::string& name, int x, int y, ControlHost& host);
    void attach(Setup& setup);
    void recolour(ColorRef baseColor);
    // Where every command goes, accelerators included (set by the main window).
    void setCommandHandler(CommandHandler handler) { commandHandler_ = std::move(handler); }
    // A menu command or accelerator: carried out whether or not its menu item is enabled.
    void OnCommand(int commandId);

    MBmpButton& FileButton() { return fileButton_; }
    MBmpButton& EditButton() { return editButton_; }
    MBmpButton& MidiButton() { return midiButton_; }
    const MRect& GetRect() const { return rect_; }
    const std::string& GetName() const { return name_; }
    Setup* GetSetup() const { return setup_; }

private:
    Setup* setup_ = nullptr;
    std::string name_;
    MRect rect_;
    MShadePalette palette_;
    MBmpButton fileButton_;
    MBmpButton editButton_;
    MBmpButton midiButton_;
    ControlHost* host_ = nullptr;
    CommandHandler commandHandler_;
};
