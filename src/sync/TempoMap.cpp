#include "sync/TempoMap.h"

#include <cmath>

TempoMap::TempoMap(double beatsPerMinute, double frameRate) {
    restart(beatsPerMinute, frameRate);
}

void TempoMap::restart(double beatsPerMinute, double frameRate) {
    frameRate_ = frameRate > 0.0 ? frameRate : 48000.0;
    points_[0] = Point{0, 0.0, beatsPerMinute};
    count_ = 1;
}

void TempoMap::change(std::int64_t frame, double beatsPerMinute) {
    if (!(beatsPerMinute > 0.0) || !std::isfinite(beatsPerMinute)) {
        return;
    }
    const Point next{frame, beatsAt(frame), beatsPerMinute};
    while (count_ > 0 && points_[static_cast<std::size_t>(count_ - 1)].frame >= frame) {
        --count_;
    }
    if (count_ == kCapacity) {
        count_ = 0;
    }
    points_[static_cast<std::size_t>(count_)] = next;
    ++count_;
}

const TempoMap::Point& TempoMap::pointAt(std::int64_t frame) const {
    int index = count_ - 1;
    while (index > 0 && points_[static_cast<std::size_t>(index)].frame > frame) {
        --index;
    }
    return points_[static_cast<std::size_t>(index)];
}

double TempoMap::beatsAt(std::int64_t frame) const {
    const Point& point = pointAt(frame);
    const double beats = point.beats + static_cast<double>(frame - point.frame) *
                                           point.beatsPerMinute / 60.0 / frameRate_;
    return std::fmax(beats, 0.0);
}

double TempoMap::tempoAt(std::int64_t frame) const {
    return pointAt(frame).beatsPerMinute;
}
