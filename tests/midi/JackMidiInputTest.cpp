// The MIDI input on a JACK server of the test's own: a source client of the test's own sends
// scripted events (a clock run among garbage, then a flood), and the sink must get every
// message that means something, on the frames the source wrote them to; the source is
// connected again after it goes away and comes back, and after the server restarts.

#include <gtest/gtest.h>

#include <memory>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "JackTestSupport.h"
#include "MidiInputTestSupport.h"
#include "midi/ClientNames.h"
#include "midi/ClockCalibration.h"
#include "midi/JackMidiDriver.h"
#include "midi/JackMidiInput.h"
#include "midi/MidiInput.h"

namespace {

using inputtest::Bytes;
using inputtest::RecordingSink;
using jacktest::JackServer;
using jacktest::sleepMicroseconds;

constexpr const char* kSource = "source:out (JACK)";
// One frame at 48 kHz, rounded up: the sink's time must name the frame the source wrote to.
constexpr std::int64_t kFrameUs = 21;
// A long period: fewer cycles for a loaded machine to miss.
constexpr jack_nframes_t kPeriod = 1024;

// Raw JACK events for the source to write, and the messages the sink should make of them.
struct Script {
    struct Packet {
        int cycle;
        jack_nframes_t offset;
        Bytes bytes;
    };
    struct Expected {
        Bytes message;
        int packet;
    };
    void add(int cycle, jack_nframes_t offset, Bytes bytes, std::vector<Bytes> yields = {}) {
        for (const Bytes& message : yields) {
            expected.push_back({message, static_cast<int>(packets.size())});
        }
        packets.push_back({cycle, offset, std::move(bytes)});
    }
    std::vector<Packet> packets;
    std::vector<Expected> expected;
};

// A JACK client "source" with a MIDI output "out" that plays a script, one cycle of the
// script per process cycle, and notes for each packet the frame it went to and that frame's
// time in the engine's time base.
class ScriptedSource {
public:
    bool open() {
        jack_status_t status{};
        client_ = jack_client_open("source", JackNoStartServer, &status);
        if (client_ == nullptr) {
            return false;
        }
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &ScriptedSource::process, this);
        jack_set_xrun_callback(client_, &ScriptedSource::xrun, this);
        return port_ != nullptr && jack_activate(client_) == 0;
    }
    void close() {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~ScriptedSource() { close(); }

    // Plays the script from the next cycle on; returns once all of it went out.
    bool play(const Script& script) {
        script_ = &script;
        times_.assign(script.packets.size(), 0);
        next_ = 0;
        cycle_ = 0;
        playing_.store(true, std::memory_order_release);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (playing_.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            sleepMicroseconds(2000);
        }
        return written_;
    }
    std::int64_t timeOf(int packet) const { return times_[static_cast<std::size_t>(packet)]; }
    // Cycles the server missed (a loaded machine, the dummy driver without real-time rights).
    int xruns() const { return xruns_.load(std::memory_order_acquire); }

private:
    static int xrun(void* arg) {
        static_cast<ScriptedSource*>(arg)->xruns_.fetch_add(1, std::memory_order_acq_rel);
        return 0;
    }

    static int process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<ScriptedSource*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, nframes);
        jack_midi_clear_buffer(buffer);
        if (self->playing_.load(std::memory_order_acquire)) {
            self->writeCycle(buffer);
        }
        return 0;
    }

    void writeCycle(void* buffer) {
        const std::vector<Script::Packet>& packets = script_->packets;
        const jack_nframes_t start = jack_last_frame_time(client_);
        bool ok = true;
        for (; next_ < packets.size() && packets[next_].cycle <= cycle_; ++next_) {
            const Script::Packet& packet = packets[next_];
            ok = ok && jack_midi_event_write(buffer, packet.offset, packet.bytes.data(),
                                             packet.bytes.size()) == 0;
            times_[next_] =
                static_cast<std::int64_t>(jack_frames_to_time(client_, start + packet.offset)) +
                engineMinusJackUs();
        }
        ++cycle_;
        if (next_ == packets.size()) {
            written_ = ok;
            playing_.store(false, std::memory_order_release);
        }
    }

    // As the input reads the two clocks, taken independently here.
    static std::int64_t engineMinusJackUs() {
        std::int64_t best = 0;
        jack_time_t bestSpan = ~jack_time_t{0};
        for (int attempt = 0; attempt < 3; ++attempt) {
            const jack_time_t before = jack_get_time();
            const std::int64_t engineUs = ClockCalibration::monotonicNs() / 1000;
            const jack_time_t span = jack_get_time() - before;
            if (span < bestSpan) {
                bestSpan = span;
                best = engineUs - static_cast<std::int64_t>(before + span / 2);
            }
        }
        return best;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    const Script* script_ = nullptr;
    std::vector<std::int64_t> times_;
    std::size_t next_ = 0;
    int cycle_ = 0;
    bool written_ = false;
    std::atomic<bool> playing_{false};
    std::atomic<int> xruns_{0};
};

