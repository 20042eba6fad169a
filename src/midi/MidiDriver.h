#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One open MIDI output: a connection to a device, to the embedded synthesizer, or to another
// running instance that lends its port. Made by a MidiDriver, owned by the OutputPort.
class MidiConnection {
public:
    virtual ~MidiConnection() = default;

    // Sends one short message: three bytes, status first; how many of them count follows
    // from the status (MidiBytes::lengthForStatus). Called with the output port's lock held,
    // from the clock thread as well as others: never allocates, logs or blocks. Returns false
    // when the message could not be handed on (it is then lost; the caller does not retry).
    virtual bool send(const std::uint8_t* bytes) = 0;
    // The same for a message that was due lateUs microseconds before this call (negative: due
    // later). A connection that can place messages in time puts it on its due time plus a
    // constant latency; the others send it at once.
    virtual bool sendDue(const std::uint8_t* bytes, std::int64_t lateUs) {
        static_cast<void>(lateUs);
        return send(bytes);
    }
};

// One backend of MIDI output devices (ALSA sequencer, JACK, the embedded synthesizer).
// Everything here runs on the window thread and may block briefly.
class MidiDriver {
public:
    virtual ~MidiDriver() = default;

    // The devices this backend can open now, by names that stay the same from run to run so
    // that a stored name finds its device again. Empty when the backend is not available.
    virtual std::vector<std::string> listDevices() = 0;

    // Opens a device by its name from listDevices; when several devices share the name,
    // `occurrence` tells which (0 = the first listed). The synthesizer ignores both.
    // nullptr when it cannot be opened; no message is shown.
    virtual std::unique_ptr<MidiConnection> open(const std::string& device, int occurrence) = 0;
};
