#pragma once

#include "toolkit/MBmpButton.h"

// A bitmap button with two states that flips on each click (on the release inside). State 1
// rests in the down picture and shows the up picture while held; state 0 the other way round.
class MToggleButton : public MBmpButton {
public:
    MToggleButton();

    void Draw(Canvas& dc) override;
    int OnMouse(int event, int x, int y) override;

    // Stores s and repaints when visible.
    void SetState(int s);
    int GetState() const { return state_; }

protected:
    bool ShowsDownLook() const { return (pressed_ && state_ == 0) || (!pressed_ && state_ == 1); }

    int state_ = 0;
};
