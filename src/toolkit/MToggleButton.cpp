#include "toolkit/MToggleButton.h"

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
    state_ = s;
    // Repaint only: a toggle of a hidden step column must stay hidden when its step's value
    // is loaded into it.
    if (visible_) {
        Show();
    }
}
