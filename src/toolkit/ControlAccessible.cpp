#include "toolkit/ControlAccessible.h"

#include <algorithm>
#include <cmath>

#include <QWidget>
#include <QWindow>

#include "toolkit/AccessibleNaming.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/ControlHost.h"
#include "toolkit/MBar.h"
#include "toolkit/MGroupButton.h"
#include "toolkit/MStepColumn.h"
#include "toolkit/MTempoDial.h"
#include "toolkit/MToggleButton.h"
#include "toolkit/ToolkitEvents.h"

namespace {

QWidget* HostWidgetOf(const MWnd* control) {
    ControlHost* host = control != nullptr ? control->GetHost() : nullptr;
    return host != nullptr ? host->HostWidget() : nullptr;
}

QPoint CentreOf(const MWnd& control) {
    const MRect& r = control.GetRect();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

bool ControlAccessible::KindOf(const MWnd& control, Kind* kind) {
    // Most derived first: a loop selector is a toggle, a bar and a toggle are buttons.
    if (dynamic_cast<const MStepColumn*>(&control) != nullptr) {
        *kind = Kind::Column;
    } else if (dynamic_cast<const MTempoDial*>(&control) != nullptr) {
        *kind = Kind::Tempo;
    } else if (dynamic_cast<const MBar*>(&control) != nullptr) {
        *kind = Kind::Bar;
    } else if (dynamic_cast<const MGroupButton*>(&control) != nullptr) {
        *kind = Kind::Selector;
    } else if (dynamic_cast<const MToggleButton*>(&control) != nullptr) {
        *kind = Kind::Toggle;
    } else if (dynamic_cast<const MButton*>(&control) != nullptr) {
        *kind = Kind::Button;
    } else {
        return false;
    }
    return true;
}

ControlAccessible::ControlAccessible(MWnd* control, Kind kind) : control_(control), kind_(kind) {}

AccessibleNaming* ControlAccessible::Naming() const {
    return control_ != nullptr ? ControlAccessibility::NamingOf(control_->GetHost()) : nullptr;
}

bool ControlAccessible::isValid() const {
    return control_ != nullptr && HostWidgetOf(control_) != nullptr && Naming() != nullptr;
}

QWindow* ControlAccessible::window() const {
    QWidget* widget = HostWidgetOf(control_);
    return widget != nullptr ? widget->window()->windowHandle() : nullptr;
}

QAccessibleInterface* ControlAccessible::parent() const {
    QWidget* widget = HostWidgetOf(control_);
    return widget != nullptr ? QAccessible::queryAccessibleInterface(widget) : nullptr;
}

QString ControlAccessible::text(QAccessible::Text t) const {
    AccessibleNaming* naming = Naming();
    if (naming == nullptr) {
        return {};
    }
    switch (t) {
        case QAccessible::Name:
            return QString::fromStdString(naming->Name(control_->GetId()));
        case QAccessible::Description:
            return QString::fromStdString(naming->Description(control_->GetId()));
        case QAccessible::Value:
            if (kind_ == Kind::Tempo) {
                return QString::fromStdString(static_cast<MTempoDial*>(control_)->GetDisplay());
            }
            return HasValue() ? currentValue().toString() : QString();
        default:
            return {};
    }
}

QRect ControlAccessible::rect() const {
    QWidget* widget = HostWidgetOf(control_);
    if (widget == nullptr) {
        return {};
    }
    const MRect& r = control_->GetRect();
    return {widget->mapToGlobal(QPoint(r.left, r.top)), QSize(r.Width(), r.Height())};
}

QAccessible::Role ControlAccessible::role() const {
    QAccessible::Role standard = QAccessible::PushButton;
    switch (kind_) {
        case Kind::Button:
            standard = QAccessible::PushButton;
            break;
        case Kind::Toggle:
            standard = QAccessible::CheckBox;
            break;
        case Kind::Selector:
            standard = QAccessible::RadioButton;
            break;
        case Kind::Bar:
        case Kind::Tempo:
            standard = QAccessible::Slider;
            break;
        case Kind::Column:
            standard = QAccessible::StaticText;
            break;
    }
    AccessibleNaming* naming = Naming();
    return naming != nullptr ? naming->Role(control_->GetId(), standard) : standard;
}

QAccessible::State ControlAccessible::state() const {
    QAccessible::State s;
    if (control_ == nullptr) {
        s.invalid = true;
        return s;
    }
    s.invisible = !control_->IsVisible();
    switch (kind_) {
        case Kind::Toggle: {
            const bool on = static_cast<MToggleButton*>(control_)->GetState() != 0;
            if (role() == QAccessible::CheckBox) {
                s.checkable = true;
                s.checked = on;
            } else {
                s.pressed = on;
            }
            break;
        }
        case Kind::Selector: {
            // The selected loop rests in its up look (state 0); the playing one is highlighted.
            auto* selector = static_cast<MGroupButton*>(control_);
            s.checkable = true;
            s.checked = selector->GetState() == 0;
            s.active = selector->GetUseHighlight();
            break;
        }
        case Kind::Button:
            s.pressed = static_cast<MButton*>(control_)->IsPressed();
            break;
        case Kind::Column:
            s.selectable = true;
            s.selected = static_cast<MStepColumn*>(control_)->IsHighlighted();
            break;
        case Kind::Bar:
        case Kind::Tempo:
            break;
    }
    return s;
}

void* ControlAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface) {
        return static_cast<QAccessibleActionInterface*>(this);
    }
    if (type == QAccessible::ValueInterface && HasValue()) {
        return static_cast<QAccessibleValueInterface*>(this);
    }
    return nullptr;
}

