#include "app/Accelerators.h"

#include <array>

#include "panels/CommandIds.h"

namespace {

struct Accelerator {
    int key;
    Qt::KeyboardModifiers modifiers;
    int command;
};

using namespace CommandIds;

const std::array<Accelerator, 15> kTable = {{
    {Qt::Key_O, Qt::ControlModifier, ID_OPEN_SETUP},
    {Qt::Key_S, Qt::ControlModifier, ID_SAVE_SETUP},
    {Qt::Key_Q, Qt::ControlModifier, ID_EXIT},
    {Qt::Key_Z, Qt::ControlModifier, ID_UNDO},
    {Qt::Key_C, Qt::ControlModifier, ID_COPY_MEASURE},
    {Qt::Key_V, Qt::ControlModifier, ID_PASTE_MEASURE},
    {Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, ID_PASTE_VISIBLE},
    {Qt::Key_Left, Qt::ControlModifier, ID_SHIFT_LEFT},
    {Qt::Key_Right, Qt::ControlModifier, ID_SHIFT_RIGHT},
    {Qt::Key_R, Qt::ControlModifier, ID_RANDOMIZE},
    {Qt::Key_K, Qt::ControlModifier, ID_KILL_ALL_SOUND},
    {Qt::Key_P, Qt::ControlModifier, ID_POLYPHONIC},
    {Qt::Key_M, Qt::ControlModifier, ID_MUTE_COMMAND},
    {Qt::Key_E, Qt::ControlModifier, ID_EXPAND_VISIBLE},
    {Qt::Key_F12, Qt::NoModifier, ID_CHANGE_COLOR},
}};

}  // namespace

namespace Accelerators {

int commandFor(int key, Qt::KeyboardModifiers modifiers) {
    // Keypad keys count as the same keys; the remaining modifiers must match exactly.
    const Qt::KeyboardModifiers relevant =
        modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    for (const Accelerator& entry : kTable) {
        if (entry.key == key && entry.modifiers == relevant) {
            return entry.command;
        }
    }
    return 0;
}

}  // namespace Accelerators
