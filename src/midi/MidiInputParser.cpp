#include "midi/MidiInputParser.h"

#include "midi/MidiBytes.h"
#include "midi/MidiInputSink.h"

namespace {

bool isRealTime(std::uint8_t byte) {
    return byte >= 0xF8;
}

// Real-time bytes with no meaning at all; the others (tick, start, continue, stop, active
// sensing, reset) go to the sink, which ignores what it does not use.
bool isUndefined(std::uint8_t byte) {
    return byte == 0xF4 || byte == 0xF5 || byte == 0xF9 || byte == 0xFD;
}

}  // namespace

void MidiInputParser::feed(const std::uint8_t* bytes, int length, std::int64_t timeUs) {
    for (int i = 0; i < length; ++i) {
        feedByte(bytes[i], timeUs);
    }
}

void MidiInputParser::feedAtFrame(const std::uint8_t* bytes, int length, std::int64_t timeUs,
                                  std::uint32_t frame) {
    framed_ = true;
    frame_ = frame;
    feed(bytes, length, timeUs);
    framed_ = false;
}

void MidiInputParser::reset() {
    status_ = 0;
    needed_ = 0;
    have_ = 0;
    running_ = false;
    inSysEx_ = false;
}

void MidiInputParser::feedByte(std::uint8_t byte, std::int64_t timeUs) {
    if (isRealTime(byte)) {
        // Interleaved anywhere, even inside System Exclusive, and they leave the message in
        // progress as it was.
        if (!isUndefined(byte)) {
            deliver(&byte, 1, timeUs);
        }
        return;
    }
    if (byte >= 0x80) {
        // Any status byte ends System Exclusive (F7 normally, but a source that lost it must
        // not swallow what follows), and undefined ones cancel running status as the other
        // system common bytes do.
        inSysEx_ = byte == 0xF0;
        if (inSysEx_ || byte == 0xF7 || isUndefined(byte)) {
            status_ = 0;
            return;
        }
        startMessage(byte);
        if (needed_ == 0) {
            deliver(&status_, 1, timeUs);
            status_ = 0;
        }
        return;
    }
    if (inSysEx_ || status_ == 0) {
        return;
    }
    data_[have_++] = byte;
    if (have_ < needed_) {
        return;
    }
    const std::uint8_t message[3] = {status_, data_[0], data_[1]};
    deliver(message, 1 + needed_, timeUs);
    have_ = 0;
    if (!running_) {
        status_ = 0;
    }
}

void MidiInputParser::startMessage(std::uint8_t status) {
    status_ = status;
    needed_ = MidiBytes::lengthForStatus(status) - 1;
    have_ = 0;
    running_ = status < 0xF0;
}

void MidiInputParser::deliver(const std::uint8_t* bytes, int length, std::int64_t timeUs) {
    if (sink_ == nullptr) {
        return;
    }
    if (framed_) {
        sink_->onMidiMessageAtFrame(bytes, length, timeUs, frame_);
    } else {
        sink_->onMidiMessage(bytes, length, timeUs);
    }
}
