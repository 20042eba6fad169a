#pragma once

// Two copies of the program with Link on, each playing to its own MIDI input of a recorder
// client on a JACK server (dummy driver) of the rig's own, every copy with its own user folders
// and instance bus, so that only the Link session ties them together. Shared by the end-to-end
// test and the phase benchmark; the caller brings the Link peer that leads the session.

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/Setup.h"
#include "document/SetupFile.h"

namespace LinkRig {

inline void pauseMs(int ms) {
    const timespec pause{ms / 1000, (ms % 1000) * 1'000'000L};
    ::nanosleep(&pause, nullptr);
}

// Polls done() every 5 ms until it holds or timeoutMs passed.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pauseMs(5);
    }
    return true;
}

// A MIDI input that notes every event with its absolute frame time; real-time safe.
class Input {
public:
    static constexpr int kCapacity = 1 << 16;
    struct Event {
        jack_nframes_t frame = 0;
        // When it was sent, on JACK's microsecond clock: a message goes out one period after
        // its sending, at the frame the sender's frame time gave. Mapped with the cycle's own
        // times, which hold for this cycle only (the dummy driver's rate is not exact).
        std::int64_t sentUs = 0;
        std::array<std::uint8_t, 3> bytes{};
    };

    int count() const { return count_.load(std::memory_order_acquire); }
    const Event& event(int i) const { return events_[static_cast<std::size_t>(i)]; }
    // Frames of the note-ons (velocity > 0) so far.
    std::vector<jack_nframes_t> noteOnFrames() const {
        std::vector<jack_nframes_t> frames;
        for (const Event& e : noteOns()) {
            frames.push_back(e.frame);
        }
        return frames;
    }
    std::vector<Event> noteOns() const {
        std::vector<Event> found;
        for (int i = 0, n = count(); i < n; ++i) {
            const Event& e = event(i);
            if ((e.bytes[0] & 0xF0) == 0x90 && e.bytes[2] > 0) {
                found.push_back(e);
            }
        }
        return found;
    }
    // Whether an All Notes Off came, and how many note-ons came after the last one.
    bool allNotesOff(int* noteOnsAfter) const {
        int last = -1;
        const int n = count();
        for (int i = 0; i < n; ++i) {
            const Event& e = event(i);
            if ((e.bytes[0] & 0xF0) == 0xB0 && e.bytes[1] == 123) {
                last = i;
            }
        }
        if (noteOnsAfter != nullptr) {
            *noteOnsAfter = 0;
            for (int i = last + 1; last >= 0 && i < n; ++i) {
                *noteOnsAfter += (event(i).bytes[0] & 0xF0) == 0x90 && event(i).bytes[2] > 0;
            }
        }
        return last >= 0;
    }

    jack_port_t* port = nullptr;

    void record(jack_client_t* client, jack_nframes_t cycleStart, jack_nframes_t nframes) {
        jack_nframes_t currentFrames = 0;
        jack_time_t currentUs = 0;
        jack_time_t nextUs = 0;
        float periodUs = 0.0f;
        jack_get_cycle_times(client, &currentFrames, &currentUs, &nextUs, &periodUs);
        const double usPerFrame = static_cast<double>(nextUs - currentUs) / nframes;
        void* buffer = jack_port_get_buffer(port, nframes);
        const std::uint32_t events = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < events; ++i) {
            jack_midi_event_t in{};
            const int n = count_.load(std::memory_order_relaxed);
            if (jack_midi_event_get(&in, buffer, i) != 0 || n >= kCapacity) {
                continue;
            }
            Event& e = events_[static_cast<std::size_t>(n)];
            e.frame = cycleStart + in.time;
            e.sentUs =
                static_cast<std::int64_t>(currentUs) +
                static_cast<std::int64_t>((in.time - static_cast<double>(nframes)) * usPerFrame);
            for (std::size_t b = 0; b < 3 && b < in.size; ++b) {
                e.bytes[b] = in.buffer[b];
            }
            count_.store(n + 1, std::memory_order_release);
        }
    }

private:
    std::vector<Event> events_ = std::vector<Event>(kCapacity);
    std::atomic<int> count_{0};
};

class Rig {
public:
    static constexpr jack_nframes_t kPeriod = 256;
    static constexpr jack_nframes_t kRate = 48000;

