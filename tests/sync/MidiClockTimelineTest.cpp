// The MIDI clock follower as a timeline: the fit of its ticks, and what the engine is told
// through Start, ticks, Stop, Song Position Pointer, Continue and a clock that goes silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "../core/EngineDoubles.h"
#include "sync/MidiClockTimeline.h"
#include "sync/TickFit.h"

namespace {

constexpr double kPeriod120 = 60.0e6 / (120.0 * 24);  // one tick at 120 BPM, us
constexpr std::int64_t kNever = StepTimeline::kNever;

// A source: sends what a drum machine would, at times the test chooses.
struct Source {
    explicit Source(MidiClockTimeline& target) : timeline(target) {}
    void send(std::uint8_t status, std::int64_t atUs, std::uint8_t d1 = 0, std::uint8_t d2 = 0) {
        const std::uint8_t bytes[3] = {status, d1, d2};
        timeline.onMidiMessage(bytes, status == 0xF2 ? 3 : 1, atUs);
    }
    // n ticks from `at` on, one period apart; returns the time of the next one.
    std::int64_t ticks(int n, std::int64_t at, double period = kPeriod120) {
        for (int i = 0; i < n; ++i) {
            send(0xF8, at + std::llround(i * period));
        }
        return at + std::llround(n * period);
    }
    MidiClockTimeline& timeline;
};

}  // namespace

TEST(TickFit, SmoothsAJitteryClockAndFollowsATempoChangeWithinOneBeat) {
    TickFit fit;
    fit.reset(kPeriod120);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.1 * kPeriod120, 0.1 * kPeriod120);
    double rawSquares = 0.0;
    double fittedSquares = 0.0;
    for (int tick = 0; tick < 480; ++tick) {
        const double ideal = tick * kPeriod120;
        const double noise = jitter(random);
        ASSERT_TRUE(fit.add(tick, std::llround(ideal + noise))) << "no re-anchoring on jitter";
        if (tick >= TickFit::kWindow) {
            const double foreseenError =
                static_cast<double>(fit.timeOf(tick + 1)) - (ideal + kPeriod120);
            rawSquares += noise * noise;
            fittedSquares += foreseenError * foreseenError;
        }
    }
    // The next tick foreseen from the fit wobbles well below the source's own wobble.
    EXPECT_LT(std::sqrt(fittedSquares), 0.6 * std::sqrt(rawSquares));
    EXPECT_NEAR(fit.periodUs(), kPeriod120, 0.01 * kPeriod120);

    // 120 -> 150 BPM: after one beat of the new tempo the fit has it exactly.
    const double period150 = 60.0e6 / (150.0 * 24);
    const std::int64_t changeAt = std::llround(480 * kPeriod120);
    for (int i = 1; i <= TickFit::kWindow; ++i) {
        fit.add(479 + i, changeAt + std::llround(i * period150));
    }
    EXPECT_NEAR(fit.periodUs(), period150, 1.0);
    EXPECT_NEAR(static_cast<double>(fit.timeOf(480 + TickFit::kWindow)),
                changeAt + (TickFit::kWindow + 1) * period150, 2.0);

    // One time stamp 10 ms off (a glitch of the stamps, not of the clock) moves nothing.
    const std::int64_t last = 480 + TickFit::kWindow - 1;
    const std::int64_t lastAt = fit.timeOf(last);
    fit.add(last + 1, lastAt + std::llround(period150) + 10000);
    fit.add(last + 2, lastAt + std::llround(2 * period150));
    EXPECT_NEAR(static_cast<double>(fit.timeOf(last + 3)), lastAt + 3 * period150, 2.0);
}

