// The Link session as the engine's timeline, alone in its session (Link not enabled, so no
// network is involved): where a pass begins, the step grid, the start/stop state it shares and
// the way a pass moves onto the grid in mid-play.

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>

#include "core/StepTimer.h"
#include "sync/LinkSession.h"

namespace {

// The step clock's time base without its thread: CLOCK_MONOTONIC in microseconds.
class MonotonicTimer : public StepTimer {
public:
    void startTimer() override {}
    void stopTimer() override {}
    void wake() override {}
    std::int64_t nowUs() const override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    }
    std::int32_t cyclesPerMs() const override { return 0; }
};

class LinkTimeline : public testing::Test {
protected:
    // Session beat of a time on the engine's base, to within the clocks' reading gap.
    double beatOf(std::int64_t us) { return session.beatAt(us); }

    MonotonicTimer timer;
    LinkSession session{timer, 120.0};
};

TEST_F(LinkTimeline, AStartHereStartsTheSessionAtOnceWhenAloneAndStepsAreSixteenths) {
    const std::int64_t now = timer.nowUs();
    const std::int64_t first = session.begin(now, 125.0, false);
    EXPECT_LE(std::llabs(first - now), 2) << "alone in the session, beat 0 is now";
    EXPECT_TRUE(session.isPlaying());
    // 120 BPM: a sixteenth is 125 ms; step k lies on beat k/4 of the pass.
    for (int k = 1; k <= 64; k *= 2) {
        EXPECT_NEAR(static_cast<double>(session.dueUs(k) - first), k * 125'000.0, 2.0) << k;
        EXPECT_NEAR(beatOf(session.dueUs(k)) - beatOf(first), k / 4.0, 1e-4) << k;
    }
    session.end(true);
    EXPECT_TRUE(session.isPlaying()) << "this copy alone leaves the session playing";
    session.end(false);
    EXPECT_FALSE(session.isPlaying());
}

TEST_F(LinkTimeline, ThisCopyAloneBeginsOnTheNextBarWithoutStartingTheSession) {
    const std::int64_t now = timer.nowUs();
    const std::int64_t first = session.begin(now, 125.0, true);
    EXPECT_FALSE(session.isPlaying());
    EXPECT_GE(first, now - 2);
    EXPECT_LE(first, now + 2'000'000 + 2) << "a bar is 2 s at 120 BPM";
    const double phase = std::fmod(beatOf(first), LinkSession::kQuantum);
    EXPECT_LT(std::min(phase, LinkSession::kQuantum - phase), 1e-4) << "on a bar line";
}

TEST_F(LinkTimeline, ATempoChangeMovesTheGridAheadOfNow) {
    const std::int64_t first = session.begin(timer.nowUs(), 125.0, false);
    session.setTempo(60.0);
    EXPECT_NEAR(session.tempo(), 60.0, 1e-6);
    // At 60 BPM a sixteenth is 250 ms: the steps ahead are spaced by it.
    EXPECT_NEAR(static_cast<double>(session.dueUs(101) - session.dueUs(100)), 250'000.0, 2.0);
    EXPECT_GT(session.dueUs(100), first + 100 * 125'000);
    session.setTempo(5000.0);
    EXPECT_EQ(session.tempo(), LinkSession::kMaxBpm) << "clamped to Link's range";
}

TEST_F(LinkTimeline, APassMovingOntoTheGridGoesOnAtTheNextSixteenth) {
    session.begin(timer.nowUs(), 125.0, false);
    // A pass of another timeline played its step 5 at an odd moment 40 ms from now.
    const std::int64_t lastDue = timer.nowUs() + 40'000;
    session.resume(5, lastDue, 100.0);
    const std::int64_t next = session.dueUs(6);
    EXPECT_GT(next, lastDue);
    EXPECT_LE(next, lastDue + 125'000 + 2);
    const double sixteenths = beatOf(next) * 4.0;
    EXPECT_NEAR(sixteenths, std::round(sixteenths), 1e-3);
    EXPECT_NEAR(static_cast<double>(session.dueUs(7) - next), 125'000.0, 2.0);
}

}  // namespace
