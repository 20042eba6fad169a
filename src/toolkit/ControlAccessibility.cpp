#include "toolkit/ControlAccessibility.h"

#include <algorithm>
#include <map>

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include "toolkit/AccessibleNaming.h"
#include "toolkit/ControlAccessible.h"
#include "toolkit/ControlHost.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/HostAccessible.h"
#include "toolkit/MWnd.h"
#include "toolkit/NotificationThrottle.h"

namespace {

struct State {
    std::map<const ControlHost*, AccessibleNaming*> namings;
    std::map<const MWnd*, QAccessible::Id> interfaces;
    NotificationThrottle playingStep{
        std::chrono::milliseconds(1000 / ControlAccessibility::kPlayingStepsPerSecond)};
    bool factoryInstalled = false;
    ControlAccessibility::EventSink sink = nullptr;
};

// Never destroyed: controls may still go away while static objects are torn down.
State& Shared() {
    static auto* state = new State;
    return *state;
}

QAccessibleInterface* HostFactory(const QString& /*className*/, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    for (const auto& [host, naming] : Shared().namings) {
        auto* mutableHost = const_cast<ControlHost*>(host);
        if (mutableHost->HostWidget() == widget) {
            return new HostAccessible(widget, mutableHost);
        }
    }
    return nullptr;
}

void Send(QAccessibleEvent& event) {
    if (Shared().sink != nullptr) {
        Shared().sink(&event);
    } else {
        QAccessible::updateAccessibility(&event);
    }
}

// Drops the widget's cached accessible object, so that the next query asks the factory again.
void DropCachedInterface(QWidget* widget) {
    if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
    }
}

// Only while someone listens, and never from the clock thread: its controls are the window's.
bool MayNotify(const ControlHost* host) {
    const QCoreApplication* app = QCoreApplication::instance();
    return (QAccessible::isActive() || Shared().sink != nullptr) && app != nullptr &&
           QThread::currentThread() == app->thread() &&
           ControlAccessibility::NamingOf(host) != nullptr;
}

}  // namespace

void ControlAccessibility::Attach(ControlHost* host, AccessibleNaming* naming) {
    State& state = Shared();
    if (!state.factoryInstalled) {
        QAccessible::installFactory(HostFactory);
        state.factoryInstalled = true;
    }
    state.namings[host] = naming;
    // The widget may have been asked for before (while it was being built): the plain
    // widget's object would stay in the cache and hide the controls.
    if (QWidget* widget = host->HostWidget()) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        if (iface != nullptr && dynamic_cast<HostAccessible*>(iface) == nullptr) {
            DropCachedInterface(widget);
        }
    }
}

void ControlAccessibility::SetEventSink(EventSink sink) {
    Shared().sink = sink;
}

void ControlAccessibility::Detach(ControlHost* host) {
    State& state = Shared();
    if (state.namings.erase(host) == 0) {
        return;
    }
    for (auto it = state.interfaces.begin(); it != state.interfaces.end();) {
        if (it->first->GetHost() == host) {
            QAccessible::deleteAccessibleInterface(it->second);
            it = state.interfaces.erase(it);
        } else {
            ++it;
        }
    }
    if (QWidget* widget = host->HostWidget()) {
        DropCachedInterface(widget);
    }
}

AccessibleNaming* ControlAccessibility::NamingOf(const ControlHost* host) {
    const auto& namings = Shared().namings;
    const auto found = namings.find(host);
    return found == namings.end() ? nullptr : found->second;
}

std::vector<MWnd*> ControlAccessibility::ExposedControls(ControlHost* host) {
    std::vector<MWnd*> exposed;
    AccessibleNaming* naming = NamingOf(host);
    if (naming == nullptr) {
        return exposed;
    }
    for (MWnd* control : ControlRegistry::Instance().Controls()) {
        ControlAccessible::Kind kind{};
        if (control->GetHost() != host || !control->IsVisible() || control->GetRect().IsEmpty() ||
            !ControlAccessible::KindOf(*control, &kind) || naming->Name(control->GetId()).empty()) {
            continue;
        }
        exposed.push_back(control);
    }
    std::stable_sort(exposed.begin(), exposed.end(),
                     [](const MWnd* a, const MWnd* b) { return a->GetId() < b->GetId(); });
    return exposed;
}

QAccessibleInterface* ControlAccessibility::InterfaceOf(MWnd* control) {
    State& state = Shared();
    if (const auto found = state.interfaces.find(control); found != state.interfaces.end()) {
        return QAccessible::accessibleInterface(found->second);
    }
    ControlAccessible::Kind kind{};
    if (NamingOf(control->GetHost()) == nullptr || !ControlAccessible::KindOf(*control, &kind)) {
        return nullptr;
    }
    auto* iface = new ControlAccessible(control, kind);
    state.interfaces[control] = QAccessible::registerAccessibleInterface(iface);
    return iface;
}

void ControlAccessibility::Forget(MWnd* control) {
    State& state = Shared();
    const auto found = state.interfaces.find(control);
    if (found == state.interfaces.end()) {
        return;
    }
    if (auto* iface =
            dynamic_cast<ControlAccessible*>(QAccessible::accessibleInterface(found->second))) {
        iface->Invalidate();
    }
    if (QCoreApplication::instance() != nullptr) {
        QAccessible::deleteAccessibleInterface(found->second);
    }
    state.interfaces.erase(found);
}

void ControlAccessibility::NotifyValue(MWnd* control) {
    if (!MayNotify(control->GetHost())) {
        return;
    }
    QAccessibleInterface* iface = InterfaceOf(control);
    QAccessibleValueInterface* value = iface != nullptr ? iface->valueInterface() : nullptr;
    if (value == nullptr) {
        return;
    }
    QAccessibleValueChangeEvent event(iface, value->currentValue());
    Send(event);
}

void ControlAccessibility::NotifyState(MWnd* control, QAccessible::State changed) {
    if (!MayNotify(control->GetHost())) {
        return;
    }
    if (QAccessibleInterface* iface = InterfaceOf(control)) {
        QAccessibleStateChangeEvent event(iface, changed);
        Send(event);
    }
}

void ControlAccessibility::NotifyChildrenChanged(ControlHost* host) {
    QWidget* widget = host->HostWidget();
    if (!MayNotify(host) || widget == nullptr) {
        return;
    }
    QAccessibleEvent event(widget, QAccessible::ObjectReorder);
    Send(event);
}

void ControlAccessibility::NotifyEvent(MWnd* control, QAccessible::Event type) {
    if (!MayNotify(control->GetHost())) {
        return;
    }
    if (QAccessibleInterface* iface = InterfaceOf(control)) {
        QAccessibleEvent event(iface, type);
        Send(event);
    }
}

void ControlAccessibility::NotifyPlayingStep(MWnd* column) {
    if (!MayNotify(column->GetHost()) ||
        !Shared().playingStep.Allow(NotificationThrottle::Clock::now())) {
        return;
    }
    NotifyEvent(column, QAccessible::Selection);
}
