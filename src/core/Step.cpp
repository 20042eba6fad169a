#include "Step.h"

#include "Saturate.h"

Step::Step() = default;

Step::Step(const Step& other) { *this = other; }

Step& Step::operator=(const Step& other) {
    if (this == &other) {
        return *this;
    }
    on = other.on;
    program = other.program;
    velocity = other.velocity;
    pan = other.pan;
    duration = other.duration;
    notes.copy(other.notes);
    return *this;
}

int Step::getStepValue(int id) const {
    switch (static_cast<StepValue>(id)) {
        case StepValue::On:
            return on != 0 ? 1 : 0;
        case StepValue::Root:
            return notes.empty() ? 0 : static_cast<std::int16_t>(notes[0]);
        case StepValue::Program:
            return program;
        case StepValue::Velocity:
            return velocity;
        case StepValue::Pan:
            return pan;
        case StepValue::Duration:
            return duration;
    }
    return 0;
}

void Step::setStepValue(int id, int value) {
    switch (static_cast<StepValue>(id)) {
        case StepValue::On:
            on = value != 0 ? 1 : 0;
            return;
        case StepValue::Root:
            setRoot(value);
            return;
        case StepValue::Program:
            program = static_cast<std::int16_t>(value);
            return;
        case StepValue::Velocity:
            velocity = static_cast<std::int16_t>(value);
            return;
        case StepValue::Pan:
            pan = static_cast<std::int16_t>(value);
            return;
        case StepValue::Duration:
            duration = static_cast<std::int16_t>(value);
            return;
    }
}

void Step::setRoot(int value) {
    const std::int32_t root = static_cast<std::int16_t>(value);
    if (notes.empty()) {
        notes.add(root);
        return;
    }
    const std::int64_t shift = std::int64_t{root} - notes[0];
    for (std::ptrdiff_t i = 0; i < notes.size(); ++i) {
        notes[i] = saturateToInt32(notes[i] + shift);
    }
}

const IntArray& Step::notesForDisplay() {
    if (notes.empty()) {
        notes.add(0);
    }
    return notes;
}

void Step::setNotes(const IntArray& offsets) { notes.copy(offsets); }
