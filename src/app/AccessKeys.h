#pragma once

#include <Qt>

class ControlHost;
class MainPanel;
class QKeyEvent;
class QObject;

// The keys that reach what only the mouse reached before: F10 or Alt+F, Alt+E and Alt+M open
// the File, Edit and MIDI menus; Shift+F10 or the Menu key opens the program menu of the
// program field that has the keys, and the loop panel of the loop shown anywhere else; Up and
// Down in a dial's field step it as its arrows do, Page Up and Page Down by ten steps. No key
// that meant something before changes its meaning. Used by the main window ahead of its
// accelerators; window thread only.
class AccessKeys {
public:
    AccessKeys(MainPanel& panel, ControlHost& host) : panel_(panel), host_(host) {}

    // True when the key press was one of these and has been carried out.
    bool handle(QObject* watched, const QKeyEvent& event);

    // Steps of Page Up and Page Down.
    static constexpr int kPageSteps = 10;

private:
    bool openMenu(int key, Qt::KeyboardModifiers modifiers);
    bool openContextPanel(QObject* watched);
    bool stepField(QObject* watched, int key);

    MainPanel& panel_;
    ControlHost& host_;
};
