#pragma once

#include <bitset>
#include <optional>

#include "core/IntArray.h"

// Gathers one chord as it is played on a keyboard: every key pressed from the first press until
// no key is held any more, however the presses and releases overlap, and the loudest of their
// velocities. Used by step recording; window thread only.
class ChordCollector {
public:
    struct Chord {
        // The keys as offsets from middle C, ascending, each once.
        IntArray offsets;
        int velocity = 0;
    };

    // Offsets are held within lowest..highest (the chord field's range); keys that land on the
    // same offset there count once.
    ChordCollector(int lowestOffset, int highestOffset);

    void press(int note, int velocity);
    // The chord once its last held key is up. A key that is not held (pressed before recording
    // began) changes nothing.
    std::optional<Chord> release(int note);
    bool isHeld() const { return held_.any(); }
    // Forgets the keys held and played so far.
    void clear();

    static constexpr int kMiddleC = 60;

private:
    static constexpr int kKeyCount = 128;

    int lowestOffset_;
    int highestOffset_;
    std::bitset<kKeyCount> held_;
    std::bitset<kKeyCount> played_;
    int velocity_ = 0;
};
