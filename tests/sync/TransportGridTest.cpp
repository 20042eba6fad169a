#include <gtest/gtest.h>

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

}  // namespace