QVariant ControlAccessible::currentValue() const {
    if (control_ == nullptr) {
        return {};
    }
    if (kind_ == Kind::Tempo) {
        return static_cast<MTempoDial*>(control_)->GetTempo();
    }
    if (kind_ == Kind::Bar) {
        return static_cast<MBar*>(control_)->GetValue();
    }
    return {};
}

QVariant ControlAccessible::maximumValue() const {
    if (kind_ == Kind::Tempo) {
        return MTempoDial::kMaxTempo;
    }
    return kind_ == Kind::Bar && control_ != nullptr ? static_cast<MBar*>(control_)->GetMax()
                                                     : QVariant();
}

QVariant ControlAccessible::minimumValue() const {
    if (kind_ == Kind::Tempo) {
        return MTempoDial::kMinTempo;
    }
    return kind_ == Kind::Bar && control_ != nullptr ? static_cast<MBar*>(control_)->GetMin()
                                                     : QVariant();
}

QVariant ControlAccessible::minimumStepSize() const {
    // The tempo steps by a semitone's ratio, no fixed amount.
    return kind_ == Kind::Bar ? QVariant(1) : QVariant(0);
}

void ControlAccessible::setCurrentValue(const QVariant& value) {
    if (control_ == nullptr || !control_->IsVisible()) {
        return;
    }
    if (kind_ == Kind::Bar) {
        SetBarValue(value.toInt());
    } else if (kind_ == Kind::Tempo) {
        const double t = value.toDouble();
        if (!std::isfinite(t)) {
            return;
        }
        auto* dial = static_cast<MTempoDial*>(control_);
        dial->SetTempo(std::clamp(t, MTempoDial::kMinTempo, MTempoDial::kMaxTempo));
        const QPoint c = CentreOf(*control_);
        control_->GetHost()->OnControlEvent(EV_PRESS, c.x(), c.y(), control_->GetId());
        control_->GetHost()->OnControlEvent(EV_RELEASE, c.x(), c.y(), control_->GetId());
    }
}

QStringList ControlAccessible::actionNames() const {
    QStringList names;
    switch (kind_) {
        case Kind::Bar:
        case Kind::Tempo:
            names << increaseAction() << decreaseAction();
            break;
        case Kind::Toggle:
            names << (role() == QAccessible::CheckBox ? toggleAction() : pressAction());
            break;
        case Kind::Button:
        case Kind::Selector:
            names << pressAction();
            break;
        case Kind::Column:
            break;
    }
    if (AccessibleNaming* naming = Naming()) {
        for (const std::string& extra : naming->ExtraActions(control_->GetId())) {
            names << QString::fromStdString(extra);
        }
    }
    return names;
}

void ControlAccessible::doAction(const QString& actionName) {
    if (control_ == nullptr || !control_->IsVisible() || !actionNames().contains(actionName)) {
        return;
    }
    if (actionName == increaseAction()) {
        StepBy(+1);
    } else if (actionName == decreaseAction()) {
        StepBy(-1);
    } else if (actionName == pressAction() || actionName == toggleAction()) {
        Click(control_);
    } else if (AccessibleNaming* naming = Naming()) {
        naming->DoExtraAction(control_->GetId(), actionName.toStdString());
    }
}

QStringList ControlAccessible::keyBindingsForAction(const QString& /*actionName*/) const {
    // The drawn controls take no keyboard focus; their keys are the window's (docs/controls.md).
    return {};
}

void ControlAccessible::Click(MWnd* target) {
    auto* button = dynamic_cast<MButton*>(target);
    ControlHost* host = target->GetHost();
    if (button == nullptr || host == nullptr) {
        return;
    }
    // The host hears the press and the release with the control's id, as after DispatchMouse.
    const QPoint c = CentreOf(*button);
    if (button->TrackMouse(EV_PRESS, c.x(), c.y()) == HIT_NONE) {
        return;
    }
    host->OnControlEvent(EV_PRESS, c.x(), c.y(), button->GetId());
    button->TrackMouse(EV_RELEASE, c.x(), c.y());
    host->OnControlEvent(EV_RELEASE, c.x(), c.y(), button->GetId());
}

void ControlAccessible::SetBarValue(int v) {
    auto* bar = static_cast<MBar*>(control_);
    bar->SetValue(std::clamp(v, bar->GetMin(), std::max(bar->GetMin(), bar->GetMax())));
    const QPoint c = CentreOf(*bar);
    bar->GetHost()->OnControlEvent(EV_PRESS, c.x(), c.y(), bar->GetId());
    bar->GetHost()->OnControlEvent(EV_RELEASE, c.x(), c.y(), bar->GetId());
}

void ControlAccessible::StepBy(int delta) {
    if (kind_ == Kind::Bar) {
        SetBarValue(static_cast<MBar*>(control_)->GetValue() + delta);
    } else if (kind_ == Kind::Tempo) {
        auto* dial = static_cast<MTempoDial*>(control_);
        Click(delta > 0 ? static_cast<MWnd*>(&dial->GetUpButton())
                        : static_cast<MWnd*>(&dial->GetDownButton()));
    }
}
