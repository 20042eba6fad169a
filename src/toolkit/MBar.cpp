#include "toolkit/MBar.h"

#include <QWidget>

#include "toolkit/Canvas.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/ControlHost.h"
#include "toolkit/ToolkitEvents.h"

MBar::MBar() {
    typeName_ = "MButton";
}

void MBar::Create(int id, const std::string& text, int x, int y, int width, int height,
                  ControlHost* host, bool horizontal) {
    MButton::CreateAt(id, text, x, y, width, height, host);
    horizontal_ = horizontal;
}

void MBar::SetBarColors(ColorRef fillColor, ColorRef restColor, ColorRef thumbColor) {
    thumbColor_ = thumbColor;
    MWnd::SetColors(fillColor, restColor);
}

void MBar::SetValue(int v) {
    const bool changed = v != value_;
    value_ = v;
    if (changed) {
        ControlAccessibility::NotifyValue(this);
    }
    if (visible_) {
        Show();
    }
}

double MBar::Fraction() const {
    if (max_ == min_) {
        return 0.0;
    }
    const double f = (static_cast<double>(value_) - min_) / (static_cast<double>(max_) - min_);
    return f < 0.0 ? 0.0 : (f > 1.0 ? 1.0 : f);
}

void MBar::Draw(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    const int w = rect_.Width();
    const int h = rect_.Height();
    const double f = Fraction();
    if (horizontal_) {
        const int d = static_cast<int>(f * w);
        dc.FillSolidRect(MRect::FromSize(rect_.left, rect_.top, d, h), textColor_);
        dc.FillSolidRect(MRect::FromSize(rect_.left + d, rect_.top, w - d, h), backColor_);
        if (thumbSize_ > 0) {
            // Near the ends the thumb is cut at the bar's edge.
            const MRect thumb =
                MRect::FromSize(rect_.left + d - thumbSize_ / 2, rect_.top, thumbSize_, h);
            dc.FillSolidRect(thumb.Intersected(rect_), thumbColor_);
        }
        dc.ExcludeClipRect(rect_);
        return;
    }
    const int k = static_cast<int>(f * h);
    const int y = rect_.bottom - k;
    if (thumbSize_ != -1) {
        const MRect thumb =
            MRect{rect_.left, y - thumbSize_ / 2, rect_.right, y + thumbSize_ - thumbSize_ / 2}
                .Intersected(rect_);
        if (thumbColor_ != NO_COLOR) {
            dc.FillSolidRect(thumb, thumbColor_);
        }
        dc.ExcludeClipRect(thumb);
    }
    if (backColor_ != NO_COLOR) {
        const MRect rest{rect_.left, rect_.top, rect_.right, y};
        dc.FillSolidRect(rest, backColor_);
        dc.ExcludeClipRect(rest);
    }
    if (textColor_ != NO_COLOR) {
        const MRect level{rect_.left, y, rect_.right, rect_.bottom};
        dc.FillSolidRect(level, textColor_);
        dc.ExcludeClipRect(level);
    }
}

int MBar::ValueFromPoint(int x, int y) const {
    const double range = static_cast<double>(max_) - min_;
    if (horizontal_) {
        if (x < rect_.left) {
            return min_;
        }
        if (x > rect_.right) {
            return max_;
        }
        const int w = rect_.Width();
        if (w <= 0) {
            return min_;
        }
        return min_ + static_cast<int>(static_cast<double>(x - rect_.left) / w * range);
    }
    if (y < rect_.top) {
        return max_;
    }
    if (y > rect_.bottom) {
        return min_;
    }
    const int h = rect_.Height();
    if (h <= 0) {
        return min_;
    }
    return min_ + static_cast<int>(static_cast<double>(rect_.bottom - y) / h * range);
}

int MBar::OnMouse(int event, int x, int y) {
    switch (event) {
        case EV_PRESS:
            if (!rect_.Contains(x, y)) {
                return HIT_NONE;
            }
            SetValue(ValueFromPoint(x, y));
            pressed_ = true;
            capturedControl = this;
            return HIT_ACTED;
        case EV_RELEASE:
            if (!pressed_) {
                return HIT_NONE;
            }
            SetValue(ValueFromPoint(x, y));
            pressed_ = false;
            capturedControl = nullptr;
            // Qt's implicit grab of the pressed button ends with the release by itself.
            return HIT_ACTED;
        case EV_RPRESS:
            return rect_.Contains(x, y) ? HIT_RPRESS : HIT_NONE;
        default:
            return HIT_NONE;
    }
}

int MBar::TrackMouse(int event, int x, int y) {
    if (!visible_) {
        return HIT_NONE;
    }
    const bool hostWidget = host_ != nullptr && host_->HostWidget() != nullptr;
    if (rect_.Contains(x, y) && cursor_ && hostWidget) {
        host_->HostWidget()->setCursor(*cursor_);
    }
    switch (event) {
        case EV_PRESS:
        case EV_RELEASE:
        case EV_RPRESS:
            tracking_ = true;
            return OnMouse(event, x, y);
        case EV_MOVE:
            if (capturedControl != this || !pressed_) {
                return HIT_NONE;
            }
            if (cursor_ && hostWidget) {
                host_->HostWidget()->setCursor(*cursor_);
            }
            // While the primary button is held Qt keeps sending the host the moves, also
            // outside its window: that is the capture a drag needs.
            SetValue(ValueFromPoint(x, y));
            return HIT_ACTED;
        default:
            return HIT_NONE;
    }
}
