#pragma once

#include <array>
#include <cstdint>

// A running straight-line fit of MIDI clock ticks against the times they arrived: the tick
// period (the tempo) is the slope over the last kWindow ticks, and a tick's time is read off
// the line rather than taken as it came. A source whose ticks wobble (a hardware clock, a
// clock sent over a busy cable) thus places the steps no less steadily than it ticks on the
// average. A tempo change has left the fit after kWindow ticks, one beat.
//
// A tick further off the line than kReanchorShare of a period is held back: alone, it is a
// glitch of the time stamps and is left out of the fit; followed by another such tick (a jump
// of tempo, a pause) it would drag the fit for a whole window, so the fit starts again from
// the two.
//
// A plain value: no allocation, no locking; the owner keeps it to one thread.
class TickFit {
public:
    static constexpr int kWindow = 24;
    static constexpr double kReanchorShare = 0.35;
    static constexpr int kJudgeAfter = 4;

    // Forgets every tick; periodUs is what the period is taken to be until two ticks are in.
    void reset(double periodUs);
    // Tick number `tick` (one more than the last, or any number after a reset) arrived at
    // timeUs. Returns false when the fit started again from it (or left it out).
    bool add(std::int64_t tick, std::int64_t timeUs);

    bool empty() const { return count_ == 0; }
    std::int64_t lastTick() const { return lastTick_; }
    // The fitted time of `tick`, near the last one (before it, or the next one to come).
    std::int64_t timeOf(std::int64_t tick) const;
    double periodUs() const { return periodUs_; }

private:
    void append(std::int64_t tick, std::int64_t timeUs);
    void refit();

    struct Point {
        std::int64_t tick = 0;
        std::int64_t timeUs = 0;
    };
    std::array<Point, kWindow> points_{};
    int count_ = 0;
    int next_ = 0;  // where the next point goes
    std::int64_t lastTick_ = 0;
    // A tick off the line, held back until the next one says whether it was a glitch.
    bool holding_ = false;
    Point held_{};
    // The line: time = lineTimeUs_ + (tick - lineTick_) * periodUs_.
    std::int64_t lineTick_ = 0;
    double lineTimeUs_ = 0.0;
    double periodUs_ = 20833.0;
};
