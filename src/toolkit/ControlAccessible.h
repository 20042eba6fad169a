#pragma once

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QAccessibleValueInterface>

class AccessibleNaming;
class MWnd;

// What assistive technology sees of one drawn control: role, name and description (from the
// host's AccessibleNaming), state, the value of bars and the tempo dial, and actions that
// act as a click on the control does, through the host's OnControlEvent, so an edit made by a
// screen reader reaches the setup and the undo history like one made with the mouse. Made by
// ControlAccessibility, owned by Qt's accessibility cache. Window thread only.
class ControlAccessible : public QAccessibleInterface,
                          public QAccessibleValueInterface,
                          public QAccessibleActionInterface {
public:
    // How a control behaves towards assistive technology, from its toolkit class.
    enum class Kind { Button, Toggle, Selector, Bar, Tempo, Column };

    // The kind of control, or false for controls that are not shown in the tree (backgrounds,
    // labels, a dial whose parts stand for it).
    static bool KindOf(const MWnd& control, Kind* kind);

    ControlAccessible(MWnd* control, Kind kind);

    // The control went away; the interface stays in the cache, invalid, until Qt drops it.
    void Invalidate() { control_ = nullptr; }
    MWnd* Control() const { return control_; }
    Kind GetKind() const { return kind_; }

    // QAccessibleInterface.
    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleValueInterface (bars and the tempo dial).
    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

    // QAccessibleActionInterface.
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    AccessibleNaming* Naming() const;
    bool HasValue() const { return kind_ == Kind::Bar || kind_ == Kind::Tempo; }
    // A click on the control: pressed and released in its middle, reported to the host.
    void Click(MWnd* target);
    // Sets a bar to v (clamped) and reports the release, as a drag ending there does.
    void SetBarValue(int v);
    void StepBy(int delta);

    MWnd* control_;
    Kind kind_;
};
