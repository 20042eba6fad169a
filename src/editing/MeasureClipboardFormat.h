#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Measure.h"

// Clipboard data that cannot be read as sixteen steps. what() is the complete text shown to
// the user; the measure the data was meant for is left as it was.
class MeasureClipboardError : public std::runtime_error {
public:
    explicit MeasureClipboardError(const std::string& message) : std::runtime_error(message) {}
};

// The byte layouts of a measure on the clipboard: sixteen steps, step 0 first, nothing else
// (no header, no version, no `next` or `repeats`), little-endian and unpadded. Layout 3 keeps
// the whole chord; layout 2 is the older one with a single 16-bit note per step, still written
// so that older copies of the program can paste. The clipboard access itself lives with the
// window; this class only turns steps into bytes and back.
class MeasureClipboardFormat {
public:
    // The clipboard format names; both are registered and written on every copy.
    static constexpr const char* kFormatV3Name = "GlimmerstaveLoopv3";
    static constexpr const char* kFormatV2Name = "GlimmerstaveLoopv2";
    static constexpr int kLayoutV3 = 3;
    static constexpr int kLayoutV2 = 2;

    // Layout 3 counts notes with a 16-bit value; this value announces a 32-bit count instead.
    static constexpr std::uint16_t kWideCountMarker = 0xFFFF;

    // Shown when the data ends before the sixteenth step (or a count promises more notes than
    // the data holds).
    static constexpr const char* kEndOfDataMessage =
        "An attempt was made to access the clipboard data past its end.";

    // Per step: on (int16), note count (uint16, or 0xFFFF and a uint32), the notes (int32
    // each), program, velocity, pan, duration (int16 each).
    static std::vector<std::uint8_t> encodeV3(const Measure& measure);
    // Per step: on, the first note truncated to 16 bits (0 for a step without notes), program,
    // velocity, pan, duration, all int16.
    static std::vector<std::uint8_t> encodeV2(const Measure& measure);

    // Reads sixteen steps of the given layout into target's steps; bytes after the sixteenth
    // step are ignored (clipboard blocks may be longer than their data). A layout-2 step gets
    // exactly one note, its 16-bit value sign-extended. On any error target is unchanged and
    // MeasureClipboardError is thrown; every count is checked against the bytes left before
    // anything is allocated. An unknown layout throws std::invalid_argument.
    static void decode(std::span<const std::uint8_t> bytes, int layout, Measure& target);
    static void decodeV3(std::span<const std::uint8_t> bytes, Measure& target) {
        decode(bytes, kLayoutV3, target);
    }
    static void decodeV2(std::span<const std::uint8_t> bytes, Measure& target) {
        decode(bytes, kLayoutV2, target);
    }
};
