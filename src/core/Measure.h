#pragma once

#include <array>
#include <cstdint>

#include "Step.h"

// One pattern slot (a "loop" to the user): sixteen steps and how playback chains onward.
class Measure {
public:
    static constexpr int kStepCount = 16;

    Measure() = default;
    explicit Measure(int ownIndex) : next(static_cast<std::int16_t>(ownIndex)) {}
    virtual ~Measure() = default;

    std::array<Step, kStepCount> steps;
    // The measure played after this one has played `repeats` passes; itself by default.
    std::int16_t next = 0;
    std::int16_t repeats = 1;
};
