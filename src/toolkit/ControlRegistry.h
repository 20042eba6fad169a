#pragma once

#include <cstddef>
#include <vector>

class Canvas;
class ControlHost;
class MWnd;

// Every created control of the process, oldest first. Hosts reach their controls only
// through it: the newest control is offered the mouse first and drawn first, so it covers
// older ones. Controls append themselves when created and leave when destroyed.
class ControlRegistry {
public:
    static ControlRegistry& Instance();

    void Append(MWnd* control);
    // Removes every entry of control (a control created twice is registered twice).
    void Remove(MWnd* control);
    std::size_t Count() const { return controls_.size(); }
    const std::vector<MWnd*>& Controls() const { return controls_; }

private:
    std::vector<MWnd*> controls_;
};

// Offers a mouse event to host's controls, newest first, until one takes it; returns that
// control's id, or 0 when none did. Only pressable controls are asked (type other than
// "MWnd"), and each decides itself whether the point concerns it.
int DispatchMouse(int event, int x, int y, ControlHost* host);

// Sets the cursor of the newest visible pressable control of host under (x, y) that has a
// cursor and returns its id; 0 when there is none, and the host then sets its own.
int UpdateCursor(int event, int x, int y, ControlHost* host);

// The newest visible control of host under (x, y), pressable or not; controls with id 0
// (backgrounds) are looked through. Null when there is none. For tooltips: it changes
// nothing.
const MWnd* ControlAt(int x, int y, ControlHost* host);

// Draws host's controls, newest first.
void PaintControls(Canvas& dc, ControlHost* host);
