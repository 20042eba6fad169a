#pragma once

#include <cstdint>
#include <vector>

class Setup;

// Plays a setup through the real Player without a clock, a port or other instances and
// records every short message it sends as a Standard MIDI File: format 0, 96 ticks per
// quarter note, one step (a sixteenth) = 24 ticks, the tempo taken from bpm.
class MidiExport {
public:
    static constexpr int kTicksPerQuarter = 96;
    static constexpr int kTicksPerStep = 24;
    // Upper limits that keep a hostile setup from filling memory.
    static constexpr int kMaxSteps = 1'000'000;
    static constexpr std::size_t kMaxMessages = 4'000'000;

    // start() on the selected measure (which plays the first step at once), stepCount - 1
    // further steps, then stop(). The messages of step k lie at tick 24 k in the order sent,
    // stop()'s at tick 24 stepCount. setup is played as it is and left as playback leaves it.
    // Throws std::invalid_argument for a step count outside 1..kMaxSteps and
    // std::length_error when the playback sends more than kMaxMessages messages.
    static std::vector<std::uint8_t> render(Setup& setup, int stepCount);

    // Microseconds per quarter note for the tempo event, within what the event can hold.
    static std::uint32_t microsecondsPerQuarter(double bpm);
};
