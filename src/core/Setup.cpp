#include "Setup.h"

#include "Random.h"

Setup::Setup() {
    for (int index = 0; index < kMeasureCount; ++index) {
        Measure& measure = measures[static_cast<std::size_t>(index)];
        measure.next = static_cast<std::int16_t>(index);
        for (Step& step : measure.steps) {
            step.setRoot(Random::below(128) - 60);
            step.program = static_cast<std::int16_t>(Random::below(128));
            step.velocity = static_cast<std::int16_t>(Random::below(128));
            step.pan = static_cast<std::int16_t>(Random::below(128));
            step.duration = static_cast<std::int16_t>(Random::below(128));
        }
    }
}
