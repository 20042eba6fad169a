#pragma once

#include <cstdint>

// Short MIDI messages as the output port handles them: three bytes, status first.
namespace MidiBytes {

constexpr int kShortMessageSize = 3;

// How many of the three bytes a short message with this status puts on the wire. 0 for a byte
// that cannot begin a short message: a data byte (a packed message carries no running status)
// or the start and end of a system-exclusive message.
constexpr int lengthForStatus(std::uint8_t status) {
    if (status < 0x80) {
        return 0;
    }
    if (status < 0xF0) {
        const int kind = status & 0xF0;
        return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    }
    switch (status) {
        case 0xF1:  // time code quarter frame
        case 0xF3:  // song select
            return 2;
        case 0xF2:  // song position
            return 3;
        case 0xF0:
        case 0xF7:
        case 0xF4:  // undefined system common bytes
        case 0xF5:
            return 0;
        default:  // tune request and real-time bytes
            return 1;
    }
}

}  // namespace MidiBytes
