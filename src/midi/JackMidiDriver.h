#pragma once

#include <string>

#include "midi/MidiDriver.h"

// The JACK backend: every MIDI input port of another JACK client is a device, named
// "client:port (JACK)". Each open device gets its own JACK client with one output port; a
// message is placed in the JACK MIDI buffer one period after the frame of its due time (the
// moment it was sent, for a message sent without one), so timing is not rounded to the period
// (JackConnection::sendDue). An open device follows its port
// by name when it goes away and comes back (JackConnection). Never starts a JACK server.
class JackMidiDriver : public MidiDriver {
public:
    static constexpr const char* kNameSuffix = " (JACK)";

    // Its JACK clients are named by ClientNames when they open.
    JackMidiDriver() = default;

    // Whether a JACK server answers (the default one, or the one named by JACK_DEFAULT_SERVER).
    static bool serverRunning();
    // libjack reports a missing server on stderr at every attempt; the program treats that as
    // "no JACK server" and keeps quiet. Idempotent.
    static void silenceLibraryErrors();

    std::vector<std::string> listDevices() override;
    std::unique_ptr<MidiConnection> open(const std::string& device, int occurrence) override;
};
