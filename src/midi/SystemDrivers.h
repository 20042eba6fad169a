#pragma once

#include "midi/OutputPort.h"

// The drivers a running program uses: the ALSA sequencer's ports, then JACK's MIDI inputs
// (both kinds are listed when both are there), and the embedded synthesizer as "MIDI Mapper".
OutputPort::Drivers makeSystemDrivers();

// libjack starts a JACK server of its own when a client opens and none runs, and FluidSynth's
// JACK audio driver then waits for it. Call once at start-up, before any MIDI library runs.
void forbidJackServerStart();
