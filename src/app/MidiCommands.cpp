#include "app/MidiCommands.h"

#include "midi/MidiInput.h"
#include "midi/SystemDrivers.h"

namespace MidiCommands {

void prepareEnvironment() {
    forbidJackServerStart();
}

int listPorts(std::FILE* out) {
    if (printPortTable(out, makeSystemDrivers()) != 0) {
        return 1;
    }
    // The inputs after the outputs, marked so that no output line (they begin with their
    // index) can be taken for one.
    for (const std::string& name : MidiInput::listSources()) {
        std::fprintf(out, "in\t%s\n", name.c_str());
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace MidiCommands
