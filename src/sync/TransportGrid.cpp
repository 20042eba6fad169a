#include "sync/TransportGrid.h"

#include <cmath>

namespace TransportGrid {

double sixteenthsPerBar(const Bbt& bbt) {
    if (!(bbt.beatsPerBar > 0.0)) {
        return 0.0;
    }
    return bbt.beatsPerBar * sixteenthsPerBeat(bbt.beatType);
}

double sixteenthsPerBeat(double beatType) {
    return beatType > 0.0 && std::isfinite(beatType) ? 16.0 / beatType : 0.0;
}

double framesPerSixteenth(double beatsPerMinute, double beatType, double frameRate) {
    if (!(beatsPerMinute > 0.0) || !(beatType > 0.0) || !(frameRate > 0.0)) {
        return 0.0;
    }
    return frameRate * 60.0 / beatsPerMinute / sixteenthsPerBeat(beatType);
}

double barStartBeats(const Bbt& bbt) {
    if (bbt.ticksPerBeat > 0.0 && (bbt.barStartTick > 0.0 || bbt.bar <= 1)) {
        return std::fmax(bbt.barStartTick, 0.0) / bbt.ticksPerBeat;
    }
    return static_cast<double>(bbt.bar - 1) * std::fmax(bbt.beatsPerBar, 0.0);
}

double beatsOf(const Bbt& bbt) {
    const double tick = bbt.exactTick >= 0.0 ? bbt.exactTick : static_cast<double>(bbt.tick);
    const double intoBeat = bbt.ticksPerBeat > 0.0 ? tick / bbt.ticksPerBeat : 0.0;
    return barStartBeats(bbt) + static_cast<double>(bbt.beat - 1) + intoBeat;
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
    bbt.exactTick =
        std::fmin((beats - whole) * bbt.ticksPerBeat, std::nextafter(bbt.ticksPerBeat, 0.0));
    auto tick = static_cast<std::int32_t>(bbt.exactTick);
    if (tick >= static_cast<std::int32_t>(bbt.ticksPerBeat)) {
        tick = static_cast<std::int32_t>(bbt.ticksPerBeat) - 1;
    }
    const auto beatIndex = static_cast<std::int64_t>(whole);
    bbt.bar = static_cast<std::int32_t>(beatIndex / 4 + 1);
    bbt.beat = static_cast<std::int32_t>(beatIndex % 4 + 1);
    bbt.tick = tick;
    bbt.barStartTick = static_cast<double>(bbt.bar - 1) * bbt.beatsPerBar * bbt.ticksPerBeat;
    return bbt;
}

}  // namespace TransportGrid
