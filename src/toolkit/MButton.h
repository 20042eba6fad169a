#pragma once

#include <optional>
#include <string>

#include <QCursor>

#include "toolkit/MWnd.h"

// The text push-button and the base of every pressable control. A press inside shows the
// pressed look and makes the button capturedControl; moving out and back in while held
// releases and re-presses the look; a release inside acts, once. Buttons never grab the
// pointer and never repeat.
class MButton : public MWnd {
public:
    MButton();

    using MWnd::Create;
    void CreateAt(int id, const std::string& text, int x, int y, int width, int height,
                  ControlHost* host) override;
    void Create(int id, const std::string& text, int left, int top, int right, int bottom,
                ControlHost* host) override;
    void SetColors(ColorRef textColor, ColorRef backColor) override;
    void Draw(Canvas& dc) override;

    // Reacts to a mouse event at (x, y); returns one of the HIT_* codes.
    virtual int OnMouse(int event, int x, int y);
    // Entry point of DispatchMouse: press tracking around OnMouse.
    virtual int TrackMouse(int event, int x, int y);

    // Loads the named cursor; an unknown name leaves the button without one.
    void SetCursorName(const std::string& name);
    const std::optional<QCursor>& GetCursor() const { return cursor_; }
    // The normal pair (repainting when visible), then the pair of the pressed look.
    void SetPressColors(ColorRef text, ColorRef back, ColorRef pressedText, ColorRef pressedBack);

    bool IsPressed() const { return pressed_; }
    bool IsTracking() const { return tracking_; }
    ColorRef GetPressedTextColor() const { return pressedTextColor_; }
    ColorRef GetPressedBackColor() const { return pressedBackColor_; }

protected:
    bool pressed_ = false;
    bool tracking_ = false;
    ColorRef pressedTextColor_ = 0;
    ColorRef pressedBackColor_ = 0;
    std::optional<QCursor> cursor_;
};
