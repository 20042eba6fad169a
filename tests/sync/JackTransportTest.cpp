// The transport timeline on a JACK server of the test's own (dummy driver, 256-frame cycles),
// driven by a timebase master of the test's own, and played by the test as the engine's clock
// thread would play it: each step when its due time comes, its frame worked out from the due
// time as the JACK output does. Frame placement is exact on JACK's frame clock, so the checks
// hold on a loaded machine; only the waits have deadlines.

#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/transport.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../midi/JackTestSupport.h"
#include "core/StepTimer.h"
#include "sync/JackTransportTimeline.h"

namespace {

using jacktest::JackServer;
using jacktest::sleepMicroseconds;

constexpr jack_nframes_t kPeriod = 256;
constexpr double kRate = 48000.0;
constexpr auto kPatience = std::chrono::seconds(10);

bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        sleepMicroseconds(500);
    }
    return true;
}

// The engine's time base: CLOCK_MONOTONIC, as the step clock's without its counter.
class MonotonicTimer : public StepTimer {
public:
    void startTimer() override {}
    void stopTimer() override {}
    void wake() override { wakes_.fetch_add(1); }
    std::int64_t nowUs() const override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    }
    std::int32_t cyclesPerMs() const override { return 0; }
    int wakes() const { return wakes_.load(); }

private:
    std::atomic<int> wakes_{0};
};

// A timebase master in 4/4 whose tempo map runs at 120 BPM and turns to 150 BPM at
// kChangeFrame, in the middle of a bar, the beats running on; it gives the tick's fraction too.
// Notes the JACK frame at which transport frame 0 lies, as seen rolling.
class TempoMapMaster {
public:
    static constexpr std::int64_t kChangeFrame = 127200;  // beat 5.3: bar 2, beat 2

    static double beatsAt(std::int64_t frame) {
        if (frame < kChangeFrame) {
            return static_cast<double>(frame) * 120.0 / 60.0 / kRate;
        }
        return beatsAt(kChangeFrame - 1) + 120.0 / 60.0 / kRate +
               static_cast<double>(frame - kChangeFrame) * 150.0 / 60.0 / kRate;
    }
    static double frameOfBeats(double beats) {
        const double changeBeats = beatsAt(kChangeFrame);
        if (beats < changeBeats) {
            return beats * kRate * 60.0 / 120.0;
        }
        return static_cast<double>(kChangeFrame) + (beats - changeBeats) * kRate * 60.0 / 150.0;
    }

    bool open() {
        jack_status_t status{};
        client_ = jack_client_open("master", JackNoStartServer, &status);
        return client_ != nullptr &&
               jack_set_process_callback(client_, &TempoMapMaster::process, this) == 0 &&
               jack_set_timebase_callback(client_, 0, &TempoMapMaster::supply, this) == 0 &&
               jack_activate(client_) == 0;
    }
    ~TempoMapMaster() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }
    jack_client_t* client() const { return client_; }
    bool rolled() const { return rolled_.load(); }
    std::int64_t zeroFrame() const { return zeroFrame_.load(); }
    jack_nframes_t firstRollingCycle() const { return firstRolling_.load(); }
    std::uint32_t transportFrame() const { return transportFrame_.load(); }

private:
    static int process(jack_nframes_t, void* arg) {
        auto* self = static_cast<TempoMapMaster*>(arg);
        jack_position_t position{};
        if (jack_transport_query(self->client_, &position) == JackTransportRolling) {
            const jack_nframes_t cycle = jack_last_frame_time(self->client_);
            if (!self->rolled_.load()) {
                self->firstRolling_.store(cycle);
            }
            self->zeroFrame_.store(static_cast<std::int64_t>(cycle) - position.frame);
            self->transportFrame_.store(position.frame);
            self->rolled_.store(true);
        }
        return 0;
    }
    static void supply(jack_transport_state_t, jack_nframes_t, jack_position_t* position, int,
                       void*) {
        const double beats = beatsAt(position->frame);
        const double whole = std::floor(beats);
        const auto beat = static_cast<std::int32_t>(whole);
        position->valid = static_cast<jack_position_bits_t>(JackPositionBBT | JackTickDouble);
        position->bar = beat / 4 + 1;
        position->beat = beat % 4 + 1;
        position->tick_double = (beats - whole) * 1920.0;
        position->tick = static_cast<std::int32_t>(position->tick_double);
        position->beats_per_bar = 4;
        position->beat_type = 4;
        position->ticks_per_beat = 1920;
        position->beats_per_minute = position->frame < kChangeFrame ? 120 : 150;
        position->bar_start_tick = (position->bar - 1) * 4 * 1920.0;
    }

    jack_client_t* client_ = nullptr;
    std::atomic<bool> rolled_{false};
    std::atomic<std::int64_t> zeroFrame_{0};
    std::atomic<jack_nframes_t> firstRolling_{0};
    std::atomic<std::uint32_t> transportFrame_{0};
};

