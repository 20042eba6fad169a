#pragma once

#include <cstdint>

// Where a timebase master's beat lies, cycle by cycle, finer than its whole ticks. Most masters
// give the tick as a whole number, truncated: at 150 BPM and 1920 ticks per beat that leaves
// each cycle's beat uncertain by 10 frames. At a steady tempo the beat moves on by a known amount
// per cycle, so the beat counted on from the cycles before must also lie within this cycle's
// tick: kept inside it, the count closes in on the true beat within a few cycles. A jump (tempo
// change, relocation, another master) starts the count afresh from the tick as given, which is
// exact where it matters most: a start or relocation on a beat.
//
// Plain arithmetic for one thread (the JACK process thread).
class BeatTracker {
public:
    // The beat at the start of the cycle at JACK frame cycleFrame: measured is what the master
    // reports, and the true beat lies in [measured, measured + resolution) (resolution 0: the
    // master gives it exactly). beatsPerFrame is the tempo since the last cycle; continuous says
    // whether the transport rolled on from it without a relocation.
    double track(std::uint32_t cycleFrame, double measured, double resolution, double beatsPerFrame,
                 bool continuous);
    void reset() { have_ = false; }

private:
    bool have_ = false;
    std::uint32_t frame_ = 0;
    double beats_ = 0.0;
};
