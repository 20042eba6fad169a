#include "app/MidiCommands.h"

#include "midi/SystemDrivers.h"

namespace MidiCommands {

void prepareEnvironment() { forbidJackServerStart(); }

int listPorts(std::FILE* out) { return printPortTable(out, makeSystemDrivers()); }

}  // namespace MidiCommands
