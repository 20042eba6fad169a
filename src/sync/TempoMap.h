#pragma once

#include <array>
#include <cstdint>

// The beats of the transport while this program is its timebase master: which beat each
// transport frame falls on when the tempo changes along the way. A change counts from the frame
// at which it is made, the beats before it keep their frames, so beats run on continuously as
// in any sequencer; a relocation finds its beat through the tempos that were played there.
// A change made at a frame forgets the changes recorded after it.
//
// Fixed capacity and no allocation: the JACK process thread keeps it. When full, it keeps only
// the latest change (the frames before it then count back at that tempo).
class TempoMap {
public:
    static constexpr int kCapacity = 64;

    explicit TempoMap(double beatsPerMinute = 120.0, double frameRate = 48000.0);

    // Forgets every change: the tempo is beatsPerMinute from frame 0 on.
    void restart(double beatsPerMinute, double frameRate);
    // The tempo becomes beatsPerMinute at transport frame `frame`.
    void change(std::int64_t frame, double beatsPerMinute);
    // Beats since frame 0 (bar 1, beat 1) at a transport frame; never below 0.
    double beatsAt(std::int64_t frame) const;
    double tempoAt(std::int64_t frame) const;
    double frameRate() const { return frameRate_; }
    int changes() const { return count_; }

private:
    struct Point {
        std::int64_t frame = 0;
        double beats = 0.0;
        double beatsPerMinute = 120.0;
    };
    // The point whose tempo holds at `frame`.
    const Point& pointAt(std::int64_t frame) const;

    std::array<Point, kCapacity> points_{};
    int count_ = 1;
    double frameRate_ = 48000.0;
};
