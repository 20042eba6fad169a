#pragma once

#include "toolkit/MToggleButton.h"

// One selector of an MButtonGroup: a toggle with a second colour set for the highlighted
// look (the group marks the loop that is playing with it).
class MGroupButton : public MToggleButton {
public:
    MGroupButton();

    void Draw(Canvas& dc) override;

    // Marks the selector of the loop that plays.
    void SetUseHighlight(bool flag);
    bool GetUseHighlight() const { return useHighlight_; }
    void SetAllColors(ColorRef text, ColorRef back, ColorRef pressedText, ColorRef pressedBack,
                      ColorRef highlightUpText, ColorRef highlightUpBack,
                      ColorRef highlightDownText, ColorRef highlightDownBack);

private:
    bool useHighlight_ = false;
    ColorRef highlightUpText_;
    ColorRef highlightUpBack_;
    ColorRef highlightDownText_;
    ColorRef highlightDownBack_;
};
