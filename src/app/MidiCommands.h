#pragma once

#include <cstdio>
#include <memory>
#include <string>

class MidiLog;

// The command-line side of MIDI output: --list-ports and --midi-log FILE.
namespace MidiCommands {

// Sets up the environment the MIDI libraries need; call first thing in main().
void prepareEnvironment();

// --list-ports: prints the port table, "<index>\t<name>" per line with "MIDI Mapper" last,
// without opening any port. Returns the exit status.
int listPorts(std::FILE* out);

// --midi-log FILE: the file is remembered here and opened by openMidiLog() when the output
// port is made; every short message sent is appended to it.
void setMidiLogPath(const std::string& path);
const std::string& midiLogPath();
// The log for the remembered path: nullptr when none was asked for, or (with the reason in
// error) when the file cannot be opened.
std::unique_ptr<MidiLog> openMidiLog(std::string* error);

}  // namespace MidiCommands
