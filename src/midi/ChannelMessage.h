#pragma once

#include <cstdint>

// A Note On, Note Off or Control Change heard at the MIDI input, as the window thread gets it.
// A Note On of velocity 0 is a Note Off (running-status keyboards send them so).
struct ChannelMessage {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    // When it arrived, in CLOCK_MONOTONIC microseconds.
    std::int64_t monotonicUs = 0;

    // 1 to 16, as musicians count channels.
    int channel() const { return (status & 0x0F) + 1; }
    bool isNoteOn() const { return (status & 0xF0) == 0x90 && data2 > 0; }
    bool isNoteOff() const {
        return (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && data2 == 0);
    }
    bool isControlChange() const { return (status & 0xF0) == 0xB0; }
};
