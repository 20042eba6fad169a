#include "toolkit/MGroupButton.h"

#include "toolkit/ControlAccessibility.h"

MGroupButton::MGroupButton()
    : highlightUpText_(GetSysColor(SysColor::ButtonFace)),
      highlightUpBack_(GetSysColor(SysColor::Highlight)),
      highlightDownText_(GetSysColor(SysColor::ButtonFace)),
      highlightDownBack_(GetSysColor(SysColor::Highlight)) {
    // Same type name as the plain toggle: to the registry it is one.
    typeName_ = "MToggleButton";
}

void MGroupButton::Draw(Canvas& dc) {
    if (useHighlight_) {
        DrawLook(dc, ShowsDownLook(), highlightUpText_, highlightUpBack_, highlightDownText_,
                 highlightDownBack_);
    } else {
        MToggleButton::Draw(dc);
    }
}

void MGroupButton::SetAllColors(ColorRef text, ColorRef back, ColorRef pressedText,
                                ColorRef pressedBack, ColorRef highlightUpText,
                                ColorRef highlightUpBack, ColorRef highlightDownText,
                                ColorRef highlightDownBack) {
    highlightUpText_ = highlightUpText;
    highlightUpBack_ = highlightUpBack;
    highlightDownText_ = highlightDownText;
    highlightDownBack_ = highlightDownBack;
    SetPressColors(text, back, pressedText, pressedBack);
}

void MGroupButton::SetUseHighlight(bool flag) {
    if (flag == useHighlight_) {
        return;
    }
    useHighlight_ = flag;
    // The description says "playing"; AT-SPI forwards no active state of a button.
    ControlAccessibility::NotifyEvent(this, QAccessible::DescriptionChanged);
}
