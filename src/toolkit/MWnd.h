#pragma once

#include <string>

#include "toolkit/ColorRef.h"
#include "toolkit/MRect.h"

class Canvas;
class ControlHost;

// Base of every window-less control: an area in a host window that paints itself when the
// host paints and, in the pressable subclasses, takes the host's mouse input. Created
// controls are registered with ControlRegistry, in creation order, and stay there until they
// are destroyed; the host that declares them owns them.
class MWnd {
public:
    MWnd();
    MWnd(const MWnd&) = delete;
    MWnd& operator=(const MWnd&) = delete;
    virtual ~MWnd();

    // As Create with right = x + width and bottom = y + height.
    virtual void CreateAt(int id, const std::string& text, int x, int y, int width, int height,
                          ControlHost* host);
    // Registers the control, gives it the desktop's colours and shows it. The colour, redraw
    // and show steps are virtual calls, so a subclass's overrides already run here.
    virtual void Create(int id, const std::string& text, int left, int top, int right, int bottom,
                        ControlHost* host);
    virtual void SetColors(ColorRef textColor, ColorRef backColor);
    virtual void Draw(Canvas& dc);
    virtual void Show();
    virtual void Hide();
    // While redraw is off, Show and Hide change nothing.
    virtual void SetRedraw(bool flag);

    void SetTextColor(ColorRef color);
    void SetBackColor(ColorRef color);

    const MRect& GetRect() const { return rect_; }
    const std::string& GetText() const { return text_; }
    int GetId() const { return id_; }
    ControlHost* GetHost() const { return host_; }
    ColorRef GetTextColor() const { return textColor_; }
    ColorRef GetBackColor() const { return backColor_; }
    bool IsVisible() const { return visible_; }
    bool IsRedraw() const { return redraw_; }
    // "MWnd" for controls that take no mouse input; the button classes name themselves.
    const std::string& GetTypeName() const { return typeName_; }

protected:
    // Repaints the control at once, for the press feedback of the buttons.
    void RepaintNow();
    void InvalidateHost(bool erase);

    MRect rect_;
    std::string text_;
    ColorRef textColor_ = 0;
    ColorRef backColor_ = 0;
    bool visible_ = false;
    bool redraw_ = false;
    int id_ = 0;
    ControlHost* host_ = nullptr;
    std::string typeName_ = "MWnd";
};

// The control that is pressed and follows the pointer, or null. Shared by the buttons and
// the bar; only one control holds it at a time.
extern MWnd* capturedControl;