    // program: the glimmerstave executable. False (and why in error) when the server or the
    // recorder does not come up.
    bool start(const std::string& program, std::string& error) {
        program_ = program;
        char pattern[] = "/tmp/glimmerstave-link-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            error = "no temporary folder";
            return false;
        }
        work_ = pattern;
        server_ = "glimmerstave-link-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", server_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        // Every probe before the server is up would print why it failed.
        jack_set_error_function([](const char*) {});
        jackd_ = spawn({"jackd", "-n", server_, "-d", "dummy", "-r", std::to_string(kRate), "-p",
                        std::to_string(kPeriod)},
                       {}, work_ + "/jackd.log");
        const bool up = waitFor(
            [&] {
                jack_status_t status{};
                client_ = jack_client_open("recorder", JackNoStartServer, &status);
                return client_ != nullptr;
            },
            10000);
        if (!up) {
            error = "the JACK server did not start";
            return false;
        }
        a.port = jack_port_register(client_, "a", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        b.port = jack_port_register(client_, "b", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &Rig::process, this);
        if (a.port == nullptr || b.port == nullptr || jack_activate(client_) != 0) {
            error = "the recorder did not start";
            return false;
        }
        return true;
    }

    // Starts a copy (with --link unless told otherwise) playing a setup of 16 sounding steps
    // to input "a" or "b".
    void startCopy(const std::string& input,
                   const std::vector<std::string>& options = {"--link"}) {
        const std::string home = work_ + "/" + input;
        for (const char* sub : {"", "/runtime", "/config", "/data"}) {
            ::mkdir((home + sub).c_str(), 0700);
        }
        ::Setup setup;
        setup.port.portName = "recorder:" + input + " (JACK)";
        setup.port.channel = 1;
        setup.volume = 100;
        setup.mute = 0;
        setup.stepsPerMeasure = 16;
        setup.selectedMeasure = 0;
        for (Step& step : setup.measures[0].steps) {
            step = Step();
            step.on = 1;
            step.setNotes(IntArray{0});
            step.velocity = 100;
            step.duration = 1;
        }
        const std::string file = home + "/link.qov";
        SetupFile::save(file, setup, 0, 0, 0);
        std::vector<std::string> args{program_};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(file);
        copies_.push_back(
            spawn(args,
                  {"XDG_RUNTIME_DIR=" + home + "/runtime", "XDG_CONFIG_HOME=" + home + "/config",
                   "XDG_DATA_HOME=" + home + "/data", "QT_QPA_PLATFORM=offscreen"},
                  home + "/app.log"));
    }

    // Both inputs have a copy's output connected.
    bool copiesConnected() const {
        return jack_port_connected(a.port) > 0 && jack_port_connected(b.port) > 0;
    }

    jack_client_t* client() const { return client_; }
    double framesToUs(double frames) const { return frames * 1e6 / kRate; }
    const std::string& work() const { return work_; }
    // What the copies printed, for a failure message.
    std::string copyLogs() const {
        std::string text;
        for (const char* input : {"a", "b"}) {
            std::ifstream in(work_ + "/" + input + "/app.log");
            text += std::string("--- copy ") + input + ":\n" +
                    std::string(std::istreambuf_iterator<char>(in), {});
        }
        return text;
    }

    // Ends the copies (SIGTERM), the recorder and the server.
    void stop() {
        for (const pid_t copy : copies_) {
            end(copy);
        }
        copies_.clear();
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
            client_ = nullptr;
        }
        end(jackd_);
        jackd_ = -1;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("jack_sem.", 0) == 0 &&
                name.find("_" + server_ + "_") != std::string::npos) {
                std::filesystem::remove(entry.path(), ignored);
            }
        }
        if (!work_.empty() && !keepWork && std::getenv("GLIMMERSTAVE_KEEP_RIG") == nullptr) {
            std::filesystem::remove_all(work_, ignored);
        }
    }
    ~Rig() { stop(); }

    Input a;
    Input b;
    bool keepWork = false;

private:
    static int process(jack_nframes_t nframes, void* arg) {
        auto* rig = static_cast<Rig*>(arg);
        const jack_nframes_t start = jack_last_frame_time(rig->client_);
        rig->a.record(rig->client_, start, nframes);
        rig->b.record(rig->client_, start, nframes);
        return 0;
    }

    static pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::string& logPath) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            for (const std::string& setting : env) {
                ::putenv(const_cast<char*>(setting.c_str()));
            }
            std::vector<char*> argv;
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }

    static void end(pid_t pid) {
        if (pid <= 0) {
            return;
        }
        ::kill(pid, SIGTERM);
        if (!waitFor([pid] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, 5000)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    std::string program_;
    std::string work_;
    std::string server_;
    pid_t jackd_ = -1;
    std::vector<pid_t> copies_;
    jack_client_t* client_ = nullptr;
};

}  // namespace LinkRig