// Notes the beat, tempo and transport frame that the timebase master gives, cycle by cycle,
// while the transport rolls.
class BeatWatcher {
public:
    struct Cycle {
        std::uint32_t frame;
        double beats;
        double beatsPerMinute;
    };

    bool open() {
        jack_status_t status{};
        client_ = jack_client_open("watcher", JackNoStartServer, &status);
        return client_ != nullptr &&
               jack_set_process_callback(client_, &BeatWatcher::process, this) == 0 &&
               jack_activate(client_) == 0;
    }
    ~BeatWatcher() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }
    int count() const { return count_.load(); }
    const Cycle& cycle(int index) const { return cycles_[static_cast<std::size_t>(index)]; }
    bool sawFrameFrom(std::uint32_t frame) const {
        const int seen = count();
        return seen > 0 && cycle(seen - 1).frame >= frame;
    }

private:
    static int process(jack_nframes_t, void* arg) {
        auto* self = static_cast<BeatWatcher*>(arg);
        jack_position_t position{};
        const int seen = self->count_.load();
        if (jack_transport_query(self->client_, &position) == JackTransportRolling &&
            (position.valid & JackPositionBBT) != 0 && seen < kCapacity) {
            const double tick =
                (position.valid & JackTickDouble) != 0 ? position.tick_double : position.tick;
            self->cycles_[static_cast<std::size_t>(seen)] = {
                position.frame,
                (position.bar - 1) * 4.0 + (position.beat - 1) + tick / position.ticks_per_beat,
                position.beats_per_minute};
            self->count_.store(seen + 1);
        }
        return 0;
    }

    static constexpr int kCapacity = 4096;
    jack_client_t* client_ = nullptr;
    std::array<Cycle, kCapacity> cycles_{};
    std::atomic<int> count_{0};
};

class JackTransport : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        name_ =
            "glimmerstave-transport-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ASSERT_TRUE(server_.start(name_, kPeriod)) << "jackd (package jackd2) did not start";
        jack_status_t status{};
        probe_ = jack_client_open("probe", JackNoStartServer, &status);
        ASSERT_NE(probe_, nullptr);
    }
    void TearDown() override {
        closeProbe();
        server_.stop();
    }
    void closeProbe() {
        if (probe_ != nullptr) {
            jack_client_close(probe_);
            probe_ = nullptr;
        }
    }

    // The JACK frame at which the JACK output places a message due at engine time dueUs.
    jack_nframes_t frameOf(std::int64_t dueUs) const {
        const std::int64_t late = timer_.nowUs() - dueUs;
        return jack_time_to_frames(probe_, jack_get_time() - static_cast<jack_time_t>(late));
    }

    // Plays steps from `from` on as the clock thread does, until `enough` says so: returns
    // each step's frame, taken from its due time when it came.
    std::vector<jack_nframes_t> play(JackTransportTimeline& timeline, std::int64_t from,
                                     const std::function<bool(std::int64_t)>& enough) {
        std::vector<jack_nframes_t> frames;
        std::int64_t step = from;
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!enough(step) && std::chrono::steady_clock::now() < deadline) {
            const std::int64_t due = timeline.dueUs(step);
            if (due != StepTimeline::kNever && due <= timer_.nowUs()) {
                frames.push_back(frameOf(due));
                ++step;
            } else {
                sleepMicroseconds(300);
            }
        }
        return frames;
    }

    JackServer server_;
    std::string name_;
    jack_client_t* probe_ = nullptr;
    MonotonicTimer timer_;
};

std::int64_t since(jack_nframes_t frame, std::int64_t from) {
    return static_cast<std::int32_t>(static_cast<jack_nframes_t>(frame - from));
}

