#pragma once

#include <cstdint>

// The JACK transport as one process cycle saw it: where the cycle began on JACK's frame and
// microsecond clocks, the transport's state and frame, and its beat position since bar 1, beat 1
// (a timebase master's, refined; without one, counted from the frame at the program's tempo).
// Written once per cycle by the process thread, read by the engine through a SeqlockSlot.
struct TransportSnapshot {
    // Cycles seen since the client opened; 0: none yet.
    std::uint64_t cycles = 0;
    std::int64_t cycleUs = 0;      // JACK's microsecond clock at the cycle's start
    std::int64_t nextCycleUs = 0;  // and at the next cycle's start
    std::uint32_t cycleFrame = 0;  // JACK's frame clock at the cycle's start
    std::uint32_t period = 0;      // frames in a cycle
    std::uint32_t frameRate = 0;
    std::int32_t state = 0;  // jack_transport_state_t
    std::uint32_t transportFrame = 0;
    bool fromMaster = false;  // a timebase master gave the beat
    double beats = 0.0;
    double beatsPerMinute = 120.0;
    double beatType = 4.0;
    double beatsPerBar = 4.0;
    double barStartBeats = 0.0;
    // Starts and relocations so far: each is a new place for the steps to go on from.
    std::uint32_t jumps = 0;
    // The beat and bar where the latest of them went on from.
    double jumpBeats = 0.0;
    double jumpBarStartBeats = 0.0;
};
