#pragma once

#include <functional>
#include <string>

class QWidget;

// The program's own message box: one OK button, caption "NOTE!". It does not block: the
// clock keeps playing and a test or a scripted run is never stuck behind it.
namespace NoteBox {

constexpr const char* kCaption = "NOTE!";

void show(const std::string& text);
// The window the boxes open over (the main window), so that the window system places them
// there rather than anywhere; without one, the active window.
void setOwner(QWidget* owner);
// Replaces the box, for tests (an empty function restores it). Returns the previous one.
std::function<void(const std::string&)> setHandler(std::function<void(const std::string&)> handler);

}  // namespace NoteBox