TEST(MidiClockTimeline, StartPlaysStepZeroOnTheFirstTickAndNothingAheadOfTheNextTick) {
    ManualTimer timer;
    MidiClockTimeline timeline(timer);
    Source source(timeline);
    source.ticks(30, 0);  // a clock running while stopped gives the tempo only
    EXPECT_NEAR(MidiClockTimeline::bpmOf(timeline.state()), 120.0, 0.01);

    const std::int64_t startAt = std::llround(30 * kPeriod120);
    source.send(0xFA, startAt - 100);
    timeline.begin(startAt, 125.0, false);
    EXPECT_EQ(timeline.dueUs(0), kNever) << "step 0 waits for the tick after Start";
    source.send(0xF8, startAt);
    EXPECT_EQ(timeline.dueUs(0), startAt);
    EXPECT_EQ(timeline.stepInMeasure(0, 16), 0);
    EXPECT_EQ(timeline.songPosition(0), 0);
    EXPECT_EQ(timeline.dueUs(1), kNever) << "only the next tick is foreseen";
    EXPECT_TRUE(timeline.tickSettled(0));
    EXPECT_FALSE(timeline.tickSettled(1)) << "foreseen is not heard";
    const std::int64_t tick6 = source.ticks(5, startAt + std::llround(kPeriod120));
    EXPECT_NEAR(static_cast<double>(timeline.dueUs(1)), static_cast<double>(tick6), 2.0);
    EXPECT_NEAR(static_cast<double>(timeline.tickDueUs(3)), startAt + 3 * kPeriod120, 2.0);
    EXPECT_GT(timer.wakes, 0) << "ticks wake the step clock";

    source.send(0xFC, tick6 - 10);
    EXPECT_FALSE(timeline.state().running);
    EXPECT_EQ(timeline.dueUs(1), kNever) << "nothing is due after Stop";
    EXPECT_FALSE(timeline.tickSettled(0)) << "nor heard ahead";
}

// A JACK input stamps each tick with its frame, and its times, converted from those frames by
// JACK's estimate, wobble. A step's frame is its tick's own, not converted back from its time.
TEST(MidiClockTimeline, OnAJackInputAStepTakesItsTicksFrameWhateverTheTimesSay) {
    ManualTimer timer;
    MidiClockTimeline timeline(timer);
    constexpr std::uint32_t kFirstFrame = 4294900000U;  // the frame count wraps during the run
    constexpr std::uint32_t kTickFrames = 1000;         // 120 BPM at 48 kHz
    std::mt19937 random(3);
    std::uniform_int_distribution<int> wobble(-400, 400);
    const auto frameOf = [&](int tick) { return kFirstFrame + tick * kTickFrames; };
    const auto send = [&](std::uint8_t status, int tick) {
        const std::int64_t atUs = std::llround(tick * kPeriod120) + wobble(random);
        timeline.onMidiMessageAtFrame(&status, 1, atUs, frameOf(tick));
    };
    for (int tick = 0; tick < 30; ++tick) {
        send(0xF8, tick);
    }
    send(0xFA, 30);
    timeline.begin(std::llround(30 * kPeriod120), 125.0, false);
    std::uint32_t frame = 0;
    for (int step = 0; step < 8; ++step) {
        for (int sixth = 0; sixth < 6; ++sixth) {
            send(0xF8, 30 + 6 * step + sixth);
        }
        ASSERT_TRUE(timeline.deviceFrameOf(timeline.dueUs(step), frame));
        EXPECT_EQ(frame, frameOf(30 + 6 * step)) << "step " << step;
        ASSERT_TRUE(timeline.deviceFrameOf(timeline.tickDueUs(6 * step + 3), frame));
        EXPECT_EQ(frame, frameOf(30 + 6 * step + 3)) << "tick " << 6 * step + 3;
    }
    // A due time a little off its tick (the line moved since it was given out) is the tick's.
    ASSERT_TRUE(timeline.deviceFrameOf(timeline.dueUs(7) - 300, frame));
    EXPECT_EQ(frame, frameOf(30 + 42));

    // A tick from an input without frames: no frame is claimed for what follows.
    const std::uint8_t tick = 0xF8;
    timeline.onMidiMessage(&tick, 1, std::llround(78 * kPeriod120));
    EXPECT_FALSE(timeline.deviceFrameOf(timeline.dueUs(8), frame));
}

