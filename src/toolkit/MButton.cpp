#include "toolkit/MButton.h"

#include "toolkit/Canvas.h"
#include "toolkit/Resources.h"
#include "toolkit/ToolkitEvents.h"

MButton::MButton() {
    typeName_ = "MButton";
}

void MButton::CreateAt(int id, const std::string& text, int x, int y, int width, int height,
                       ControlHost* host) {
    MWnd::Create(id, text, x, y, x + width, y + height, host);
    pressedTextColor_ = textColor_;
    pressedBackColor_ = backColor_;
    cursor_.reset();
}

void MButton::Create(int id, const std::string& text, int left, int top, int right, int bottom,
                     ControlHost* host) {
    CreateAt(id, text, left, top, right - left, bottom - top, host);
}

void MButton::SetColors(ColorRef textColor, ColorRef backColor) {
    MWnd::SetColors(textColor, backColor);
    pressedTextColor_ = textColor;
    pressedBackColor_ = backColor;
}

void MButton::Draw(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    MRect face = rect_;
    if (pressed_) {
        // The face moves one pixel right and down and leaves a two-pixel edge at left and top.
        face = MRect{rect_.left + 2, rect_.top + 2, rect_.right, rect_.bottom};
    }
    dc.FillSolidRect(face, backColor_);
    dc.SetTextColor(textColor_);
    dc.SetBkColor(backColor_);
    dc.DrawText(text_, face, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    dc.ExcludeClipRect(face);
    dc.FillSolidRect(rect_, textColor_);
    dc.ExcludeClipRect(rect_);
}

int MButton::OnMouse(int event, int x, int y) {
    if (!rect_.Contains(x, y)) {
        return HIT_NONE;
    }
    switch (event) {
        case EV_PRESS:
            pressed_ = true;
            RepaintNow();
            capturedControl = this;
            return HIT_PRESSED;
        case EV_RELEASE:
            if (!pressed_) {
                return HIT_NONE;
            }
            pressed_ = false;
            RepaintNow();
            capturedControl = nullptr;
            return HIT_ACTED;
        case EV_RPRESS:
            return HIT_RPRESS;
        default:
            return HIT_NONE;
    }
}

int MButton::TrackMouse(int event, int x, int y) {
    if (!visible_) {
        return HIT_NONE;
    }
    switch (event) {
        case EV_PRESS:
        case EV_RPRESS:
            tracking_ = true;
            return OnMouse(event, x, y);
        case EV_RELEASE: {
            auto* captured = dynamic_cast<MButton*>(capturedControl);
            if (captured != nullptr && !captured->pressed_) {
                // Released after the pointer left the pressed button: nothing acts.
                capturedControl = nullptr;
                return HIT_NONE;
            }
            tracking_ = true;
            return OnMouse(event, x, y);
        }
        case EV_MOVE:
            if (capturedControl == this) {
                const bool inside = rect_.Contains(x, y);
                if (pressed_ && tracking_ && !inside) {
                    pressed_ = false;
                    RepaintNow();
                    tracking_ = false;
                }
                if (!pressed_ && !tracking_ && inside) {
                    pressed_ = true;
                    RepaintNow();
                    tracking_ = true;
                }
            }
            return HIT_NONE;
        default:
            return HIT_NONE;
    }
}

void MButton::SetCursorName(const std::string& name) {
    cursor_ = Resources::LoadCursor(name);
}

void MButton::SetPressColors(ColorRef text, ColorRef back, ColorRef pressedText,
                             ColorRef pressedBack) {
    MWnd::SetColors(text, back);
    pressedTextColor_ = pressedText;
    pressedBackColor_ = pressedBack;
}
