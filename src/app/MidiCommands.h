#pragma once

#include <cstdio>

// The command-line side of MIDI output. --midi-log FILE is handed to the main window, which
// gives the output port a MidiLog for it.
namespace MidiCommands {

// Sets up the environment the MIDI libraries need; call first thing in main().
void prepareEnvironment();

// --list-ports: prints the output port table, "<index>\t<name>" per line with "MIDI Mapper"
// last, then the MIDI input sources (other clients' output ports), "in\t<name>" per line,
// without opening any port. A script tells the two apart by the first field: a number for an
// output, "in" for an input. Returns the exit status.
int listPorts(std::FILE* out);

}  // namespace MidiCommands
