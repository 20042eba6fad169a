#include "midi/SystemDrivers.h"

#include <cstdlib>

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

void forbidJackServerStart() { ::setenv("JACK_NO_START_SERVER", "1", 1); }
