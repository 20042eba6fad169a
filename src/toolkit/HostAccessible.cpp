#include "toolkit/HostAccessible.h"

#include <algorithm>
#include <utility>

#include <QWidget>

#include "toolkit/AccessibleNaming.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/MEdit.h"
#include "toolkit/MWnd.h"

namespace {

QAccessible::Role RoleFor(QWidget* widget) {
    return widget->isWindow() ? QAccessible::Window : QAccessible::Client;
}

// Gives a text field the host's words for it; set only on change, since every change is
// announced.
void NameField(MEdit* field, AccessibleNaming& naming) {
    const QString name = QString::fromStdString(naming.Name(field->GetId()));
    const QString description = QString::fromStdString(naming.Description(field->GetId()));
    if (field->accessibleName() != name) {
        field->setAccessibleName(name);
    }
    if (field->accessibleDescription() != description) {
        field->setAccessibleDescription(description);
    }
}

}  // namespace

HostAccessible::HostAccessible(QWidget* widget, ControlHost* host)
    : QAccessibleWidget(widget, RoleFor(widget)), host_(host) {}

std::vector<QAccessibleInterface*> HostAccessible::Children() const {
    std::vector<std::pair<int, QAccessibleInterface*>> keyed;
    AccessibleNaming* naming = ControlAccessibility::NamingOf(host_);
    for (QObject* object : widget()->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child->isWindow() || child->isHidden()) {
            continue;
        }
        int key = 0;
        if (auto* field = qobject_cast<MEdit*>(child)) {
            key = field->GetId();
            if (naming != nullptr) {
                NameField(field, *naming);
            }
        }
        if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child)) {
            keyed.emplace_back(key, iface);
        }
    }
    for (MWnd* control : ControlAccessibility::ExposedControls(host_)) {
        if (QAccessibleInterface* iface = ControlAccessibility::InterfaceOf(control)) {
            keyed.emplace_back(control->GetId(), iface);
        }
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<QAccessibleInterface*> children;
    children.reserve(keyed.size());
    for (const auto& entry : keyed) {
        children.push_back(entry.second);
    }
    return children;
}

int HostAccessible::childCount() const {
    return static_cast<int>(Children().size());
}

QAccessibleInterface* HostAccessible::child(int index) const {
    const std::vector<QAccessibleInterface*> children = Children();
    if (index < 0 || index >= static_cast<int>(children.size())) {
        return nullptr;
    }
    return children[static_cast<std::size_t>(index)];
}

int HostAccessible::indexOfChild(const QAccessibleInterface* child) const {
    const std::vector<QAccessibleInterface*> children = Children();
    const auto found = std::find(children.begin(), children.end(), child);
    return found == children.end() ? -1 : static_cast<int>(found - children.begin());
}

QAccessibleInterface* HostAccessible::childAt(int x, int y) const {
    // Drawn controls overlap (a dial's field lies on its column): the smallest area wins.
    QAccessibleInterface* best = nullptr;
    for (QAccessibleInterface* child : Children()) {
        const QRect r = child->rect();
        if (r.contains(x, y) &&
            (best == nullptr ||
             r.width() * r.height() < best->rect().width() * best->rect().height())) {
            best = child;
        }
    }
    return best;
}

QString HostAccessible::text(QAccessible::Text t) const {
    QString base = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && base.isEmpty()) {
        return widget()->window()->windowTitle().trimmed();
    }
    return base;
}
