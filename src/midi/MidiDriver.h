#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class StepTimeline;

// One open MIDI output: a connection to a device, to the embedded synthesizer, or to another
// running instance that lends its port. Made by a MidiDriver, owned by the OutputPort.
// A connection to a device keeps the device's name: when the device goes away it refuses
// sends, and when a device of that name comes back it is connected again by itself.
class MidiConnection {
public:
    // Delivers what is still queued before the connection closes (waits a few periods at
    // most). Runs on the window thread, never while a send is under way.
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
    // The same with the due time itself, in the engine's time base (StepTimer::nowUs), beside
    // its lateness; StepTimeline::kNever when there is none. A connection that places messages
    // in frames works the frame out from the due time, so that every message of one due time
    // lands on one frame; the others go by the lateness.
    virtual bool sendAt(const std::uint8_t* bytes, std::int64_t dueUs, std::int64_t lateUs) {
        static_cast<void>(dueUs);
        return sendDue(bytes, lateUs);
    }
    // The same for a message whose frame on the device's own clock (a JACK server's) the
    // leading timeline knows: it goes on that frame plus the connection's constant latency.
    // Connections that keep no frames go by the due time.
    virtual bool sendAtFrame(const std::uint8_t* bytes, std::uint32_t frame, std::int64_t dueUs,
                             std::int64_t lateUs) {
        static_cast<void>(frame);
        return sendAt(bytes, dueUs, lateUs);
    }
    // The connection's own schedule of steps in the frames of the device's clock (a JACK
    // server's), for the engine to play to when no shared clock leads; nullptr for none.
    // Owned by the connection: valid while it is open.
    virtual StepTimeline* frameTimeline() { return nullptr; }
    // How long after sendDue's due time the message sounds (the connection's own constant
    // latency plus the playback latency its listeners report), in microseconds; 0 where
    // unknown. Called with the output port's lock held, from the clock thread: real-time safe.
    virtual std::int64_t latencyUs() const { return 0; }
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

    // A driver whose open completes after open() has returned (the synthesizer) reports
    // through this that a connection it gave out failed after all, with a text for the user.
    // Called on a thread of the driver's, while the connection still exists: the handler must
    // not block, and must not use the connection but to compare it. Others never call it.
    using LateFailure =
        std::function<void(const MidiConnection* connection, const std::string& reason)>;
    virtual void setLateFailureHandler(LateFailure) {}
};
