// The step routine on one thread while another edits the playing measure, changes the
// number of steps and starts and stops: run under ThreadSanitizer by `make sanitize`.

#include <atomic>
#include <mutex>
#include <thread>

#include "PlayerFixture.h"

namespace {

using PlayerConcurrency = PlayerFixture;

TEST_F(PlayerConcurrency, StepRoutineSurvivesConcurrentEditsStartsAndStops) {
    for (int i = 0; i < Measure::kStepCount; ++i) {
        chord(0, i, IntArray{0, 4, 7}, i % 5);
    }
    player.start();

    std::atomic<bool> done{false};
    std::atomic<int> stepsPlayed{0};
    std::thread clockThread([&] {
        std::int64_t now = 0;
        while (!done.load()) {
            now += 50'000;
            if (player.tick(now)) {
                stepsPlayed.fetch_add(1);
            }
            player.playStep();
            stepsPlayed.fetch_add(1);
        }
    });

    // Keep editing until both sides have done plenty of work, whichever thread starts first.
    constexpr int kMinimumRounds = 3000;
    constexpr int kMinimumSteps = 3000;
    for (int round = 0; round < kMinimumRounds || stepsPlayed.load() < kMinimumSteps; ++round) {
        {
            std::lock_guard guard(player.engineLock());
            Step& s = step(setup.playingMeasure, round % Measure::kStepCount);
            // Grow and shrink the chord so its storage is reallocated under the step routine.
            IntArray notes;
            for (int n = 0; n < 1 + round % 40; ++n) {
                notes.add(n - 20);
            }
            s.setNotes(notes);
            s.setStepValue(StepValue::Root, round % 50);
            setup.stepsPerMeasure = 1 + round % 16;
            setup.polyphonic = round % 3 != 0;
        }
        if (round % 100 == 0) {
            player.stop();
            player.start();
        }
        if (round % 250 == 0) {
            setup.bpm = 100.0 + round % 50;
            player.onTempoChanged();
        }
        host.takePosted();
        port.take();
    }
    done.store(true);
    clockThread.join();
    player.stop();

    EXPECT_GE(stepsPlayed.load(), kMinimumSteps);
    std::lock_guard guard(player.engineLock());
    EXPECT_GE(setup.port.currentStep, 0);
    EXPECT_LT(setup.port.currentStep, Measure::kStepCount);
}

}  // namespace
