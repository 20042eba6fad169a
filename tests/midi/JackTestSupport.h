#pragma once

// A JACK server of a test's own (dummy driver) and a recorder client that notes every MIDI
// event it receives, for tests that go through a real JACK server.

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/JackConnection.h"

namespace jacktest {

constexpr jack_nframes_t kPeriod = 64;

inline void sleepMicroseconds(long micros) {
    const timespec pause{0, micros * 1000};
    ::nanosleep(&pause, nullptr);
}

// A JACK server of this test's own, under a name no other test uses.
class JackServer {
public:
    bool start(const std::string& name, jack_nframes_t period = kPeriod) {
        name_ = name;
        launch(period);
        // Ready when a client can connect; it takes about a tenth of a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            jack_status_t status{};
            // libjack takes no open beside a close on another thread: the program's clients
            // in this process open and close under the same lock.
            std::unique_lock guard(JackConnection::clientOpenMutex());
            jack_client_t* probe = jack_client_open(
                "probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                name.c_str());
            if (probe != nullptr) {
                jack_client_close(probe);
                return true;
            }
            guard.unlock();
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                // A server of another test that is going down, or one that died with its
                // shared memory registered, can make a new one give up at once: try again.
                sleepMicroseconds(200000);
                launch(period);
                continue;
            }
            sleepMicroseconds(5000);
        }
        stop();
        return false;
    }

    void launch(jack_nframes_t period) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, STDOUT_FILENO);
            ::dup2(quiet, STDERR_FILENO);
            ::execlp("jackd", "jackd", "-n", name_.c_str(), "-d", "dummy", "-r", "48000", "-p",
                     std::to_string(period).c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (::waitpid(pid_, nullptr, WNOHANG) != pid_) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, nullptr, 0);
                    break;
                }
                sleepMicroseconds(10000);
            }
            pid_ = -1;
        }
        // Semaphores of clients that were still connected may outlive the server.
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind("jack_sem.", 0) == 0 &&
                file.find("_" + name_ + "_") != std::string::npos) {
                std::filesystem::remove(entry.path(), ignored);
            }
        }
    }

private:
    std::string name_;
    pid_t pid_ = -1;
};

// A JACK client with one MIDI input that notes every event with its absolute frame time, and
// one audio input that keeps the loudest sample it has heard.
class Recorder {
public:
    struct Event {
        jack_nframes_t frame;
        std::size_t size;
        std::array<std::uint8_t, 3> bytes;
        // The cycle it came in did not follow the one before by a period: the server ran this
        // client late, after it had begun the next cycle already, or skipped it. Such a cycle
        // stands for one whose place in time the server has lost, and its frames with it.
        bool disturbed;
    };

    // playbackLatency: what the MIDI input reports as its playback latency, as a synthesizer
    // with an audio output behind it does.
    bool open(const char* name = "recorder", jack_nframes_t playbackLatency = 0) {
        jack_status_t status{};
        {
            std::lock_guard guard(JackConnection::clientOpenMutex());
            client_ = jack_client_open(name, JackNoStartServer, &status);
        }
        if (client_ == nullptr) {
            return false;
        }
        port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        audio_ = jack_port_register(client_, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        playbackLatency_ = playbackLatency;
        jack_set_process_callback(client_, &Recorder::process, this);
        jack_set_latency_callback(client_, &Recorder::reportLatency, this);
        return port_ != nullptr && audio_ != nullptr && jack_activate(client_) == 0;
    }
    ~Recorder() { close(); }
    // Leaves the server as a client that quits does; what it recorded stays readable.
    void close() {
        if (client_ != nullptr) {
            std::lock_guard guard(JackConnection::clientOpenMutex());
            jack_deactivate(client_);
            jack_client_close(client_);
            client_ = nullptr;
        }
    }

    jack_client_t* client() const { return client_; }
    int count() const { return count_.load(std::memory_order_acquire); }
    float loudest() const { return loudest_.load(std::memory_order_acquire); }
    const Event& event(int index) const { return events_[static_cast<std::size_t>(index)]; }
    // Cycles that did not follow the one before by a period (see Event::disturbed).
    int disturbedCycles() const { return disturbedCycles_.load(std::memory_order_relaxed); }

    // When (JACK's microsecond clock) the cycle that starts at `frame` began; 0 when that
    // cycle is not among the last ones seen.
    jack_time_t cycleBegan(jack_nframes_t frame) const {
        const Cycle& cycle = cycles_[(frame / kPeriod) % kCycles];
        return cycle.start.load(std::memory_order_acquire) == frame
                   ? cycle.began.load(std::memory_order_acquire)
                   : 0;
    }

    // When this client's process callback ran for the cycle that starts at `frame`; 0 as above.
    // cycleBegan() is JACK's filtered estimate, which hides a cycle that woke late.
    jack_time_t cycleRan(jack_nframes_t frame) const {
        const Cycle& cycle = cycles_[(frame / kPeriod) % kCycles];
        return cycle.start.load(std::memory_order_acquire) == frame
                   ? cycle.ran.load(std::memory_order_acquire)
                   : 0;
    }

    bool waitForEvents(int wanted) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count() < wanted && std::chrono::steady_clock::now() < deadline) {
            sleepMicroseconds(1000);
        }
        return count() >= wanted;
    }

