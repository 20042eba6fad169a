#pragma once

#include <cstdint>

// The arithmetic of a transport's sixteenth-note grid, free of JACK: how many frames a sixteenth
// lasts, how many make a bar, where a timebase master's bar, beat and tick lie in beats since
// bar 1, which step of a measure a sixteenth plays, and the bar, beat and tick of a beat position.
namespace TransportGrid {

// A position as a timebase master reports it (bar and beat count from 1).
struct Bbt {
    std::int32_t bar = 1;
    std::int32_t beat = 1;
    std::int32_t tick = 0;
    double beatsPerBar = 4.0;
    double beatType = 4.0;
    double ticksPerBeat = 1920.0;
    double beatsPerMinute = 120.0;
    // The tick with its fraction (JACK's tick_double); below 0 when only the whole tick is known.
    double exactTick = -1.0;
    // Ticks from bar 1, beat 1 to the start of this bar; 0 in a bar after the first means the
    // master left it out.
    double barStartTick = 0.0;
};

// Sixteenths in one bar; 0 for a nonsensical signature.
double sixteenthsPerBar(const Bbt& bbt);
// Sixteenths in one beat of type beatType (a quarter holds 4, an eighth 2); 0 for nonsense.
double sixteenthsPerBeat(double beatType);
// Frames one sixteenth lasts at this tempo and frame rate; 0 when either is not positive.
double framesPerSixteenth(double beatsPerMinute, double beatType, double frameRate);
// Beats from bar 1, beat 1 to the start of the position's bar: the master's bar_start_tick when
// it gives one, else whole bars of the current signature.
double barStartBeats(const Bbt& bbt);
// Beats from bar 1, beat 1 to the position, to its tick (or the tick's fraction when known).
double beatsOf(const Bbt& bbt);
// The step of the measure that sixteenth `sixteenth` plays: sixteenths since its bar's start,
// modulo the visible steps (perBar 0: modulo the visible steps alone).
int stepInMeasure(std::int64_t sixteenth, double perBar, int visibleSteps);
// The BBT of a beat position (beats since frame 0) in 4/4 at 1920 ticks per beat.
Bbt bbtForBeats(double beats, double beatsPerMinute);

}  // namespace TransportGrid
