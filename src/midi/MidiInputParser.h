#pragma once

#include <cstdint>

class MidiInputSink;

// Turns a raw MIDI byte stream into complete messages for a sink. Fed in any chunking (one
// JACK event's bytes at a time, or a byte at a time); a message split across two feeds comes
// out whole on the second, and running status carries over from one feed to the next.
//
// What reaches the sink: channel messages with running status expanded, the system common
// messages that carry meaning here (Song Position Pointer with both data bytes, time code
// quarter frame, song select, tune request) and the real-time bytes F8, FA, FB, FC, FE and FF,
// which go out at once, even in the middle of another message, without disturbing it.
// Dropped: System Exclusive of any length (F0 up to the next status byte), the undefined
// status bytes F4, F5, F9 and FD, and data bytes that no status byte calls for.
//
// Real-time safe: no allocation, no locks. One thread feeds a parser at a time.
class MidiInputParser {
public:
    explicit MidiInputParser(MidiInputSink* sink = nullptr) : sink_(sink) {}

    // nullptr: parse and drop everything.
    void setSink(MidiInputSink* sink) { sink_ = sink; }

    // Every message completed by these bytes goes to the sink with timeUs.
    void feed(const std::uint8_t* bytes, int length, std::int64_t timeUs);
    // The same for bytes that arrived on a JACK server's frame: the messages they complete
    // go to the sink with it.
    void feedAtFrame(const std::uint8_t* bytes, int length, std::int64_t timeUs,
                     std::uint32_t frame);

    // Forgets a message in progress and the running status, as after a source reconnects.
    void reset();

private:
    void feedByte(std::uint8_t byte, std::int64_t timeUs);
    void startMessage(std::uint8_t status);
    void deliver(const std::uint8_t* bytes, int length, std::int64_t timeUs);

    MidiInputSink* sink_;
    // The frame of the bytes being fed, while fed by feedAtFrame.
    bool framed_ = false;
    std::uint32_t frame_ = 0;
    // The status of the message being assembled (0: none, data bytes are dropped), the data
    // bytes it still needs, and whether it may run on (channel messages do, system common
    // messages do not).
    std::uint8_t status_ = 0;
    std::uint8_t data_[2] = {};
    int needed_ = 0;
    int have_ = 0;
    bool running_ = false;
    bool inSysEx_ = false;
};
