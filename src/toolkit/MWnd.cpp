#include "toolkit/MWnd.h"

#include "toolkit/Canvas.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/ControlHost.h"
#include "toolkit/ControlRegistry.h"

MWnd* capturedControl = nullptr;

MWnd::MWnd() = default;

MWnd::~MWnd() {
    // A control that goes away must not stay reachable from the host's mouse and paint walks.
    ControlRegistry::Instance().Remove(this);
    ControlAccessibility::Forget(this);
    if (capturedControl == this) {
        capturedControl = nullptr;
    }
}

void MWnd::CreateAt(int id, const std::string& text, int x, int y, int width, int height,
                    ControlHost* host) {
    MWnd::Create(id, text, x, y, x + width, y + height, host);
}

void MWnd::Create(int id, const std::string& text, int left, int top, int right, int bottom,
                  ControlHost* host) {
    id_ = id;
    host_ = host;
    text_ = text;
    rect_ = MRect{left, top, right, bottom};
    ControlRegistry::Instance().Append(this);
    SetColors(GetSysColor(SysColor::Highlight), GetSysColor(SysColor::ButtonFace));
    SetRedraw(true);
    Show();
}

void MWnd::SetColors(ColorRef textColor, ColorRef backColor) {
    textColor_ = textColor;
    backColor_ = backColor;
    if (visible_) {
        Show();
    }
}

void MWnd::SetTextColor(ColorRef color) {
    textColor_ = color;
    if (visible_) {
        Show();
    }
}

void MWnd::SetBackColor(ColorRef color) {
    backColor_ = color;
    if (visible_) {
        Show();
    }
}

void MWnd::Draw(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    dc.FillSolidRect(rect_, backColor_);
    dc.SetTextColor(textColor_);
    dc.SetBkColor(backColor_);
    dc.DrawText(text_, rect_, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    dc.ExcludeClipRect(rect_);
}

void MWnd::Show() {
    if (redraw_) {
        visible_ = true;
        InvalidateHost(false);
    }
}

void MWnd::Hide() {
    if (redraw_) {
        visible_ = false;
        InvalidateHost(true);
    }
}

void MWnd::SetRedraw(bool flag) {
    redraw_ = flag;
}

void MWnd::RepaintNow() {
    // Qt paints only inside paint events: the host repaints the area right away instead,
    // drawing every control there in the usual order.
    if (visible_) {
        InvalidateHost(false);
    }
}

void MWnd::InvalidateHost(bool erase) {
    if (host_ != nullptr) {
        host_->InvalidateRect(rect_, erase);
    }
}
