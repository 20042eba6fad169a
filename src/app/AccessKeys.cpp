#include "app/AccessKeys.h"

#include <QKeyEvent>

#include "panels/MainPanel.h"
#include "panels/PanelIds.h"
#include "toolkit/ControlHost.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/ToolkitEvents.h"

using namespace PanelIds;

namespace {

// A dial's field is its id + 3, its arrows id + 1 (up) and id + 2 (down).
constexpr int kFieldToUpArrow = -2;
constexpr int kFieldToDownArrow = -1;
constexpr int kProgramPart = 30;
constexpr int kProgramField = kProgramPart + 3;

Qt::KeyboardModifiers relevant(Qt::KeyboardModifiers modifiers) {
    return modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
}

}  // namespace

bool AccessKeys::handle(QObject* watched, const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress) {
        return false;
    }
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = relevant(event.modifiers());
    if ((key == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
        (key == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        return openContextPanel(watched);
    }
    if (openMenu(key, modifiers)) {
        return true;
    }
    if (modifiers == Qt::NoModifier && (key == Qt::Key_Up || key == Qt::Key_Down ||
                                        key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        return stepField(watched, key);
    }
    return false;
}

bool AccessKeys::openMenu(int key, Qt::KeyboardModifiers modifiers) {
    MenuBar& menu = panel_.Menu();
    if ((key == Qt::Key_F10 && modifiers == Qt::NoModifier) ||
        (key == Qt::Key_F && modifiers == Qt::AltModifier)) {
        menu.openFileMenu();
        return true;
    }
    if (key == Qt::Key_E && modifiers == Qt::AltModifier) {
        menu.openEditMenu();
        return true;
    }
    if (key == Qt::Key_M && modifiers == Qt::AltModifier) {
        menu.openMidiMenu();
        return true;
    }
    return false;
}

bool AccessKeys::openContextPanel(QObject* watched) {
    if (auto* field = qobject_cast<MDialEdit*>(watched)) {
        const int id = field->GetId();
        if (id >= ID_COLUMN0 && id < columnId(kColumnCount) &&
            (id - ID_COLUMN0) % kColumnIdStride == kProgramField) {
            panel_.OpenProgramMenu((id - ID_COLUMN0) / kColumnIdStride);
            return true;
        }
    }
    // Elsewhere the loop shown is the one meant: its panel opens, playing or not.
    panel_.OpenLoopPopup(panel_.LoopGroup().GetSelected());
    return true;
}

bool AccessKeys::stepField(QObject* watched, int key) {
    auto* field = qobject_cast<MDialEdit*>(watched);
    if (field == nullptr) {
        return false;
    }
    const bool up = key == Qt::Key_Up || key == Qt::Key_PageUp;
    const int arrow = field->GetId() + (up ? kFieldToUpArrow : kFieldToDownArrow);
    const int steps = key == Qt::Key_PageUp || key == Qt::Key_PageDown ? kPageSteps : 1;
    // One press (one undo step), then a release per step, each written through as an arrow
    // click is.
    host_.OnControlEvent(EV_PRESS, 0, 0, arrow);
    for (int i = 0; i < steps; ++i) {
        host_.OnControlEvent(EV_RELEASE, 0, 0, arrow);
    }
    return true;
}
