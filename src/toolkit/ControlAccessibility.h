#pragma once

#include <vector>

#include <QAccessible>

class AccessibleNaming;
class ControlHost;
class MWnd;
class QAccessibleInterface;

// The toolkit's drawn controls in the accessible tree. A host that attaches itself with its
// naming gets an accessible object for its widget (HostAccessible) whose children are its
// visible drawn controls and its text fields, in id order; each drawn control gets a
// ControlAccessible, made on first use and dropped with the control. The notifications tell
// assistive technology of changed values and states; they are sent from the window thread
// only, and only while assistive technology listens. Window thread only.
class ControlAccessibility {
public:
    // Exposes host's controls named by naming (not owned; detach before it goes).
    static void Attach(ControlHost* host, AccessibleNaming* naming);
    static void Detach(ControlHost* host);
    // Null for a host that is not attached.
    static AccessibleNaming* NamingOf(const ControlHost* host);
    // Host's controls that the tree shows: visible, with an area, a kind that is shown and a
    // name, in id order.
    static std::vector<MWnd*> ExposedControls(ControlHost* host);
    // The control's accessible object, made on first use; null for a control that is not
    // shown in the tree.
    static QAccessibleInterface* InterfaceOf(MWnd* control);

    // From the control's destructor: its accessible object becomes invalid.
    static void Forget(MWnd* control);
    static void NotifyValue(MWnd* control);
    static void NotifyState(MWnd* control, QAccessible::State changed);
    // Controls of host were shown or hidden (step columns as the window's width changes).
    static void NotifyChildrenChanged(ControlHost* host);
    // Any other change, such as DescriptionChanged.
    static void NotifyEvent(MWnd* control, QAccessible::Event type);
    // Column is the step that plays now: it becomes the selected one (AT-SPI forwards selection
    // changes of any object, an active state only of windows). Sent at most
    // kPlayingStepsPerSecond times a second
    // (the rest are dropped: the state is there to be read at any time), never from another
    // thread than the window's.
    static void NotifyPlayingStep(MWnd* column);
    static constexpr int kPlayingStepsPerSecond = 4;

    // Where the notifications go instead of Qt's update path; null for Qt's own. For tests:
    // Qt passes events on (to its update handler too) only while a platform bridge is active.
    using EventSink = void (*)(QAccessibleEvent* event);
    static void SetEventSink(EventSink sink);
};
