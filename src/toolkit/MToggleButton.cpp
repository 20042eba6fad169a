#include "toolkit/MToggleButton.h"

#include "toolkit/ControlAccessibility.h"
#include "toolkit/ToolkitEvents.h"

MToggleButton::MToggleButton() {
    typeName_ = "MToggleButton";
}

void MToggleButton::Draw(Canvas& dc) {
    DrawLook(dc, ShowsDownLook(), textColor_, backColor_, pressedTextColor_, pressedBackColor_);
}

int MToggleButton::OnMouse(int event, int x, int y) {
    if (event == EV_RELEASE && pressed_ && rect_.Contains(x, y)) {
        pressed_ = false;
        SetState(state_ == 0 ? 1 : 0);
        capturedControl = nullptr;
        return HIT_ACTED;
    }
    return MBmpButton::OnMouse(event, x, y);
}

void MToggleButton::SetState(int s) {
    const bool changed = (state_ != 0) != (s != 0);
    state_ = s;
    if (changed) {
        // Check boxes read it as checked, the play button as pressed, loop selectors inverted.
        QAccessible::State flipped;
        flipped.checked = true;
        flipped.pressed = true;
        ControlAccessibility::NotifyState(this, flipped);
    }
    // Repaint only: a toggle of a hidden step column must stay hidden when its step's value
    // is loaded into it.
    if (visible_) {
        Show();
    }
}
