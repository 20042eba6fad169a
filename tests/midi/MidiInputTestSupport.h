#pragma once

// A sink that keeps what the MIDI input hands it, for the input's tests. One thread writes
// (the parser's caller, or JACK's process thread); the test reads what count() covers.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "midi/MidiInputSink.h"

namespace inputtest {

using Bytes = std::vector<std::uint8_t>;

class RecordingSink : public MidiInputSink {
public:
    struct Message {
        std::array<std::uint8_t, 3> bytes{};
        int length = 0;
        std::int64_t timeUs = 0;
        Bytes data() const { return Bytes(bytes.begin(), bytes.begin() + length); }
    };

    static constexpr int kCapacity = 65536;

    void onMidiMessage(const std::uint8_t* bytes, int length, std::int64_t timeUs) override {
        const int index = count_.load(std::memory_order_relaxed);
        if (index >= kCapacity || length < 1 || length > 3) {
            overflow_.store(true, std::memory_order_relaxed);
            return;
        }
        Message& message = messages_[static_cast<std::size_t>(index)];
        message.length = length;
        std::copy(bytes, bytes + length, message.bytes.begin());
        message.timeUs = timeUs;
        count_.store(index + 1, std::memory_order_release);
    }

    int count() const { return count_.load(std::memory_order_acquire); }
    bool overflow() const { return overflow_.load(std::memory_order_relaxed); }
    const Message& at(int index) const { return messages_[static_cast<std::size_t>(index)]; }
    // The bytes of every message so far.
    std::vector<Bytes> all() const {
        std::vector<Bytes> out;
        for (int i = 0, n = count(); i < n; ++i) {
            out.push_back(at(i).data());
        }
        return out;
    }

private:
    std::unique_ptr<Message[]> messages_ = std::make_unique<Message[]>(kCapacity);
    std::atomic<int> count_{0};
    std::atomic<bool> overflow_{false};
};

}  // namespace inputtest
