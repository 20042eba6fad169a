// End to end through a real JACK server (dummy driver, started and stopped here): a small
// recorder client's MIDI input is listed by name, opened, and receives a run of messages in
// order, each at the frame that matches the moment it was sent plus one period.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Setup.h"
#include "midi/FluidSynthDriver.h"
#include "midi/JackMidiDriver.h"
#include "midi/OutputPort.h"
#include "midi/SystemDrivers.h"

namespace {

constexpr jack_nframes_t kPeriod = 64;

void sleepMicroseconds(long micros) {
    const timespec pause{0, micros * 1000};
    ::nanosleep(&pause, nullptr);
}

// A JACK server of this test's own, under a name no other test uses.
class JackServer {
public:
    bool start(const std::string& name) {
        name_ = name;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, STDOUT_FILENO);
            ::dup2(quiet, STDERR_FILENO);
            ::execlp("jackd", "jackd", "-n", name.c_str(), "-d", "dummy", "-r", "48000", "-p",
                     std::to_string(kPeriod).c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready when a client can connect; it takes about a tenth of a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            jack_status_t status{};
            jack_client_t* probe = jack_client_open(
                "probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                &status, name.c_str());
            if (probe != nullptr) {
                jack_client_close(probe);
                return true;
            }
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            sleepMicroseconds(5000);
        }
        return false;
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
            if (file.rfind("jack_sem.", 0) == 0 && file.find("_" + name_ + "_") != std::string::npos) {
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
    };

    bool open() {
        jack_status_t status{};
        client_ = jack_client_open("recorder", JackNoStartServer, &status);
        if (client_ == nullptr) {
            return false;
        }
        port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        audio_ = jack_port_register(client_, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &Recorder::process, this);
        return port_ != nullptr && audio_ != nullptr && jack_activate(client_) == 0;
    }
    ~Recorder() {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }

    jack_client_t* client() const { return client_; }
    int count() const { return count_.load(std::memory_order_acquire); }
    float loudest() const { return loudest_.load(std::memory_order_acquire); }
    const Event& event(int index) const { return events_[static_cast<std::size_t>(index)]; }

    // When (JACK's microsecond clock) the cycle that starts at `frame` began; 0 when that
    // cycle is not among the last ones seen.
    jack_time_t cycleBegan(jack_nframes_t frame) const {
        const Cycle& cycle = cycles_[(frame / kPeriod) % kCycles];
        return cycle.start.load(std::memory_order_acquire) == frame
                   ? cycle.began.load(std::memory_order_acquire)
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
            cycle.start.store(cycleStart, std::memory_order_release);
        }
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
            ++stored;
        }
        self->count_.store(stored, std::memory_order_release);
        return 0;
    }

    struct Cycle {
        std::atomic<jack_nframes_t> start{0};
        std::atomic<jack_time_t> began{0};
    };

    static constexpr int kCapacity = 1024;
    static constexpr std::size_t kCycles = 8192;  // about ten seconds of cycles
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_port_t* audio_ = nullptr;
    std::atomic<float> loudest_{0.0f};
    std::array<Event, kCapacity> events_{};
    std::atomic<int> count_{0};
    std::array<Cycle, kCycles> cycles_{};
};

class JackEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string name = "glimmerstave-test-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        server_ = new JackServer;
        serverUp_ = server_->start(name);
    }
    static void TearDownTestSuite() {
        server_->stop();
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(serverUp_) << "jackd (package jackd2) did not start";
        recorder_ = std::make_unique<Recorder>();
        ASSERT_TRUE(recorder_->open());
    }

    std::unique_ptr<OutputPort> makePort() {
        OutputPort::Drivers drivers;
        drivers.devices.push_back(std::make_unique<JackMidiDriver>());
        auto port = std::make_unique<OutputPort>(setup_, std::move(drivers));
        port->setShowNote([this](const std::string& text) { notes_.push_back(text); });
        return port;
    }

    bool regularAround(jack_nframes_t sentAt, jack_time_t handedOver) const;

    static JackServer* server_;
    static bool serverUp_;
    std::unique_ptr<Recorder> recorder_;
    ::Setup setup_;
    std::vector<std::string> notes_;
};

JackServer* JackEndToEnd::server_ = nullptr;
bool JackEndToEnd::serverUp_ = false;

