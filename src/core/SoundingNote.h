#pragma once

#include <cstdint>

// A note the engine has struck and not yet released. `note` + 60 is the MIDI note number.
struct SoundingNote {
    // Countdown value that is never decreased: the note is held until stopped or struck again.
    static constexpr std::int32_t kHeld = 17;

    std::int32_t note = 0;
    std::int32_t countdown = 0;
};
