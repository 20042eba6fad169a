#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "sync/BeatTracker.h"
#include "sync/TempoMap.h"
#include "sync/TransportGrid.h"

namespace {

using TransportGrid::Bbt;

TEST(TransportGrid, ASixteenthLastsAQuarterOfABeatOfItsType) {
    EXPECT_DOUBLE_EQ(TransportGrid::framesPerSixteenth(150.0, 4.0, 48000.0), 4800.0);
    // In 6/8 the beat is an eighth: two sixteenths.
    EXPECT_DOUBLE_EQ(TransportGrid::framesPerSixteenth(150.0, 8.0, 48000.0), 9600.0);
    EXPECT_EQ(TransportGrid::framesPerSixteenth(0.0, 4.0, 48000.0), 0.0);
    EXPECT_EQ(TransportGrid::framesPerSixteenth(-120.0, 4.0, 48000.0), 0.0);
    EXPECT_EQ(TransportGrid::framesPerSixteenth(120.0, 0.0, 48000.0), 0.0);
}

TEST(TransportGrid, TheStepIsTheSixteenthsSinceTheBarModuloTheVisibleSteps) {
    // Bar 3, beat 2, second sixteenth of the beat in 4/4: 37 sixteenths in, 5 into its bar.
    EXPECT_EQ(TransportGrid::stepInMeasure(37, 16.0, 16), 5);
    EXPECT_EQ(TransportGrid::stepInMeasure(37, 16.0, 4), 1);
    // A 3/4 bar is 12 sixteenths: 37 is 1 into bar 4.
    Bbt waltz;
    waltz.beatsPerBar = 3.0;
    EXPECT_EQ(TransportGrid::stepInMeasure(37, TransportGrid::sixteenthsPerBar(waltz), 16), 1);
    // Nonsense never gives a step outside the measure.
    EXPECT_EQ(TransportGrid::stepInMeasure(-3, 16.0, 16), 13);
    EXPECT_EQ(TransportGrid::stepInMeasure(37, 0.0, 16), 5);
    EXPECT_EQ(TransportGrid::stepInMeasure(37, 16.0, 0), 0);
    Bbt broken;
    broken.beatType = 0.0;
    EXPECT_EQ(TransportGrid::sixteenthsPerBar(broken), 0.0);
}

TEST(TransportGrid, BeatsBecomeBarBeatAndTickInFourFour) {
    const Bbt start = TransportGrid::bbtForBeats(0.0, 120.0);
    EXPECT_EQ(start.bar, 1);
    EXPECT_EQ(start.beat, 1);
    EXPECT_EQ(start.tick, 0);
    const Bbt later = TransportGrid::bbtForBeats(9.5, 120.0);
    EXPECT_EQ(later.bar, 3);
    EXPECT_EQ(later.beat, 2);
    EXPECT_EQ(later.tick, 960);
    // Just below a beat the tick stays within the beat.
    EXPECT_EQ(TransportGrid::bbtForBeats(3.9999999999, 120.0).tick, 1919);
}

TEST(TransportGrid, BarBeatAndTickBecomeBeatsSinceBarOne) {
    // Bar 3, beat 2, a quarter of the beat in: 37 sixteenths in 4/4.
    Bbt bbt;
    bbt.bar = 3;
    bbt.beat = 2;
    bbt.tick = 480;
    bbt.barStartTick = 2 * 4 * 1920.0;
    EXPECT_DOUBLE_EQ(TransportGrid::beatsOf(bbt) * TransportGrid::sixteenthsPerBeat(4.0), 37.0);
    // A master that leaves bar_start_tick out: whole bars of the signature.
    bbt.barStartTick = 0.0;
    EXPECT_DOUBLE_EQ(TransportGrid::beatsOf(bbt), 9.25);
    EXPECT_DOUBLE_EQ(TransportGrid::barStartBeats(bbt), 8.0);
    // One that gives it counts bars of another signature before: a 3/4 bar, then this one.
    bbt.barStartTick = 7 * 1920.0;
    EXPECT_DOUBLE_EQ(TransportGrid::beatsOf(bbt), 8.25);
    // The tick's fraction, when the master gives it.
    bbt.exactTick = 480.5;
    EXPECT_DOUBLE_EQ(TransportGrid::beatsOf(bbt), 8.25 + 0.5 / 1920.0);
    // In 6/8 a beat is an eighth: two sixteenths.
    EXPECT_DOUBLE_EQ(TransportGrid::sixteenthsPerBeat(8.0), 2.0);
    EXPECT_EQ(TransportGrid::sixteenthsPerBeat(0.0), 0.0);
    // Supplied positions carry the fraction and the bar's start, and read back as given.
    const Bbt supplied = TransportGrid::bbtForBeats(9.3, 150.0);
    EXPECT_NEAR(TransportGrid::beatsOf(supplied), 9.3, 1e-12);
    EXPECT_DOUBLE_EQ(supplied.barStartTick, 8 * 1920.0);
}

TEST(TempoMap, BeatsRunOnAcrossATempoChangeAndARelocationFindsThemAgain) {
    TempoMap map(120.0, 48000.0);  // a beat is 24000 frames, at 150 BPM 19200
    EXPECT_DOUBLE_EQ(map.beatsAt(36000), 1.5);
    map.change(84000, 150.0);  // mid-bar, at beat 3.5
    EXPECT_DOUBLE_EQ(map.beatsAt(84000), 3.5);
    EXPECT_DOUBLE_EQ(map.beatsAt(84000 + 19200), 4.5);
    EXPECT_DOUBLE_EQ(map.tempoAt(84000 + 19200), 150.0);
    // Located back, the frames before the change keep the beats they were played on.
    EXPECT_DOUBLE_EQ(map.beatsAt(36000), 1.5);
    EXPECT_DOUBLE_EQ(map.tempoAt(36000), 120.0);
    // A change before the last one forgets it.
    map.change(48000, 60.0);
    EXPECT_DOUBLE_EQ(map.beatsAt(96000), 3.0);
    EXPECT_EQ(map.changes(), 2);
    // Full of changes (a dial turned for a while), it still runs on without a jump.
    std::int64_t frame = 100000;
    for (int i = 0; i < 3 * TempoMap::kCapacity; ++i) {
        frame += 1000;
        const double before = map.beatsAt(frame);
        map.change(frame, 100.0 + i % 7);
        EXPECT_NEAR(map.beatsAt(frame), before, 1e-9) << "change " << i;
    }
    EXPECT_LE(map.changes(), TempoMap::kCapacity);
    EXPECT_GE(map.beatsAt(0), 0.0);
}

TEST(BeatTracker, ClosesInOnTheBeatBetweenWholeTicksAndStartsAfreshAfterAJump) {
    // A master at 150 BPM that truncates its tick; cycles of 256 frames.
    const double beatsPerFrame = 150.0 / 60.0 / 48000.0;
    const double tick = 1.0 / 1920.0;
    BeatTracker tracker;
    double truth = 5.123456;
    std::uint32_t frame = 4000000000U;  // JACK's frame clock wraps meanwhile
    double beats = 0.0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        beats =
            tracker.track(frame, std::floor(truth / tick) * tick, tick, beatsPerFrame, cycle > 0);
        EXPECT_LE(std::fabs(beats - truth), tick) << "cycle " << cycle;
        frame += 256;
        truth += 256 * beatsPerFrame;
    }
    // Within 2 of the tick's 10 frames.
    EXPECT_LT(std::fabs(beats - (truth - 256 * beatsPerFrame)) / beatsPerFrame, 2.0);
    // A relocation: afresh, from the tick as given; exact on a beat.
    truth += 3.3;
    beats = tracker.track(frame, std::floor(truth / tick) * tick, tick, beatsPerFrame, true);
    EXPECT_LE(beats, truth);
    EXPECT_GT(beats, truth - tick);
    EXPECT_DOUBLE_EQ(tracker.track(frame + 256, 12.0, tick, beatsPerFrame, false), 12.0);
    // A master that gives the fraction is taken at its word.
    EXPECT_DOUBLE_EQ(tracker.track(frame + 256, 7.25, 0.0, beatsPerFrame, true), 7.25);
}

}  // namespace