TEST_F(JackEndToEnd, TheRecordersInputIsListedByNameBeforeTheMapper) {
    auto port = makePort();
    port->refreshPortTable();
    const PortState& state = setup_.port;
    ASSERT_GE(state.deviceCount, 1);
    const auto begin = state.portNames.begin();
    EXPECT_NE(std::find(begin, begin + state.deviceCount, "recorder:in (JACK)"),
              begin + state.deviceCount);
    EXPECT_EQ(state.portNames[static_cast<std::size_t>(state.deviceCount)], "MIDI Mapper");
    // JACK's own audio ports are not MIDI devices.
    EXPECT_EQ(std::find(begin, begin + state.deviceCount, "system:playback_1 (JACK)"),
              begin + state.deviceCount);
}

TEST_F(JackEndToEnd, ListPortsPrintsTheTableWithTheMapperLast) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(printPortTable(out, makeSystemDrivers()), 0);
    std::rewind(out);
    std::vector<std::string> lines;
    char line[256];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        lines.emplace_back(line);
    }
    std::fclose(out);
    ASSERT_GE(lines.size(), 2u);
    const auto recorder = std::find_if(lines.begin(), lines.end(), [](const std::string& text) {
        return text.ends_with("\trecorder:in (JACK)\n");
    });
    ASSERT_NE(recorder, lines.end());
    EXPECT_EQ(recorder->substr(0, recorder->find('\t')),
              std::to_string(recorder - lines.begin()));
    EXPECT_EQ(lines.back(), std::to_string(lines.size() - 1) + "\tMIDI Mapper\n");
}

// The dummy driver keeps time with a timer. On a busy machine it sometimes wakes late and
// then runs cycles back to back to catch up, and JACK's frame-time estimate jumps meanwhile;
// a message sent then cannot be judged against the frame clock. A send counts when the
// cycles around it began one period apart and it was handed over before its cycle began.
bool JackEndToEnd::regularAround(jack_nframes_t sentAt, jack_time_t handedOver) const {
    const jack_nframes_t start = sentAt - sentAt % kPeriod;
    const double periodMicros = 1e6 * kPeriod / 48000.0;
    jack_time_t previous = 0;
    for (int cycle = -1; cycle <= 2; ++cycle) {
        const jack_time_t began =
            recorder_->cycleBegan(start + static_cast<jack_nframes_t>(cycle * static_cast<int>(kPeriod)));
        if (began == 0) {
            return false;
        }
        if (previous != 0) {
            const double gap = static_cast<double>(began - previous);
            if (gap < 0.75 * periodMicros || gap > 1.25 * periodMicros) {
                return false;
            }
        }
        previous = began;
    }
    return handedOver < recorder_->cycleBegan(start + kPeriod);
}

TEST_F(JackEndToEnd, MessagesArriveInOrderOnePeriodAfterTheyWereSent) {
    auto port = makePort();
    port->refreshPortTable();
    port->selectPortByName("recorder:in (JACK)");
    ASSERT_NE(setup_.port.handle, 0) << "the recorder's input did not open";
    ASSERT_TRUE(notes_.empty());
    ASSERT_EQ(jack_get_buffer_size(recorder_->client()), kPeriod);

    // Sends at uneven moments, a few of them back to back, so they fall anywhere in a period.
    // Like the program's clock thread, the sender runs at real-time priority where allowed,
    // so a busy machine does not hold it between reading the time and sending.
    constexpr int kCount = 60;
    // The moment of each send lies between these two readings of JACK's frame time.
    std::array<jack_nframes_t, kCount> before{};
    std::array<jack_nframes_t, kCount> after{};
    std::array<jack_time_t, kCount> handedOver{};
    std::thread sender([&] {
        sched_param priority{};
        priority.sched_priority = 20;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
        for (int i = 0; i < kCount; ++i) {
            if (i % 7 != 3) {
                sleepMicroseconds(900 + (i * 137) % 1100);
            }
            before[static_cast<std::size_t>(i)] = jack_frame_time(recorder_->client());
            port->sendShort(0x90, 30 + i, 1 + i);
            after[static_cast<std::size_t>(i)] = jack_frame_time(recorder_->client());
            handedOver[static_cast<std::size_t>(i)] = jack_get_time();
        }
    });
    sender.join();
    ASSERT_TRUE(recorder_->waitForEvents(kCount)) << recorder_->count() << " arrived";
    ASSERT_EQ(recorder_->count(), kCount);

    int excused = 0;
    for (int i = 0; i < kCount; ++i) {
        const Recorder::Event& event = recorder_->event(i);
        ASSERT_EQ(event.size, 3u) << i;
        EXPECT_EQ(event.bytes, (std::array<std::uint8_t, 3>{0x90, static_cast<std::uint8_t>(30 + i),
                                                             static_cast<std::uint8_t>(1 + i)}))
            << "message " << i << " out of order";
        // Frame times wrap around: compare differences.
        const auto early = static_cast<std::int32_t>(
            event.frame - (before[static_cast<std::size_t>(i)] + kPeriod));
        const auto late = static_cast<std::int32_t>(
            event.frame - (after[static_cast<std::size_t>(i)] + kPeriod));
        if (!regularAround(before[static_cast<std::size_t>(i)],
                           handedOver[static_cast<std::size_t>(i)])) {
            ++excused;
            continue;
        }
        EXPECT_GE(early, -1) << "message " << i << " came " << -early << " frames early";
        EXPECT_LE(late, 1) << "message " << i << " came " << late << " frames late";
    }
    std::printf("%d of %d sends fell into irregular cycles\n", excused, kCount);
    EXPECT_LE(excused, kCount / 4) << "the server's cycles were too irregular to judge";
}

