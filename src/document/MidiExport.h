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
    // The longest default export: a chain that loops back on itself is played once, but a
    // pass through eight loops repeated many times is cut here.
    static constexpr int kMaxChainMeasures = 64;

    // One short message as the Player sent it, at the tick of the step that sent it.
    struct TimedMessage {
        std::int64_t tick;
        int status;
        int data1;
        int data2;
    };

    // The playback render() writes, as the messages in the order sent. Throws as render().
    static std::vector<TimedMessage> record(Setup& setup, int stepCount);

    // One pass through the chain of loops from the selected loop, in measures: each loop's
    // repeats, following `next` until a loop comes round again; at most kMaxChainMeasures.
    static int chainPassMeasures(const Setup& setup);
    // The default length of every export, in the window and on the command line: one pass
    // through the chain, chainPassMeasures() x the steps per measure.
    static int chainPassSteps(const Setup& setup);

    // start() on the selected measure (which plays the first step at once), stepCount - 1
    // further steps, then stop(). The messages of step k lie at tick 24 k in the order sent,
    // stop()'s at tick 24 stepCount. setup is played as it is and left as playback leaves it.
    // Throws std::invalid_argument for a step count outside 1..kMaxSteps and
    // std::length_error when the playback sends more than kMaxMessages messages.
    static std::vector<std::uint8_t> render(Setup& setup, int stepCount);

    // Microseconds per quarter note for the tempo event, within what the event can hold.
    static std::uint32_t microsecondsPerQuarter(double bpm);
};
