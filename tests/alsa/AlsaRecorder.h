#pragma once

#include <alsa/asoundlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A sequencer client of the test's own with one port others can write to, as a synthesizer
// offers: every MIDI event that reaches it is kept, in order of arrival, as the bytes it
// stands for. Its port can be renamed after it was made, as some programs name theirs.
class AlsaRecorder {
public:
    using Message = std::vector<std::uint8_t>;

    AlsaRecorder() = default;
    AlsaRecorder(const AlsaRecorder&) = delete;
    AlsaRecorder& operator=(const AlsaRecorder&) = delete;
    ~AlsaRecorder();

    // Makes the client and its port; false when the sequencer cannot be opened.
    bool open(const std::string& clientName, const std::string& portName);
    // Gives the port another name; the kernel tells nobody.
    bool rename(const std::string& portName);
    // The client leaves the sequencer; what arrived stays readable.
    void close();

    std::vector<Message> messages() const;
    // Waits (bounded by `patience`) until what arrived satisfies `done`.
    bool waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                 std::chrono::seconds patience) const;

private:
    void run();

    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    int stopFd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Message> messages_;
};