TEST_F(JackEndToEnd, OnlyTheBytesOfTheMessageReachTheWireEachDataByteInSevenBits) {
    auto port = makePort();
    port->refreshPortTable();
    port->selectPortByName("recorder:in (JACK)");
    ASSERT_NE(setup_.port.handle, 0);
    port->sendShort(0x90, 60, 300);  // velocity byte 44
    port->sendShort(0x90, 60, 200);  // 0xC8 would start a program change on the wire
    port->sendShort(0xC3, 0x1FF, 99);  // a program change has one data byte
    port->sendShort(0xF0, 1, 2);  // no system exclusive from a short message
    port->sendShort(0xF8, 1, 2);  // a clock tick is one byte
    ASSERT_TRUE(recorder_->waitForEvents(4));
    ASSERT_EQ(recorder_->count(), 4);
    const auto bytesOf = [&](int i) {
        const Recorder::Event& event = recorder_->event(i);
        return std::vector<std::uint8_t>(event.bytes.begin(), event.bytes.begin() +
                                                                  static_cast<long>(event.size));
    };
    EXPECT_EQ(bytesOf(0), (std::vector<std::uint8_t>{0x90, 60, 44}));
    EXPECT_EQ(bytesOf(1), (std::vector<std::uint8_t>{0x90, 60, 0x48}));
    EXPECT_EQ(bytesOf(2), (std::vector<std::uint8_t>{0xC3, 0x7F}));
    EXPECT_EQ(bytesOf(3), (std::vector<std::uint8_t>{0xF8}));
}

TEST_F(JackEndToEnd, ADeviceThatWentAwayFailsToOpen) {
    auto port = makePort();
    port->refreshPortTable();
    recorder_.reset();
    port->selectPortByName("recorder:in (JACK)");
    EXPECT_EQ(setup_.port.handle, 0);
    EXPECT_EQ(setup_.portOpenedHere, 0);
}

}  // namespace

namespace {

TEST_F(JackEndToEnd, TheMapperSoundsThroughTheJackServerWhenOneRuns) {
    const auto candidates = FluidSynthDriver::defaultAudioDrivers();
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), "jack"), candidates.end());

    FluidSynthDriver::Options options;
    options.audioDrivers = {"jack"};
    FluidSynthDriver driver(options);
    std::unique_ptr<MidiConnection> synth = driver.open("MIDI Mapper", 0);
    ASSERT_NE(synth, nullptr) << driver.lastError();

    const char** outputs =
        jack_get_ports(recorder_->client(), "^fluidsynth", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    ASSERT_NE(outputs, nullptr);
    ASSERT_EQ(jack_connect(recorder_->client(), outputs[0], "recorder:audio"), 0);
    jack_free(outputs);

    EXPECT_LT(recorder_->loudest(), 0.001f);
    const std::uint8_t noteOn[3] = {0x90, 60, 120};
    ASSERT_TRUE(synth->send(noteOn));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorder_->loudest() < 0.01f && std::chrono::steady_clock::now() < deadline) {
        sleepMicroseconds(1000);
    }
    EXPECT_GE(recorder_->loudest(), 0.01f);
}

}  // namespace
