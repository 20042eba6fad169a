#include "panels/MenuBar.h"

#include <algorithm>

#include "core/Setup.h"
#include "panels/PanelIds.h"

using namespace PanelIds;

namespace {

// The buttons sit side by side, 18 pixels apart.
constexpr int kButtonPitch = 18;

}  // namespace

MenuBar::MenuBar() = default;

MenuBar::~MenuBar() = default;

void MenuBar::Create(const std::string& name, int x, int y, ControlHost& host) {
    name_ = name;
    host_ = &host;
    fileButton_.Create(ID_MENU_FILE, "", x, y, &host, "FILEUP", "FILEDN");
    fileButton_.SetCursorName("FCUR");
    editButton_.Create(ID_MENU_EDIT, "", x + kButtonPitch, y, &host, "EDITUP", "EDITDN");
    editButton_.SetCursorName("ECUR");
    midiButton_.Create(ID_MENU_MIDI, "", x + 2 * kButtonPitch, y, &host, "MIDIUP", "MIDIDN");
    midiButton_.SetCursorName("MCUR");
    const MRect& first = fileButton_.GetRect();
    const MRect& last = midiButton_.GetRect();
    rect_ = MRect{first.left, first.top, last.right, std::max(first.bottom, last.bottom)};
}

void MenuBar::attach(Setup& setup) { setup_ = &setup; }

void MenuBar::recolour(ColorRef baseColor) {
    palette_.DeriveFrom(baseColor);
    fileButton_.SetColors(palette_.lighter, palette_.darker);
    editButton_.SetColors(palette_.contrast, palette_.contrastDarker);
    midiButton_.SetColors(palette_.darker, palette_.lighter);
}

void MenuBar::OnCommand(int commandId) {
    if (commandHandler_) {
        commandHandler_(commandId & 0xFFFF);
    }
}
