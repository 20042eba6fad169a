#pragma once

#include <atomic>
#include <cstdint>

#include "midi/ChannelMessage.h"
#include "midi/MidiInputSink.h"
#include "midi/SpscRing.h"

// Splits what the MIDI input hears: system real-time and common messages (the clock, Start,
// Stop, Continue, Song Position Pointer) go straight on to the clock sink on the input thread;
// Note On, Note Off and Control Change wait in a ring for the window thread, which an eventfd
// wakes. Other channel messages mean nothing here and are dropped.
//
// Threads: onMidiMessage on the input threads (ALSA and JACK may call at once; a spin flag
// orders their pushes, held for a few stores); the rest on the window thread.
class MidiInputRouter : public MidiInputSink {
public:
    // clockSink may be null: then real-time messages are dropped.
    explicit MidiInputRouter(MidiInputSink* clockSink);
    ~MidiInputRouter() override;
    MidiInputRouter(const MidiInputRouter&) = delete;
    MidiInputRouter& operator=(const MidiInputRouter&) = delete;

    void onMidiMessage(const std::uint8_t* bytes, int length, std::int64_t monotonicUs) override;
    // The clock follower keeps the frames; the window has no use for them.
    void onMidiMessageAtFrame(const std::uint8_t* bytes, int length, std::int64_t monotonicUs,
                              std::uint32_t frame) override;

    // Readable while channel messages wait; -1 if no eventfd could be made.
    int eventFd() const { return eventFd_; }
    // Window thread, when the eventfd is readable: clears it, then takeMessage() until false.
    // A message pushed meanwhile wakes the window thread again.
    void acknowledgeWakeUp();
    // Window thread: the oldest waiting message into out; false when none waits.
    bool takeMessage(ChannelMessage& out);
    // Channel messages dropped because the window thread fell a whole ring behind.
    std::uint64_t droppedCount() const { return dropped_.load(std::memory_order_relaxed); }

private:
    static constexpr std::size_t kRingSize = 1024;

    void push(const ChannelMessage& message);
    void wake();

    MidiInputSink* clockSink_;
    int eventFd_ = -1;
    SpscRing<ChannelMessage, kRingSize> ring_;
    std::atomic_flag pushing_ = ATOMIC_FLAG_INIT;
    std::atomic<bool> wakePending_{false};
    std::atomic<std::uint64_t> dropped_{0};
};
