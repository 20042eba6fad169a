#include "app/ChordCollector.h"

#include <algorithm>

ChordCollector::ChordCollector(int lowestOffset, int highestOffset)
    : lowestOffset_(lowestOffset), highestOffset_(highestOffset) {}

void ChordCollector::press(int note, int velocity) {
    if (note < 0 || note >= kKeyCount) {
        return;
    }
    const auto key = static_cast<std::size_t>(note);
    held_.set(key);
    played_.set(key);
    velocity_ = std::max(velocity_, velocity);
}

std::optional<ChordCollector::Chord> ChordCollector::release(int note) {
    if (note < 0 || note >= kKeyCount || !held_.test(static_cast<std::size_t>(note))) {
        return std::nullopt;
    }
    held_.reset(static_cast<std::size_t>(note));
    if (held_.any()) {
        return std::nullopt;
    }
    Chord chord;
    chord.velocity = velocity_;
    // Keys in ascending order give ascending offsets; clamping keeps the order, so a repeat
    // can only follow its equal.
    for (int key = 0; key < kKeyCount; ++key) {
        if (!played_.test(static_cast<std::size_t>(key))) {
            continue;
        }
        const int offset = std::clamp(key - kMiddleC, lowestOffset_, highestOffset_);
        if (chord.offsets.empty() || chord.offsets[chord.offsets.size() - 1] != offset) {
            chord.offsets.add(offset);
        }
    }
    clear();
    return chord;
}

void ChordCollector::clear() {
    held_.reset();
    played_.reset();
    velocity_ = 0;
}
