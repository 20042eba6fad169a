#pragma once

#include <cstdio>

#include "midi/OutputPort.h"

// The drivers a running program uses: the ALSA sequencer's ports, then JACK's MIDI inputs
// (both kinds are listed when both are there), and the embedded synthesizer as "MIDI Mapper".
OutputPort::Drivers makeSystemDrivers();

// Prints the port table the drivers give, "<index>\t<name>" per line with "MIDI Mapper"
// last, without opening any port. Returns 0, or 1 when the output could not be written.
int printPortTable(std::FILE* out, OutputPort::Drivers drivers);

// libjack starts a JACK server of its own when a client opens and none runs, and FluidSynth's
// JACK audio driver then waits for it. Call once at start-up, before any MIDI library runs.
void forbidJackServerStart();
