#pragma once

#include <cstdint>

#include "IntArray.h"
#include "StepValue.h"

// One step of a measure: whether it plays, its chord as note offsets from middle C, and the
// program, velocity, pan and duration sent with it. Owned by its Measure.
class Step {
public:
    Step();
    Step(const Step& other);
    Step& operator=(const Step& other);
    virtual ~Step() = default;

    // Generic access by value id; unknown ids read 0 and write nothing. No range checks:
    // the controls that produce values keep them in range.
    int getStepValue(int id) const;
    void setStepValue(int id, int value);
    int getStepValue(StepValue id) const { return getStepValue(static_cast<int>(id)); }
    void setStepValue(StepValue id, int value) { setStepValue(static_cast<int>(id), value); }

    // Moves the chord so that its first note lands on value (taken as 16 bits), keeping its
    // shape; an empty chord gets value as its only note.
    void setRoot(int value);
    // The chord as shown: never empty, a missing note becomes offset 0 first.
    const IntArray& notesForDisplay();
    void setNotes(const IntArray& offsets);

    std::int16_t on = 1;
    IntArray notes{0};
    std::int16_t program = 0;
    std::int16_t velocity = 100;
    std::int16_t pan = 64;
    std::int16_t duration = 30;
};
