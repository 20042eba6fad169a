#include "midi/SystemDrivers.h"

#include <cstdlib>

#include "core/Setup.h"
#include "midi/AlsaSeqDriver.h"
#include "midi/FluidSynthDriver.h"
#include "midi/JackMidiDriver.h"

OutputPort::Drivers makeSystemDrivers() {
    OutputPort::Drivers drivers;
    drivers.devices.push_back(std::make_unique<AlsaSeqDriver>());
    drivers.devices.push_back(std::make_unique<JackMidiDriver>());
    drivers.mapper = std::make_unique<FluidSynthDriver>();
    return drivers;
}

int printPortTable(std::FILE* out, OutputPort::Drivers drivers) {
    Setup setup;
    OutputPort port(setup, std::move(drivers));
    port.refreshPortTable();
    for (int i = 0; i <= setup.port.deviceCount; ++i) {
        std::fprintf(out, "%d\t%s\n", i, setup.port.portNames[static_cast<std::size_t>(i)].c_str());
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

void forbidJackServerStart() { ::setenv("JACK_NO_START_SERVER", "1", 1); }
