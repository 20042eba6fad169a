// Where the program's threads meet: two engines, each with its own step clock, owner of time and
// JACK output port, share a Link session and play to a recorder on a JACK server of the test's
// own, while the window thread changes the tempo. Built with ThreadSanitizer by `make sanitize`
// (the clock thread, JACK's process thread, Link's threads and the window thread all run here);
// in the plain build it checks that both copies sound through the shared session.

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/Player.h"
#include "core/PlayerHost.h"
#include "core/Setup.h"
#include "midi/JackMidiDriver.h"
#include "midi/OutputPort.h"
#include "midi/StepClock.h"
#include "sync/TimeKeeper.h"
#include "../midi/JackTestSupport.h"

namespace {

constexpr int kDeadlineMs = 10'000;

// One copy of the engine without a window: the clock thread only counts what it posts.
class Engine : public PlayerHost {
public:
    Engine() : port_(setup_, drivers()), time_(player_, setup_, clock_) {
        clock_.configure(1, player_);
        player_.init(*this, setup_, clock_, port_);
        port_.selectPortByName("recorder:in (JACK)");
    }
    ~Engine() override { time_.leave(); }

    void postMessage(int, std::intptr_t, std::intptr_t) override {
        posted_.fetch_add(1, std::memory_order_relaxed);
    }
    int broadcastToInstances(int, std::intptr_t, std::intptr_t) override { return 0; }
    void setStepColumnLit(int, bool) override {}
    void markPlayingMeasure(int) override {}
    void showPlayReleased() override {}
    void showStatus(const std::string&) override {}

    // As the tempo dial does it.
    void setBpm(double bpm) {
        time_.setTempo(bpm);
        {
            std::lock_guard guard(player_.engineLock());
            setup_.bpm = bpm;
        }
        player_.onTempoChanged();
    }

    Setup& setup() { return setup_; }
    Player& player() { return player_; }
    TimeKeeper& time() { return time_; }

private:
    static OutputPort::Drivers drivers() {
        OutputPort::Drivers result;
        result.devices.push_back(std::make_unique<JackMidiDriver>());
        return result;
    }

    Setup setup_;
    OutputPort port_;
    Player player_;
    StepClock clock_{StepClock::Options{0, 0, 1500, false, 0}};
    TimeKeeper time_;
    std::atomic<int> posted_{0};
};

class ThreadsMeet : public testing::Test {
protected:
    void SetUp() override {
        const std::string name = "glimmerstave-threads-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ASSERT_TRUE(server_.start(name, 256)) << "jackd (package jackd2) did not start";
        ASSERT_TRUE(recorder_.open());
    }
    void TearDown() override {
        recorder_.close();
        server_.stop();
        ::unsetenv("JACK_DEFAULT_SERVER");
    }

    jacktest::JackServer server_;
    jacktest::Recorder recorder_;
};

TEST_F(ThreadsMeet, TwoEnginesPlayThroughOneLinkSessionAndOneJackServer) {
    Engine a;
    Engine b;
    for (Engine* engine : {&a, &b}) {
        for (Step& step : engine->setup().measures[0].steps) {
            step.on = 1;
        }
        engine->time().setLinkEnabled(true);
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return a.time().peerCount() >= 1 && b.time().peerCount() >= 1; }, kDeadlineMs))
        << "the two engines did not find each other";
    a.setBpm(240.0);
    a.time().toggle(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.player().isRunning(); }, kDeadlineMs))
        << "a's start did not reach b";
    const int before = recorder_.count();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder_.count() > before + 40; }, kDeadlineMs));
    // Tempo changes from the window thread while both clock threads play.
    for (double bpm : {180.0, 300.0, 200.0}) {
        b.setBpm(bpm);
        const int now = recorder_.count();
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder_.count() > now + 20; }, kDeadlineMs));
    }
    b.time().toggle(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.player().isRunning(); }, kDeadlineMs))
        << "b's stop did not reach a";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
