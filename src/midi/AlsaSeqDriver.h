#pragma once

#include <cstdint>
#include <string>

#include "midi/MidiDriver.h"

struct snd_seq_event;

// The ALSA sequencer backend: every writable, subscribable port of another sequencer client
// is a device, named "client name:port name (ALSA)" without the client and port numbers,
// which change from run to run. An open device gets its own sequencer client with one port
// connected to it; messages go out as direct (unqueued) events. A machine without a sound
// card has no sequencer: that means no devices, not an error.
class AlsaSeqDriver : public MidiDriver {
public:
    static constexpr const char* kNameSuffix = " (ALSA)";

    // Its sequencer clients are named by ClientNames when they open.
    AlsaSeqDriver() = default;

    std::vector<std::string> listDevices() override;
    std::unique_ptr<MidiConnection> open(const std::string& device, int occurrence) override;

    // alsa-lib reports a machine without sound devices on stderr at every attempt (also
    // when FluidSynth opens its ALSA audio output); the program treats that as "nothing
    // there" and keeps quiet. Idempotent.
    static void silenceLibraryErrors();

    // Fills the event's type and data from a short message; false for messages the sequencer
    // has no event for (system messages other than the real-time ones are not sent).
    static bool encode(const std::uint8_t* bytes, snd_seq_event& event);
};
