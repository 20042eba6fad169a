#include "midi/MidiLog.h"

#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "midi/MidiBytes.h"

namespace {

std::int64_t monotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The writer looks for new lines this often; the sender never wakes it.
constexpr auto kWriterPeriod = std::chrono::milliseconds(20);

}  // namespace

std::unique_ptr<MidiLog> MidiLog::open(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        if (error != nullptr) {
            *error = "Cannot open the MIDI log " + path + ": " + std::strerror(errno);
        }
        return nullptr;
    }
    return std::unique_ptr<MidiLog>(new MidiLog(file));
}

MidiLog::MidiLog(std::FILE* file) : file_(file), startMicros_(monotonicMicros()) {
    writer_ = std::thread([this] { run(); });
}

MidiLog::~MidiLog() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    std::fclose(file_);
}

void MidiLog::record(const char* portName, const std::uint8_t* bytes) {
    Entry entry;
    entry.micros = monotonicMicros() - startMicros_;
    std::strncpy(entry.portName, portName, kPortNameBytes - 1);
    std::memcpy(entry.bytes, bytes, sizeof entry.bytes);
    if (ring_.push(entry)) {
        recorded_.fetch_add(1, std::memory_order_release);
    } else {
        dropped_.fetch_add(1, std::memory_order_relaxed);
    }
}

void MidiLog::flush() {
    const std::uint64_t target = recorded_.load(std::memory_order_acquire);
    std::unique_lock lock(mutex_);
    flushRequested_ = true;
    wake_.notify_one();
    written_.wait(lock, [&] { return writtenCount_ >= target; });
}

void MidiLog::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kWriterPeriod, [&] { return stopping_ || flushRequested_; });
        const bool stopping = stopping_;
        flushRequested_ = false;
        lock.unlock();
        const std::uint64_t count = drain();
        lock.lock();
        writtenCount_ += count;
        written_.notify_all();
        if (stopping) {
            return;
        }
    }
}

// Only the bytes the message puts on the wire: a Timing Clock is "F8", a program change two
// bytes. A status that begins no short message is never sent; should one get here, all three
// bytes show what came in.
void MidiLog::writeLine(const Entry& entry) {
    int length = MidiBytes::lengthForStatus(entry.bytes[0]);
    if (length == 0) {
        length = MidiBytes::kShortMessageSize;
    }
    std::fprintf(file_, "%lld\t%s\t%02X", static_cast<long long>(entry.micros), entry.portName,
                 entry.bytes[0]);
    for (int i = 1; i < length; ++i) {
        std::fprintf(file_, " %02X", entry.bytes[i]);
    }
    std::fputc('\n', file_);
}

std::uint64_t MidiLog::drain() {
    std::uint64_t count = 0;
    while (const Entry* entry = ring_.front()) {
        writeLine(*entry);
        ring_.pop();
        ++count;
    }
    const std::uint64_t dropped = dropped_.load(std::memory_order_relaxed);
    if (dropped != droppedReported_) {
        std::fprintf(file_, "# %llu messages not logged: the log fell behind\n",
                     static_cast<unsigned long long>(dropped - droppedReported_));
        droppedReported_ = dropped;
    }
    if (count > 0 || dropped != 0) {
        std::fflush(file_);
    }
    return count;
}
