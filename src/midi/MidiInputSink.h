#pragma once

#include <cstdint>

// Where the MIDI input delivers what it receives: one complete message at a time, with the
// time it arrived. Implemented by whatever acts on input (the MIDI clock follower, and later
// remote control); set on the MidiInput before it opens.
//
// Threads: called on the input's own thread (JACK's process thread, or the ALSA input thread),
// never on the window thread. Real-time safe: no allocation, no blocking, no I/O. Two inputs
// (ALSA and JACK) may call it at once from their two threads.
class MidiInputSink {
public:
    virtual ~MidiInputSink() = default;

    // bytes: status first; length 1 to 3 as the status calls for (running status already
    // expanded, System Exclusive and undefined bytes never come here). monotonicUs: when the
    // message arrived, in CLOCK_MONOTONIC microseconds (StepTimer::fromMonotonicUs takes it to
    // the engine's time base): for JACK the time of the event's frame, for ALSA the sequencer
    // queue's real-time stamp.
    virtual void onMidiMessage(const std::uint8_t* bytes, int length, std::int64_t monotonicUs) = 0;
    // The same for a message from a JACK input, with the frame of the server's clock that
    // it arrived on: a sink that keeps time in the server's frames uses it. Others leave it.
    virtual void onMidiMessageAtFrame(const std::uint8_t* bytes, int length,
                                      std::int64_t monotonicUs, std::uint32_t frame) {
        static_cast<void>(frame);
        onMidiMessage(bytes, length, monotonicUs);
    }
};
