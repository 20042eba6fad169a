#include "sync/BeatTracker.h"

#include <algorithm>
#include <cmath>

double BeatTracker::track(std::uint32_t cycleFrame, double measured, double resolution,
                          double beatsPerFrame, bool continuous) {
    double beats = measured;
    if (resolution > 0.0 && have_ && continuous) {
        const double counted =
            beats_ +
            static_cast<double>(static_cast<std::int32_t>(cycleFrame - frame_)) * beatsPerFrame;
        // Within a tick or two of the report: the same steady grid, kept inside this tick.
        // Further off, the grid moved, and the count starts afresh.
        if (counted >= measured - 2.0 * resolution && counted <= measured + 3.0 * resolution) {
            beats = std::clamp(counted, measured, measured + resolution);
        }
    }
    if (resolution <= 0.0) {
        beats = measured;
    }
    have_ = true;
    frame_ = cycleFrame;
    beats_ = beats;
    return beats;
}