TEST_F(JackTransport, StartsOnTheBarLineAndKeepsToTheMastersBeatsThroughATempoChange) {
    TempoMapMaster master;
    ASSERT_TRUE(master.open());
    jack_transport_stop(master.client());
    jack_transport_locate(master.client(), 0);
    std::unique_ptr<JackTransportTimeline> timeline =
        JackTransportTimeline::open(timer_, "Glimmerstave transport");
    ASSERT_NE(timeline, nullptr);
    timeline->setFollowing(true);
    EXPECT_FALSE(timeline->leading()) << "a master was there first";

    // The master starts from the bar line; the engine begins its pass once it sees the
    // transport starting (the window's follower looks every 20 ms; the test a little later).
    ASSERT_TRUE(waitFor([&] { return timer_.wakes() > 0; })) << "the first cycle wakes the clock";
    const int wakes = timer_.wakes();
    jack_transport_start(master.client());
    ASSERT_TRUE(waitFor([&] { return timeline->rolling(); }));
    EXPECT_GT(timer_.wakes(), wakes) << "the clock thread learns of the start";
    sleepMicroseconds(25000);
    timeline->begin(timer_.nowUs(), 125.0, false);
    EXPECT_TRUE(timeline->sharedClock());

    // Up to two bars after the tempo change: 4 sixteenths a beat.
    const double lastBeat = TempoMapMaster::beatsAt(TempoMapMaster::kChangeFrame) + 8.0;
    const std::vector<jack_nframes_t> frames = play(
        *timeline, 0, [&](std::int64_t step) { return static_cast<double>(step) / 4 > lastBeat; });
    ASSERT_GT(static_cast<double>(frames.size()) / 4, lastBeat) << "the steps did not come";
    ASSERT_TRUE(master.rolled());
    EXPECT_EQ(since(master.firstRollingCycle(), master.zeroFrame()), 0)
        << "the transport rolled from its frame 0";

    // Step 0 on the bar line's frame, placed at the measure's start; every step on the
    // sixteenth the master's beats call for, before the change and after it.
    EXPECT_EQ(timeline->stepInMeasure(0, 16), 0) << "the pass was placed again: a move was seen";
    // To the frame, but for the odd step whose conversion from microseconds to frames met a
    // late cycle of a busy machine (JACK's frame timer then jitters by a few frames).
    int afterChange = 0;
    int onTheirFrame = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const auto step = static_cast<std::int64_t>(k);
        EXPECT_EQ(timeline->songPosition(step), step) << "no sixteenth skipped or repeated";
        const double ideal = TempoMapMaster::frameOfBeats(static_cast<double>(k) / 4.0);
        const double off = static_cast<double>(since(frames[k], master.zeroFrame())) - ideal;
        EXPECT_LE(std::fabs(off), kPeriod / 8) << "step " << k << " " << off << " frames off";
        onTheirFrame += std::fabs(off) <= 1.0 ? 1 : 0;
        afterChange += ideal > static_cast<double>(TempoMapMaster::kChangeFrame) ? 1 : 0;
    }
    EXPECT_GE(afterChange, 30);
    EXPECT_GE(onTheirFrame * 10, static_cast<int>(frames.size()) * 9)
        << onTheirFrame << " of " << frames.size();
    EXPECT_LE(std::abs(since(frames[0], master.zeroFrame())), kPeriod / 8)
        << "step 0 on the bar line";
    timeline->end(true);
}

TEST_F(JackTransport, APassBegunOnTheBarLinePlaysStepZeroOfTheMeasure) {
    TempoMapMaster master;
    ASSERT_TRUE(master.open());
    jack_transport_stop(master.client());
    // Bar 2, beat 1 at 120 BPM.
    jack_transport_locate(master.client(), 4 * 24000);
    std::unique_ptr<JackTransportTimeline> timeline =
        JackTransportTimeline::open(timer_, "Glimmerstave transport");
    ASSERT_NE(timeline, nullptr);
    timeline->setFollowing(true);
    // The engine is first: its pass starts the transport, which rolls on the frame it picks.
    timeline->begin(timer_.nowUs(), 125.0, false);
    const std::vector<jack_nframes_t> frames =
        play(*timeline, 0, [](std::int64_t step) { return step > 4; });
    ASSERT_EQ(frames.size(), 5U);
    EXPECT_EQ(timeline->songPosition(0), 16) << "bar 2 is sixteenth 16";
    EXPECT_EQ(timeline->stepInMeasure(0, 16), 0);
    for (std::size_t k = 0; k < frames.size(); ++k) {
        EXPECT_LE(std::abs(since(frames[k], master.zeroFrame()) -
                           (4 * 24000 + 6000 * static_cast<int>(k))),
                  static_cast<std::int64_t>(kPeriod / 8))
            << "step " << k;
    }
    timeline->end(false);
    EXPECT_TRUE(waitFor([&] { return !timeline->rolling(); })) << "its end stops the transport";
}

