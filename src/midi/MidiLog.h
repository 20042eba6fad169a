#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "midi/SpscRing.h"

// The MIDI monitor behind --midi-log FILE: one line per short message sent, appended to the
// file as "<microseconds since the log opened>\t<port name>\t<b0> [<b1> [<b2>]]": the hex bytes
// that go on the wire, one for a real-time message, two for a program change.
// The sender only copies the message into a preallocated ring; a thread of the log's own
// writes the file, so the clock thread never touches it.
class MidiLog {
public:
    static constexpr std::size_t kPortNameBytes = 96;

    // nullptr (and error set) when the file cannot be opened for appending.
    static std::unique_ptr<MidiLog> open(const std::string& path, std::string* error);
    MidiLog(const MidiLog&) = delete;
    MidiLog& operator=(const MidiLog&) = delete;
    // Writes what is still queued and closes the file.
    virtual ~MidiLog();

    // Records one message. Callers are serialised by the output port's lock (one producer at a
    // time); never allocates or blocks. A port name longer than the slot is cut short. When
    // the ring is full the message is counted and the file says how many went missing.
    void record(const char* portName, const std::uint8_t* bytes);

    // Waits until everything recorded so far is in the file.
    void flush();

private:
    struct Entry {
        std::int64_t micros = 0;
        char portName[kPortNameBytes] = {};
        std::uint8_t bytes[3] = {};
    };

    explicit MidiLog(std::FILE* file);
    void run();
    void writeLine(const Entry& entry);
    // Writes every queued entry; returns how many.
    std::uint64_t drain();

    std::FILE* file_;
    std::int64_t startMicros_;
    SpscRing<Entry, 4096> ring_;
    std::atomic<std::uint64_t> recorded_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::uint64_t droppedReported_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::uint64_t writtenCount_ = 0;  // guarded by mutex_
    bool flushRequested_ = false;
    bool stopping_ = false;
    std::thread writer_;
};
