#pragma once

#include <cstdint>

class StepTimeline;

// What the engine needs from the output port. Implemented by the MIDI layer; tests record.
class MidiOut {
public:
    virtual ~MidiOut() = default;

    // Sends one short message, each byte masked to 8 bits. Called from the clock thread as
    // well as the window thread: must not allocate, log or block beyond the port's own lock.
    // A send without an open port is dropped silently.
    virtual void sendShort(int status, int data1, int data2) = 0;
    // The same, for a message that was due lateUs microseconds before this call (negative: due
    // that much later). A port that can place messages in time (JACK) puts it on its due time,
    // one period of constant latency later; others send it at once, as sendShort does.
    virtual void sendShortDue(int status, int data1, int data2, std::int64_t lateUs) {
        static_cast<void>(lateUs);
        sendShort(status, data1, data2);
    }
    // The same with the due time itself (StepTimer::nowUs's time base; StepTimeline::kNever for
    // none) beside its lateness: a port that places messages in frames works the frame out from
    // the due time, so that all messages of one due time share one frame.
    virtual void sendShortAt(int status, int data1, int data2, std::int64_t dueUs,
                             std::int64_t lateUs) {
        static_cast<void>(dueUs);
        sendShortDue(status, data1, data2, lateUs);
    }
    // How long after its hand-over a message sent now sounds: the port's own latency plus what
    // its listeners report (JACK's playback latency), in microseconds; 0 where unknown. Read on
    // the clock thread: real-time safe.
    virtual std::int64_t outputLatencyUs() { return 0; }
    // The timeline whose due times sendShortAt carries from now on (the engine's), nullptr
    // for none: a port on an audio server whose frames the timeline keeps asks it for each
    // due time's frame. Set with the engine lock held; the timeline outlives its use here.
    virtual void setDueTimeline(StepTimeline* timeline) { static_cast<void>(timeline); }
    // Lists the devices and opens "MIDI Mapper". Window thread.
    virtual void enumeratePorts() = 0;
    // UM_PORT_BUSY, UM_PORT_HANDLE, UM_SHARE_COUNT and UM_REOPEN_PORT. Window thread.
    virtual void handlePortMessage(int message, std::intptr_t wParam, std::intptr_t lParam) = 0;
};
