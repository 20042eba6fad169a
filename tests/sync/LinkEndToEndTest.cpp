// Two copies of the program, each started with --link and playing to its own input of a JACK
// recorder, and a Link peer of this test's own that sets 150 BPM and starts the session: both
// copies start, play 100 ms steps on the same grid, and stop when the peer stops.

#include <gtest/gtest.h>

#include <ableton/Link.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "LinkRig.h"

namespace {

// The nearest note-on of `others` to frame, in frames.
long nearestDistance(jack_nframes_t frame, const std::vector<jack_nframes_t>& others) {
    long best = std::numeric_limits<long>::max();
    for (const jack_nframes_t other : others) {
        best = std::min(best, std::labs(static_cast<long>(other) - static_cast<long>(frame)));
    }
    return best;
}

TEST(LinkEndToEnd, TwoCopiesFollowAPeersTempoStartAndStopOnOneGrid) {
    const char* program = std::getenv("GLIMMERSTAVE_PROGRAM");
    ASSERT_NE(program, nullptr) << "GLIMMERSTAVE_PROGRAM names the program";
    LinkRig::Rig rig;
    std::string error;
    ASSERT_TRUE(rig.start(program, error)) << error;

    ableton::Link peer(120.0);
    peer.enableStartStopSync(true);
    peer.enable(true);
    rig.startCopy("a");
    rig.startCopy("b");
    ASSERT_TRUE(
        LinkRig::waitFor([&] { return peer.numPeers() >= 2 && rig.copiesConnected(); }, 20000))
        << "peers " << peer.numPeers() << ", copies connected " << rig.copiesConnected() << "\n"
        << rig.copyLogs();

    auto state = peer.captureAppSessionState();
    state.setTempo(150.0, peer.clock().micros());
    state.setIsPlayingAndRequestBeatAtTime(true, peer.clock().micros(), 0.0, 4.0);
    peer.commitAppSessionState(state);

    constexpr std::size_t kSteps = 24;
    ASSERT_TRUE(LinkRig::waitFor(
        [&] {
            return rig.a.noteOnFrames().size() >= kSteps && rig.b.noteOnFrames().size() >= kSteps;
        },
        20000))
        << "steps played: a " << rig.a.noteOnFrames().size() << ", b "
        << rig.b.noteOnFrames().size() << "\n"
        << rig.copyLogs();

    const std::vector<jack_nframes_t> a = rig.a.noteOnFrames();
    const std::vector<jack_nframes_t> b = rig.b.noteOnFrames();
    // 150 BPM: a sixteenth is 100 ms, 4800 frames. The whole run's mean step, so that one late
    // wake-up on a loaded machine does not decide.
    const double meanStep = static_cast<double>(a[kSteps - 1] - a[0]) / (kSteps - 1);
    EXPECT_NEAR(rig.framesToUs(meanStep), 100'000.0, 2'000.0);
    // Same grid: every step of one copy has a step of the other within a quarter of a step
    // (the grid itself puts them 100 ms apart or together).
    long worst = 0;
    for (std::size_t i = 0; i < kSteps; ++i) {
        worst = std::max(worst, nearestDistance(a[i], b));
    }
    EXPECT_LT(rig.framesToUs(static_cast<double>(worst)), 25'000.0);
    std::printf("steps of the two copies at most %.0f us apart\n",
                rig.framesToUs(static_cast<double>(worst)));

    state = peer.captureAppSessionState();
    state.setIsPlaying(false, peer.clock().micros());
    peer.commitAppSessionState(state);
    ASSERT_TRUE(LinkRig::waitFor(
        [&] { return rig.a.allNotesOff(nullptr) && rig.b.allNotesOff(nullptr); }, 10000))
        << "the copies did not stop with the peer\n"
        << rig.copyLogs();
    int after = 0;
    EXPECT_TRUE(rig.a.allNotesOff(&after));
    EXPECT_EQ(after, 0) << "a played on after its stop";
    EXPECT_TRUE(rig.b.allNotesOff(&after));
    EXPECT_EQ(after, 0) << "b played on after its stop";
}

}  // namespace