// Plays a script in the test body: a failed or skipped check ends the test.
#define PLAY_AND_CHECK(script)                         \
    do {                                               \
        ASSERT_NO_FATAL_FAILURE(playAndCheck(script)); \
        if (IsSkipped()) {                             \
            return;                                    \
        }                                              \
    } while (false)

class JackInput : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = "glimmerstave-input-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ASSERT_TRUE(server_.start(name_, kPeriod)) << "jackd (package jackd2) did not start";
        ASSERT_TRUE(source_.open());
        input_->setSink(&sink_);
        input_->open();
        ASSERT_TRUE(waitFor([&] { return input_->jack()->clientOpen(); }));
    }
    void TearDown() override {
        // Closed while its server runs: libjack may hang closing a client whose server has
        // gone and whose semaphores the server's stop removed.
        input_.reset();
        source_.close();
        server_.stop();
    }

    template <typename Done>
    static bool waitFor(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            sleepMicroseconds(2000);
        }
        return true;
    }

    // Plays the script and checks that the sink got exactly the messages expected, each at
    // the time of the frame its packet went to. A server that misses cycles (the dummy driver
    // on a loaded machine has no real-time rights) may drop a cycle's events or read them a
    // cycle late, whatever the input does: such an attempt is played again.
    void playAndCheck(const Script& script) {
        for (int attempt = 1;; ++attempt) {
            const int first = sink_.count();
            const int xruns = source_.xruns();
            ASSERT_TRUE(source_.play(script));
            const int wanted = first + static_cast<int>(script.expected.size());
            const bool arrived = waitFor([&] { return sink_.count() >= wanted; });
            if (source_.xruns() == xruns) {
                ASSERT_TRUE(arrived) << sink_.count() - first << " of " << script.expected.size();
                checkReceived(script, first);
                return;
            }
            if (attempt == kAttempts) {
                GTEST_SKIP() << "the server missed cycles in " << kAttempts << " attempts";
            }
        }
    }

    void checkReceived(const Script& script, int first) {
        ASSERT_EQ(sink_.count(), first + static_cast<int>(script.expected.size()));
        for (std::size_t i = 0; i < script.expected.size(); ++i) {
            const int index = first + static_cast<int>(i);
            const RecordingSink::Message& got = sink_.at(index);
            const Script::Expected& expected = script.expected[i];
            ASSERT_EQ(got.data(), expected.message) << "message " << i;
            ASSERT_NEAR(got.timeUs, source_.timeOf(expected.packet), kFrameUs) << "message " << i;
            if (i > 0) {
                ASSERT_GE(got.timeUs, sink_.at(index - 1).timeUs) << "message " << i;
            }
        }
    }

    static constexpr int kAttempts = 3;

    static Script clockRun(int cycles) {
        Script script;
        script.add(0, 0, {0xFA}, {{0xFA}});
        for (int cycle = 0; cycle < cycles; ++cycle) {
            script.add(cycle, static_cast<jack_nframes_t>(cycle * 5 % 64 + 1), {0xF8}, {{0xF8}});
        }
        return script;
    }

    std::string name_;
    JackServer server_;
    ScriptedSource source_;
    RecordingSink sink_;
    std::unique_ptr<MidiInput> input_ = std::make_unique<MidiInput>();
};

