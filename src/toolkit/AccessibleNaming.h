#pragma once

#include <string>
#include <vector>

#include <QAccessible>

// What a host says about its drawn controls to assistive technology (screen readers), beyond
// what the toolkit knows by itself: the words for each control, and the functions that only a
// right click reaches. The host registers one with ControlAccessibility; window thread only.
class AccessibleNaming {
public:
    virtual ~AccessibleNaming() = default;

    // A short name that says what the control is ("Step 3 velocity", "Loop 5"); empty leaves
    // the control out of the accessible tree.
    virtual std::string Name(int controlId) = 0;
    // The longer words of the tooltip ("Velocity 100"), read after the name and value.
    virtual std::string Description(int controlId) = 0;
    // The role the toolkit gives a control by its kind, or another one (a toggle that acts as
    // a push button).
    virtual QAccessible::Role Role(int controlId, QAccessible::Role standard) {
        static_cast<void>(controlId);
        return standard;
    }
    // Named functions beyond press, toggle, increase and decrease (the right-click functions).
    virtual std::vector<std::string> ExtraActions(int controlId) = 0;
    virtual void DoExtraAction(int controlId, const std::string& action) = 0;
};