private:
    static void reportLatency(jack_latency_callback_mode_t mode, void* arg) {
        auto* self = static_cast<Recorder*>(arg);
        if (mode == JackPlaybackLatency) {
            jack_latency_range_t range{self->playbackLatency_, self->playbackLatency_};
            jack_port_set_latency_range(self->port_, JackPlaybackLatency, &range);
        }
    }

    static int process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<Recorder*>(arg);
        const auto* samples =
            static_cast<const float*>(jack_port_get_buffer(self->audio_, nframes));
        float loudest = self->loudest_.load(std::memory_order_relaxed);
        for (jack_nframes_t i = 0; i < nframes; ++i) {
            loudest = std::max(loudest, std::fabs(samples[i]));
        }
        self->loudest_.store(loudest, std::memory_order_release);

        void* buffer = jack_port_get_buffer(self->port_, nframes);
        const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
        jack_nframes_t frames = 0;
        jack_time_t began = 0;
        jack_time_t nextBegins = 0;
        float periodMicros = 0;
        if (jack_get_cycle_times(self->client_, &frames, &began, &nextBegins, &periodMicros) == 0) {
            Cycle& cycle = self->cycles_[(cycleStart / kPeriod) % kCycles];
            cycle.start.store(0xFFFFFFFF, std::memory_order_release);
            cycle.began.store(began, std::memory_order_release);
            cycle.ran.store(jack_get_time(), std::memory_order_release);
            cycle.start.store(cycleStart, std::memory_order_release);
        }
        const bool disturbed =
            self->lastCycleStart_.has_value() && cycleStart != *self->lastCycleStart_ + nframes;
        if (disturbed) {
            self->disturbedCycles_.fetch_add(1, std::memory_order_relaxed);
        }
        self->lastCycleStart_ = cycleStart;
        const std::uint32_t events = jack_midi_get_event_count(buffer);
        int stored = self->count_.load(std::memory_order_relaxed);
        for (std::uint32_t i = 0; i < events && stored < kCapacity; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0) {
                continue;
            }
            Event& record = self->events_[static_cast<std::size_t>(stored)];
            record.frame = cycleStart + event.time;
            record.size = std::min<std::size_t>(event.size, 3);
            record.bytes = {};
            std::copy(event.buffer, event.buffer + record.size, record.bytes.begin());
            record.disturbed = disturbed;
            ++stored;
        }
        self->count_.store(stored, std::memory_order_release);
        return 0;
    }

    struct Cycle {
        std::atomic<jack_nframes_t> start{0};
        std::atomic<jack_time_t> began{0};
        std::atomic<jack_time_t> ran{0};
    };

    // Ten minutes of steps at 180 BPM (three-note chords, MIDI clock), for the benchmark.
    static constexpr int kCapacity = 1 << 18;
    static constexpr std::size_t kCycles = 8192;  // about ten seconds of cycles
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_port_t* audio_ = nullptr;
    jack_nframes_t playbackLatency_ = 0;
    std::atomic<float> loudest_{0.0f};
    // On the heap: tests keep recorders on the stack.
    std::vector<Event> events_ = std::vector<Event>(kCapacity);
    std::atomic<int> count_{0};
    std::optional<jack_nframes_t> lastCycleStart_;  // process thread only
    std::atomic<int> disturbedCycles_{0};
    std::array<Cycle, kCycles> cycles_{};
};

