// The JACK connection and the built-in synthesizer's JACK output against a server of the
// test's own: the latency it reports, and a server that goes away and comes back under its
// name.

#include <gtest/gtest.h>

#include <jack/jack.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "JackTestSupport.h"
#include "midi/ClientNames.h"
#include "midi/FluidSynthDriver.h"
#include "midi/JackConnection.h"
#include "midi/JackMidiDriver.h"

namespace {

using jacktest::JackServer;
using jacktest::kPeriod;
using jacktest::Recorder;
using jacktest::sleepMicroseconds;

constexpr const char* kTarget = "recorder:in (JACK)";
constexpr jack_nframes_t kRate = 48000;

class JackOwnServer : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = "glimmerstave-own-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ASSERT_TRUE(server_.start(name_)) << "jackd (package jackd2) did not start";
    }
    void TearDown() override {
        recorder_.reset();
        server_.stop();
    }

    void openRecorder(jack_nframes_t playbackLatency = 0) {
        recorder_ = std::make_unique<Recorder>();
        ASSERT_TRUE(recorder_->open("recorder", playbackLatency));
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

    static std::int64_t framesToUs(jack_nframes_t frames) {
        return std::int64_t{frames} * 1'000'000 / kRate;
    }

    // Whether the synthesizer's outputs are there, each connected to its playback port.
    bool synthPlaysToTheSystem() const {
        const std::string synth = ClientNames::jackClientName(FluidSynthDriver::kJackSuffix);
        const std::array<std::array<const char*, 2>, 2> wanted{
            {{":left", "system:playback_1"}, {":right", "system:playback_2"}}};
        for (const auto& [output, playback] : wanted) {
            jack_client_t* client = recorder_->client();
            jack_port_t* port = jack_port_by_name(client, (synth + output).c_str());
            // Documented for ports of other clients, unlike jack_port_connected_to.
            const char** connections =
                port == nullptr ? nullptr : jack_port_get_all_connections(client, port);
            const bool connected = connections != nullptr &&
                                   std::string(connections[0]) == playback &&
                                   connections[1] == nullptr;
            jack_free(connections);
            if (!connected) {
                return false;
            }
        }
        return true;
    }

    std::string name_;
    JackServer server_;
    std::unique_ptr<Recorder> recorder_;
    JackMidiDriver driver_;
};

TEST_F(JackOwnServer, LatencyIsOnePeriodPlusWhatTheListenerReportsAndFollowsTheListener) {
    openRecorder(1000);
    std::unique_ptr<MidiConnection> connection = driver_.open(kTarget, 0);
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(waitFor([&] { return connection->latencyUs() == framesToUs(kPeriod + 1000); }))
        << connection->latencyUs();

    // A listener that reports none leaves our own period.
    recorder_.reset();
    openRecorder(0);
    EXPECT_TRUE(waitFor([&] { return connection->latencyUs() == framesToUs(kPeriod); }))
        << connection->latencyUs();
}

TEST_F(JackOwnServer, AServerThatRestartsIsFoundAgainAndTheTargetConnectedUnderOurName) {
    openRecorder();
    std::unique_ptr<MidiConnection> connection = driver_.open(kTarget, 0);
    ASSERT_NE(connection, nullptr);
    const std::uint8_t first[3] = {0x90, 60, 100};
    ASSERT_TRUE(connection->send(first));
    ASSERT_TRUE(recorder_->waitForEvents(1));

    // The recorder lives in this process: it goes with the server, as its client would.
    recorder_.reset();
    server_.stop();
    auto* jack = static_cast<JackConnection*>(connection.get());
    // libjack cannot open a client (the server's start-up probe) while another is closed.
    ASSERT_TRUE(waitFor([&] { return jack->lookingForServer(); }));
    const std::uint8_t meanwhile[3] = {0x90, 61, 100};
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(connection->send(meanwhile));
    }

    ASSERT_TRUE(server_.start(name_));
    openRecorder();
    const std::array<std::uint8_t, 3> again{0x90, 62, 100};
    EXPECT_TRUE(waitFor([&] {
        connection->send(again.data());
        return recorder_->count() > 0;
    })) << "the server that came back was not found again";
    ASSERT_GT(recorder_->count(), 0);
    EXPECT_EQ(recorder_->event(0).bytes, again);

    // Same client name as before: patchbays and session managers know it by that.
    const char** sources = jack_port_get_all_connections(
        recorder_->client(), jack_port_by_name(recorder_->client(), "recorder:in"));
    ASSERT_NE(sources, nullptr);
    EXPECT_STREQ(sources[0], "Glimmerstave:out");
    jack_free(sources);
    EXPECT_EQ(jack->serverReturns(), 1);
    EXPECT_EQ(jack->droppedEvents(), 0u);
}

TEST_F(JackOwnServer, TheSynthesizersOutputComesBackConnectedAndSoundingAfterTheServerRestarts) {
    openRecorder();
    FluidSynthDriver::Options options;
    options.audioDrivers = {"jack"};
    FluidSynthDriver driver(options);
    std::unique_ptr<MidiConnection> synth = driver.open("MIDI Mapper", 0);
    ASSERT_TRUE(waitFor([&] { return synthPlaysToTheSystem(); }));

    recorder_.reset();
    server_.stop();
    ASSERT_TRUE(server_.start(name_));
    openRecorder();
    ASSERT_TRUE(waitFor([&] { return synthPlaysToTheSystem(); }))
        << "the synthesizer's output did not come back to the server that restarted";

    // The same synthesizer, its sound font still loaded, plays on the fresh output.
    const std::string left = ClientNames::jackClientName(FluidSynthDriver::kJackSuffix) + ":left";
    ASSERT_EQ(jack_connect(recorder_->client(), left.c_str(), "recorder:audio"), 0);
    const std::uint8_t noteOn[3] = {0x90, 60, 120};
    ASSERT_TRUE(synth->send(noteOn));
    EXPECT_TRUE(waitFor([&] { return recorder_->loudest() >= 0.01f; }));
}

}  // namespace
