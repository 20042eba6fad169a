#pragma once

#include <vector>

#include <QAccessibleWidget>

class ControlHost;

// The accessible object of a widget that hosts drawn controls: a plain widget's, except that
// its children are the host's visible drawn controls and visible child widgets together,
// ordered by control id (the reading order of the main window: play, mute, menus, tempo,
// volume, transpose, the step columns left to right, the loops). Text fields get their
// names and descriptions from the host's naming each time the children are listed. Made by
// ControlAccessibility's factory, owned by Qt's accessibility cache.
class HostAccessible : public QAccessibleWidget {
public:
    HostAccessible(QWidget* widget, ControlHost* host);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QString text(QAccessible::Text t) const override;

private:
    std::vector<QAccessibleInterface*> Children() const;

    ControlHost* host_;
};
