#include "MidiInputRouter.h"

#include <sys/eventfd.h>
#include <unistd.h>

MidiInputRouter::MidiInputRouter(MidiInputSink* clockSink)
    : clockSink_(clockSink), eventFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

MidiInputRouter::~MidiInputRouter() {
    if (eventFd_ >= 0) {
        ::close(eventFd_);
    }
}

void MidiInputRouter::onMidiMessage(const std::uint8_t* bytes, int length,
                                    std::int64_t monotonicUs) {
    if (length < 1) {
        return;
    }
    const std::uint8_t kind = bytes[0] & 0xF0;
    if (kind == 0xF0) {
        if (clockSink_ != nullptr) {
            clockSink_->onMidiMessage(bytes, length, monotonicUs);
        }
        return;
    }
    if ((kind == 0x80 || kind == 0x90 || kind == 0xB0) && length == 3) {
        push(ChannelMessage{bytes[0], bytes[1], bytes[2], monotonicUs});
    }
}

void MidiInputRouter::onMidiMessageAtFrame(const std::uint8_t* bytes, int length,
                                           std::int64_t monotonicUs, std::uint32_t frame) {
    if (length >= 1 && (bytes[0] & 0xF0) == 0xF0 && clockSink_ != nullptr) {
        clockSink_->onMidiMessageAtFrame(bytes, length, monotonicUs, frame);
        return;
    }
    onMidiMessage(bytes, length, monotonicUs);
}

void MidiInputRouter::push(const ChannelMessage& message) {
    while (pushing_.test_and_set(std::memory_order_acquire)) {
        // The other input thread is between two stores.
    }
    const bool stored = ring_.push(message);
    pushing_.clear(std::memory_order_release);
    if (!stored) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    wake();
}

void MidiInputRouter::wake() {
    // One write per batch: the window thread clears the flag before it takes the batch.
    if (eventFd_ >= 0 && !wakePending_.exchange(true, std::memory_order_acq_rel)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof one);
    }
}

void MidiInputRouter::acknowledgeWakeUp() {
    if (eventFd_ >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(eventFd_, &count, sizeof count);
    }
    wakePending_.store(false, std::memory_order_release);
}

bool MidiInputRouter::takeMessage(ChannelMessage& out) {
    const ChannelMessage* front = ring_.front();
    if (front == nullptr) {
        return false;
    }
    out = *front;
    ring_.pop();
    return true;
}
