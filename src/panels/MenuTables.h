#pragma once

#include <span>
#include <string>

class QAction;
class QMenu;
class QWidget;

// The program's popup menus as tables: File (161), Edit (162) and MIDI (163) with their fixed
// ids, texts and separators, and the General MIDI program menu (169) built by rule. Each item
// carries its command id as the QAction's data.
namespace MenuTables {

constexpr int kFileMenu = 161;
constexpr int kEditMenu = 162;
constexpr int kMidiMenu = 163;
constexpr int kProgramMenu = 169;

constexpr int kProgramCount = 128;
constexpr int kProgramsPerRange = 32;

struct Entry {
    enum class Kind { Item, Separator, Submenu };
    Kind kind = Kind::Item;
    int id = 0;
    const char* text = "";
    std::span<const Entry> children = {};
};

// The entries of a fixed menu; empty for an unknown number (and for 169, which is built by
// rule).
std::span<const Entry> Entries(int menuId);

// The instrument name of General MIDI program p (0..127); empty outside that range.
std::string ProgramName(int program);
// "  0...Acoustic Grand Piano": the number right-aligned in three characters, "...", the name.
std::string ProgramItemText(int program);
// "0-31", "32-63", "64-95", "96-127" for k = 0..3.
std::string ProgramRangeText(int range);

// Builds menu menuId as a new popup with the given parent; nullptr for an unknown number.
// Submenus are children of their menu, so the whole tree goes with the popup.
QMenu* Build(int menuId, QWidget* parent);

// The command id an action carries, 0 for separators and submenu titles.
int CommandOf(const QAction* action);
// The first action with this command id in menu or any of its submenus, or nullptr.
QAction* FindAction(const QMenu* menu, int commandId);

}  // namespace MenuTables
