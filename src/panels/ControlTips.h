#pragma once

#include <string>

#include "core/IntArray.h"

class LoopPopup;
class MainPanel;
class Setup;

// The tooltip texts of the main window's and the loop panel's controls: what the control
// under the pointer is and the value it shows, in the words a musician uses ("Velocity 100",
// "Pan 20 (left)"). The hosts find the control under the pointer; these name it.
namespace ControlTips {

// The text for the control (or dial part) with this id in the main window; empty for an id
// that is no control of it (the background).
std::string ForMainWindow(MainPanel& panel, const Setup& setup, int controlId);
// The same for the loop panel's two dials.
std::string ForLoopPopup(LoopPopup& popup, int controlId);

std::string Velocity(int velocity);
std::string Pan(int pan);
std::string Duration(int duration);
std::string Program(int program);
std::string Chord(const IntArray& notes);
std::string Transpose(int transpose);
std::string Volume(int volume);
// mode 0: beats per minute, 1: samples per measure; shown is the dial's text.
std::string Tempo(const std::string& shown, int mode);
// measure, next: 0..7 (shown as loops 1..8).
std::string Loop(int measure, int repeats, int next);

}  // namespace ControlTips