TEST_F(JackTransport, FollowsAgainWhenTheServerComesBack) {
    std::unique_ptr<JackTransportTimeline> timeline =
        JackTransportTimeline::open(timer_, "Glimmerstave transport");
    ASSERT_NE(timeline, nullptr);
    EXPECT_TRUE(timeline->leading()) << "no master: the timeline leads";
    timeline->setFollowing(true);
    closeProbe();
    server_.stop();
    ASSERT_TRUE(waitFor([&] { return timeline->lookingForServer(); }));
    EXPECT_FALSE(timeline->connected());
    timeline->begin(timer_.nowUs(), 125.0, false);
    EXPECT_EQ(timeline->dueUs(0), StepTimeline::kNever) << "no step while the server is gone";
    EXPECT_FALSE(timeline->rolling());
    timeline->end(false);

    // Back under the same name: found again without being asked, and followed.
    ASSERT_TRUE(server_.start(name_, kPeriod));
    ASSERT_TRUE(waitFor([&] { return timeline->connected(); }));
    jack_status_t status{};
    probe_ = jack_client_open("probe", JackNoStartServer, &status);
    ASSERT_NE(probe_, nullptr);
    TempoMapMaster master;
    ASSERT_TRUE(master.open());
    jack_transport_locate(master.client(), 0);
    jack_transport_start(master.client());
    ASSERT_TRUE(waitFor([&] { return timeline->rolling(); }));
    timeline->begin(timer_.nowUs(), 125.0, false);
    const std::vector<jack_nframes_t> frames =
        play(*timeline, 0, [](std::int64_t step) { return step > 8; });
    ASSERT_EQ(frames.size(), 9U);
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const double ideal = TempoMapMaster::frameOfBeats(
            static_cast<double>(timeline->songPosition(static_cast<std::int64_t>(k))) / 4.0);
        EXPECT_LE(std::fabs(static_cast<double>(since(frames[k], master.zeroFrame())) - ideal),
                  kPeriod / 8)
            << "step " << k;
    }
    timeline->end(true);
}

// The relocation goes through jack_transport_locate(), which leaves all but the frame of the
// position it hands over unset: the master must find the beat by the server's rate.
TEST_F(JackTransport, LeadsWithBeatsThatRunOnAcrossATempoChangeAndARelocationFindsThemAgain) {
    std::unique_ptr<JackTransportTimeline> timeline =
        JackTransportTimeline::open(timer_, "Glimmerstave transport");
    ASSERT_NE(timeline, nullptr);
    ASSERT_TRUE(timeline->leading());
    BeatWatcher watcher;
    ASSERT_TRUE(watcher.open());
    jack_transport_locate(probe_, 0);
    timeline->setTempo(120.0);
    timeline->setRolling(true);
    // Past beat 3 at 120 BPM, then 150 BPM for two beats or more.
    ASSERT_TRUE(waitFor([&] { return watcher.sawFrameFrom(3 * 24000); }));
    timeline->setTempo(150.0);
    ASSERT_TRUE(waitFor([&] {
        const int seen = watcher.count();
        return seen > 0 && watcher.cycle(seen - 1).beatsPerMinute == 150.0 &&
               watcher.cycle(seen - 1).beats > 6.0;
    }));
    // Back to beat 2, played at 120 BPM: found there, and going on at 150 BPM.
    const int beforeLocate = watcher.count();
    ASSERT_EQ(jack_transport_locate(probe_, 2 * 24000), 0);
    ASSERT_TRUE(waitFor([&] {
        const int seen = watcher.count();
        return seen > beforeLocate + 1 && watcher.cycle(seen - 1).frame < 3 * 24000;
    }));
    timeline->setRolling(false);

    // The watcher's own reading of a late cycle on a busy machine may pair a frame with the
    // beat of the cycle after: most cycles, not every one, are checked to the beat.
    int changes = 0;
    int steady = 0;
    int rolledOn = 0;
    bool relocated = false;
    for (int i = 1; i < watcher.count(); ++i) {
        const BeatWatcher::Cycle& before = watcher.cycle(i - 1);
        const BeatWatcher::Cycle& now = watcher.cycle(i);
        changes += now.beatsPerMinute != before.beatsPerMinute ? 1 : 0;
        if (!relocated && now.frame < before.frame) {
            relocated = true;
            ASSERT_GE(now.frame, 2U * 24000U);
            ASSERT_LE(now.frame, 2U * 24000U + 2 * kPeriod);
            const double past = static_cast<double>(now.frame - 2U * 24000U);
            EXPECT_NEAR(now.beats, 2.0 + past * 150.0 / 60.0 / kRate, 1e-9)
                << "the beat played there, going on";
            EXPECT_EQ(now.beatsPerMinute, 150.0) << "at today's tempo";
        }
        if (now.frame == before.frame + kPeriod) {
            // Rolling on: the beat moves by a cycle at the tempo the cycle ran at.
            ++rolledOn;
            const double moved = now.beats - before.beats;
            steady += std::fabs(moved - kPeriod * before.beatsPerMinute / 60.0 / kRate) < 1e-9;
        }
    }
    EXPECT_GE(steady * 10, rolledOn * 9) << steady << " of " << rolledOn;
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(relocated);
}

}  // namespace
