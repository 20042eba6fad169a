#pragma once

#include <cstdio>

// The command-line side of MIDI output. --midi-log FILE is handed to the main window, which
// gives the output port a MidiLog for it.
namespace MidiCommands {

// Sets up the environment the MIDI libraries need; call first thing in main().
void prepareEnvironment();

// --list-ports: prints the port table, "<index>\t<name>" per line with "MIDI Mapper" last,
// without opening any port. Returns the exit status.
int listPorts(std::FILE* out);

}  // namespace MidiCommands