// A MIDI clock of a test's own (or any other source): sends each queued message on its
// frame, at the start of the next cycle when that frame has passed, and notes the frame it
// went out on.
class ClockSource {
public:
    struct Message {
        jack_nframes_t frame = 0;
        std::array<std::uint8_t, 3> bytes{};
    };

    bool open(const char* name = "clock") {
        jack_status_t status{};
        {
            std::lock_guard guard(JackConnection::clientOpenMutex());
            client_ = jack_client_open(name, JackNoStartServer, &status);
        }
        if (client_ == nullptr) {
            return false;
        }
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &ClockSource::process, this);
        return port_ != nullptr && jack_activate(client_) == 0;
    }
    ~ClockSource() { close(); }
    void close() {
        if (client_ != nullptr) {
            std::lock_guard guard(JackConnection::clientOpenMutex());
            jack_deactivate(client_);
            jack_client_close(client_);
            client_ = nullptr;
        }
    }

    jack_port_t* port() const { return port_; }
    jack_nframes_t frameNow() const { return jack_frame_time(client_); }
    // In frame order, from one thread.
    void queue(jack_nframes_t frame, std::uint8_t status, std::uint8_t data1 = 0,
               std::uint8_t data2 = 0) {
        const int index = queued_.load(std::memory_order_relaxed);
        if (index >= kCapacity) {
            return;
        }
        messages_[static_cast<std::size_t>(index)] = Message{frame, {status, data1, data2}};
        queued_.store(index + 1, std::memory_order_release);
    }
    int sent() const { return sent_.load(std::memory_order_acquire); }
    // The message as it went out: its frame is the one it was sent on.
    const Message& message(int index) const { return messages_[static_cast<std::size_t>(index)]; }
    bool waitUntilAllSent(std::chrono::seconds patience) const {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (sent() < queued_.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            sleepMicroseconds(2000);
        }
        return true;
    }

private:
    // Channel messages carry their data bytes too (Program Change and Channel Pressure one);
    // of the system messages only Song Position Pointer is sent with any.
    static std::size_t messageLength(std::uint8_t status) {
        if (status == 0xF2) {
            return 3;
        }
        if (status >= 0xF0) {
            return 1;
        }
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    }

    static int process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<ClockSource*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, nframes);
        jack_midi_clear_buffer(buffer);
        const jack_nframes_t start = jack_last_frame_time(self->client_);
        const int queued = self->queued_.load(std::memory_order_acquire);
        int next = self->sent_.load(std::memory_order_relaxed);
        for (; next < queued; ++next) {
            Message& message = self->messages_[static_cast<std::size_t>(next)];
            const auto fromStart = static_cast<std::int32_t>(message.frame - start);
            if (fromStart >= static_cast<std::int32_t>(nframes)) {
                break;
            }
            const jack_nframes_t offset =
                fromStart < 0 ? 0 : static_cast<jack_nframes_t>(fromStart);
            const std::size_t length = messageLength(message.bytes[0]);
            jack_midi_event_write(buffer, offset, message.bytes.data(), length);
            message.frame = start + offset;
        }
        self->sent_.store(next, std::memory_order_release);
        return 0;
    }

    static constexpr int kCapacity = 65536;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::array<Message, kCapacity> messages_{};
    std::atomic<int> queued_{0};
    std::atomic<int> sent_{0};
};

}  // namespace jacktest