TEST(MidiClockTimeline, ContinueGoesOnAtTheSongPositionOrWhereItStopped) {
    ManualTimer timer;
    MidiClockTimeline timeline(timer);
    Source source(timeline);
    source.send(0xFA, 0);
    std::int64_t at = source.ticks(14, 1);  // ticks 0..13: stopped inside step 2
    source.send(0xFC, at);

    // Without a Song Position Pointer: the next whole step after where it stopped.
    source.send(0xFB, at + 1000);
    at = source.ticks(1, at + 2000);
    timeline.begin(at, 125.0, false);
    EXPECT_EQ(timeline.songPosition(0), 3);
    EXPECT_EQ(timeline.stepInMeasure(0, 16), 3);
    EXPECT_EQ(timeline.dueUs(0), kNever) << "tick 14 is not a step's; step 3 is tick 18";
    at = source.ticks(4, at);
    EXPECT_NE(timeline.dueUs(0), kNever);
    source.send(0xFC, at);

    // Song Position Pointer 37 (sixteenths), then Continue: step 37 % visible on the next tick.
    source.send(0xF2, at + 10, 37, 0);
    source.send(0xFB, at + 20);
    source.send(0xF8, at + 30);
    timeline.begin(at + 30, 125.0, false);
    EXPECT_NEAR(static_cast<double>(timeline.dueUs(0)), at + 30.0, 500.0) << "on the fit's line";
    EXPECT_EQ(timeline.stepInMeasure(0, 12), 37 % 12);
    EXPECT_EQ(timeline.songPosition(2), 39);
    EXPECT_EQ(timeline.stepInMeasure(1, 12), -1) << "after the first step the engine counts";
}

TEST(MidiClockTimeline, AClockThatGoesSilentIsLostAndGoesOnWhereItStoppedWhenItComesBack) {
    ManualTimer timer;
    MidiClockTimeline timeline(timer);
    Source source(timeline);
    source.send(0xFA, 0);
    const std::int64_t next = source.ticks(20, 10);  // ticks 0..19
    const MidiClockTimeline::State before = timeline.state();
    const auto twoBeatsUs = std::llround(2 * 24 * kPeriod120);
    const std::int64_t last = before.lastArrivalUs;
    EXPECT_FALSE(MidiClockTimeline::silentAt(before, last + twoBeatsUs - 2000));
    EXPECT_TRUE(MidiClockTimeline::silentAt(before, last + twoBeatsUs + 2000));

    const std::int64_t back = next + 10 * twoBeatsUs;
    source.send(0xF8, back);
    const MidiClockTimeline::State after = timeline.state();
    EXPECT_EQ(after.lastTickUs, back) << "the ticks before the pause do not place this one";
    EXPECT_TRUE(after.running);
    EXPECT_EQ(after.run, before.run + 1) << "a new run, which the window starts";
    EXPECT_EQ(after.runStartTick, 20);
    timeline.begin(back, 125.0, false);
    EXPECT_EQ(timeline.songPosition(0), 4) << "tick 20 is inside step 3: step 4 is next";
    const std::int64_t step4At = source.ticks(4, back + std::llround(kPeriod120)) -
                                 std::llround(kPeriod120);  // ticks 21..24
    timeline.begin(step4At + 40'000, 125.0, false);
    EXPECT_EQ(timeline.songPosition(0), 5) << "begun 40 ms after step 4's tick: step 5";

    // Whatever else arrives means nothing here.
    const std::uint8_t noise[3] = {0x90, 60, 100};
    timeline.onMidiMessage(noise, 3, back + 5);
    timeline.onMidiMessage(noise, 0, back + 6);
    EXPECT_EQ(timeline.state().run, after.run);
}
