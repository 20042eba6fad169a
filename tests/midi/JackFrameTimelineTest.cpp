// The steps in a JACK server's frames, against a frame clock of the test's own whose rate is
// off the system clock's and whose estimates wander, as JACK's do from cycle to cycle.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "midi/JackFrameTimeline.h"

namespace {

constexpr double kRate = 48000.0;

class DriftingFrameClock : public JackFrameTimeline::FrameClock {
public:
    // The sound card runs this many parts per million fast against the system clock.
    double ppm = 47.0;
    bool present = true;
    jack_nframes_t frameOrigin = 0xFFFF0000u;  // wraps within the test

    bool sampleRate(double& rate) override {
        rate = kRate;
        return present;
    }
    bool frameAt(std::int64_t timeUs, jack_nframes_t& frame) override {
        frame = frameOrigin + static_cast<jack_nframes_t>(static_cast<std::int64_t>(
                                  std::floor(framesAt(static_cast<double>(timeUs)))));
        return present;
    }
    bool timeOf(jack_nframes_t frame, std::int64_t& timeUs) override {
        const auto frames = static_cast<double>(frame - frameOrigin);
        // Each estimate is off by up to 40 us, differently each time.
        noise_ = (noise_ * 1103515245u + 12345u) & 0x7FFFFFFFu;
        const double wobble = static_cast<double>(noise_ % 81) - 40.0;
        timeUs = static_cast<std::int64_t>(frames * 1e6 / (kRate * (1.0 + ppm * 1e-6)) + wobble);
        return present;
    }
    double framesAt(double timeUs) const { return timeUs * kRate * (1.0 + ppm * 1e-6) / 1e6; }

private:
    std::uint32_t noise_ = 1;
};

// The tick rule of StepTimeline: tick j of step k at dueUs(k) + j * (dueUs(k + 1) - dueUs(k)) / 6.
std::int64_t tickDue(JackFrameTimeline& timeline, std::int64_t step, int sixth) {
    const std::int64_t due = timeline.dueUs(step);
    return due + (timeline.dueUs(step + 1) - due) * sixth / 6;
}

double frameError(const DriftingFrameClock& clock, jack_nframes_t frame, double ideal) {
    return static_cast<double>(static_cast<std::int32_t>(frame - clock.frameOrigin)) - ideal;
}

TEST(JackFrameTimeline, TenMinutesOfStepsAndTicksLandOnTheirFramesWhateverTheSystemClockDoes) {
    DriftingFrameClock clock;
    JackFrameTimeline timeline(clock);
    const double periodMs = 60'000.0 / 180.0 / 4.0;  // 180 BPM: 83.3 ms, 4000 frames
    const std::int64_t startUs = 1'000'000;
    const std::int64_t first = timeline.begin(startUs, periodMs, false);
    const double origin = std::floor(clock.framesAt(startUs));
    const double framesPerStep = periodMs * kRate / 1000.0;
    const std::int64_t steps = 7200;
    double worst = 0.0;
    for (std::int64_t k = 0; k < steps; ++k) {
        const std::int64_t due = timeline.dueUs(k);
        ASSERT_EQ(timeline.dueUs(k), due) << "a step's due time changed after it was given";
        for (int j = 0; j < 6; ++j) {
            jack_nframes_t frame = 0;
            ASSERT_TRUE(timeline.frameForDue(tickDue(timeline, k, j), frame)) << k << "/" << j;
            const double error = frameError(clock, frame, origin + (k + j / 6.0) * framesPerStep);
            worst = std::max(worst, std::fabs(error));
        }
    }
    EXPECT_LE(worst, 0.5);
    // The wake-ups follow the sound card: the last step is due when its frame comes, not
    // where the system clock's count of periods would put it (47 ppm: 28 ms after 10 min).
    const double lastFrame = origin + static_cast<double>(steps - 1) * framesPerStep;
    EXPECT_NEAR(clock.framesAt(static_cast<double>(timeline.dueUs(steps - 1))), lastFrame, 3.0);
    EXPECT_NEAR(static_cast<double>(first), static_cast<double>(startUs), 41.0);
}

TEST(JackFrameTimeline, ATempoChangeGoesOnFromTheFrameOfTheLastStepPlayed) {
    DriftingFrameClock clock;
    clock.ppm = -30.0;
    JackFrameTimeline timeline(clock);
    timeline.begin(0, 125.0, false);  // 6000 frames a step
    jack_nframes_t tenth = 0;
    ASSERT_TRUE(timeline.frameForDue(timeline.dueUs(10), tenth));
    timeline.dueUs(11);          // asked before the change, as the ticks of step 10 do
    timeline.retime(10, 100.0);  // 4800 frames a step from step 10 on
    jack_nframes_t frame = 0;
    ASSERT_TRUE(timeline.frameForDue(timeline.dueUs(10), frame));
    EXPECT_EQ(frame, tenth);
    ASSERT_TRUE(timeline.frameForDue(timeline.dueUs(13), frame));
    EXPECT_EQ(frame - tenth, 3u * 4800u);
    ASSERT_TRUE(timeline.frameForDue(tickDue(timeline, 13, 3), frame));
    EXPECT_EQ(frame - tenth, 3u * 4800u + 2400u);
}

TEST(JackFrameTimeline, WithoutTheServerStepsGoOnByTheSystemClockAndTakeTheNewServersFrames) {
    DriftingFrameClock clock;
    JackFrameTimeline timeline(clock);
    timeline.begin(0, 125.0, false);
    const std::int64_t third = timeline.dueUs(3);
    clock.present = false;
    const std::int64_t fourth = timeline.dueUs(4);
    EXPECT_NEAR(static_cast<double>(fourth - third), 125'000.0, 100.0);
    jack_nframes_t frame = 0;
    EXPECT_FALSE(timeline.frameForDue(fourth, frame)) << "a frame of a server that is gone";
    EXPECT_FALSE(timeline.tickSettled(24)) << "nothing goes to the port ahead by an estimate";

    // A server that comes back counts its frames afresh.
    clock.present = true;
    clock.frameOrigin = 12345;
    const std::int64_t fifth = timeline.dueUs(5);
    EXPECT_NEAR(static_cast<double>(fifth - fourth), 125'000.0, 100.0);
    ASSERT_TRUE(timeline.frameForDue(fifth, frame));
    ASSERT_TRUE(timeline.frameForDue(timeline.dueUs(7), frame));
    jack_nframes_t fifthFrame = 0;
    ASSERT_TRUE(timeline.frameForDue(fifth, fifthFrame));
    EXPECT_EQ(frame - fifthFrame, 2u * 6000u);
    EXPECT_TRUE(timeline.tickSettled(42)) << "the frames are the schedule again";
    EXPECT_FALSE(timeline.frameForDue(fifth - 200'000, frame)) << "before the known steps";
}

}  // namespace
