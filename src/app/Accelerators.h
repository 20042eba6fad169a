#pragma once

#include <Qt>

// The main window's keyboard shortcuts: each key with its exact modifiers gives a menu
// command id, delivered to the menu bar whether or not the menu item is enabled.
namespace Accelerators {

// The command for the key, or 0 when the key is no accelerator.
int commandFor(int key, Qt::KeyboardModifiers modifiers);

}  // namespace Accelerators