TEST_F(JackInput, ReceivesOnTheSourcesFramesFollowsTheSourceAndSurvivesAFlood) {
    // Our own ports are neither sources nor outputs to offer; the test's source is a source.
    EXPECT_EQ(JackMidiDriver().listDevices(), std::vector<std::string>{});
    {
        auto own = JackMidiDriver().open(ClientNames::jackClientName(" input:in (JACK)"), 0);
        ASSERT_NE(own, nullptr);
        const std::vector<std::string> sources = MidiInput::listSources();
        EXPECT_EQ(sources, std::vector<std::string>{kSource});
    }
    input_->setSource(kSource);
    ASSERT_TRUE(waitFor([&] { return input_->sourceConnected(); }));

    // A clock run with Song Position and Continue, among System Exclusive, undefined bytes,
    // active sensing, running status carried from one event to the next, and a message that
    // a real-time byte splits over three events.
    Script run = clockRun(12);
    run.add(13, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    run.add(13, 2, {0x90, 0x3C, 0x64}, {{0x90, 0x3C, 0x64}});
    run.add(13, 3, {0x3E, 0x64}, {{0x90, 0x3E, 0x64}});
    run.add(13, 4, {0xF4, 0x12, 0x34});
    run.add(13, 5, {0x3E, 0x00});
    run.add(13, 6, {0xFE}, {{0xFE}});
    run.add(13, 7, {0xF9, 0xFD});
    run.add(14, 3, {0xFC}, {{0xFC}});
    run.add(14, 4, {0xF2, 0x08, 0x00}, {{0xF2, 0x08, 0x00}});
    run.add(15, 0, {0x90, 0x40});
    run.add(15, 1, {0xF8}, {{0xF8}});
    run.add(15, 2, {0x7F}, {{0x90, 0x40, 0x7F}});
    run.add(16, 40, {0xFB}, {{0xFB}});
    run.add(16, 63, {0xF8}, {{0xF8}});
    PLAY_AND_CHECK(run);

    // The source goes away and comes back under its name.
    source_.close();
    ASSERT_TRUE(waitFor([&] { return !input_->sourceConnected(); }));
    ASSERT_TRUE(source_.open());
    ASSERT_TRUE(waitFor([&] { return input_->sourceConnected(); }));
    PLAY_AND_CHECK(clockRun(3));

    // About 12,000 packets a second for a second, a clock in each period among them: nothing
    // is lost. Running status, active sensing, System Exclusive (which ends running status)
    // and stray data bytes, over and over.
    Bytes sysex(18, 0x55);
    sysex.front() = 0xF0;
    sysex.back() = 0xF7;
    const std::vector<std::pair<Bytes, std::vector<Bytes>>> garbage{
        {{0x90, 0x40, 0x7F}, {{0x90, 0x40, 0x7F}}},
        {{0x40, 0x00}, {{0x90, 0x40, 0x00}}},
        {{0xFE}, {{0xFE}}},
        {sysex, {}},
        {{0x12, 0x34}, {}}};
    Script flood;
    for (int cycle = 0; cycle < 47; ++cycle) {
        for (int k = 0; k < 256; ++k) {
            const auto& [bytes, yields] = garbage[static_cast<std::size_t>(cycle * 256 + k) % 5];
            flood.add(cycle, static_cast<jack_nframes_t>(k * 4), bytes, yields);
            if (k == cycle * 37 % 256) {
                flood.add(cycle, static_cast<jack_nframes_t>(k * 4 + 1), {0xF8}, {{0xF8}});
            }
        }
    }
    PLAY_AND_CHECK(flood);

    // The server restarts: the input opens again and connects the source once it is back.
    source_.close();
    server_.stop();
    ASSERT_TRUE(waitFor([&] { return !input_->jack()->clientOpen(); }));
    ASSERT_TRUE(server_.start(name_, kPeriod));
    ASSERT_TRUE(source_.open());
    ASSERT_TRUE(waitFor([&] { return input_->sourceConnected(); }));
    EXPECT_EQ(input_->jack()->opens(), 2);
    PLAY_AND_CHECK(clockRun(3));
}

}  // namespace
