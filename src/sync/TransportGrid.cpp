#include "sync/TransportGrid.h"

#include <cmath>

namespace TransportGrid {

double sixteenthsPerBar(const Bbt& bbt) {
    if (!(bbt.beatsPerBar > 0.0) || !(bbt.beatType > 0.0)) {
        return 0.0;
    }
    return bbt.beatsPerBar * 16.0 / bbt.beatType;
}

double framesPerSixteenth(double beatsPerMinute, double beatType, double frameRate) {
    if (!(beatsPerMinute > 0.0) || !(beatType > 0.0) || !(frameRate > 0.0)) {
        return 0.0;
    }
    // A beat of type t lasts 16 / t sixteenths.
    return frameRate * 60.0 / beatsPerMinute / (16.0 / beatType);
}

int stepInMeasure(std::int64_t sixteenth, double perBar, int visibleSteps) {
    if (visibleSteps <= 0) {
        return 0;
    }
    std::int64_t sinceBar = sixteenth;
    const auto wholeBar = static_cast<std::int64_t>(std::llround(perBar));
    if (wholeBar > 0) {
        sinceBar = ((sixteenth % wholeBar) + wholeBar) % wholeBar;
    }
    return static_cast<int>(((sinceBar % visibleSteps) + visibleSteps) % visibleSteps);
}

Bbt bbtForBeats(double beats, double beatsPerMinute) {
    Bbt bbt;
    bbt.beatsPerMinute = beatsPerMinute;
    const double whole = std::floor(beats);
    auto tick = static_cast<std::int32_t>((beats - whole) * bbt.ticksPerBeat);
    if (tick >= static_cast<std::int32_t>(bbt.ticksPerBeat)) {
        tick = static_cast<std::int32_t>(bbt.ticksPerBeat) - 1;
    }
    const auto beatIndex = static_cast<std::int64_t>(whole);
    bbt.bar = static_cast<std::int32_t>(beatIndex / 4 + 1);
    bbt.beat = static_cast<std::int32_t>(beatIndex % 4 + 1);
    bbt.tick = tick;
    return bbt;
}

}  // namespace TransportGrid
