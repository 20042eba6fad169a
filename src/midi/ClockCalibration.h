#pragma once

#include <cstdint>

// The processor's time-stamp counter and its calibration against CLOCK_MONOTONIC. Used by the
// StepClock at construction; the rounding is separate so that it can be checked on its own.
namespace ClockCalibration {

// Whether the processor has a time-stamp counter (CPUID function 1, EDX bit 4). Always false
// on processors other than x86.
bool tscPresent();

// The raw time-stamp counter; 0 where there is none.
std::uint64_t readTsc();

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t monotonicNs();

// Brings a cycles-per-millisecond figure to whole thousands the way the program always has:
// three times x = nearest(x * 0.1f), where only a fraction above one half rounds up, then
// x * 1000. The single-precision constant makes the roundings carry (2,394,449 -> 2,395,000).
// Non-positive and absurdly large inputs give 0, which means "no usable counter".
std::int32_t roundCyclesPerMs(std::int64_t cycles);

// One reading of both clocks at (nearly) the same instant.
struct ClockPair {
    std::uint64_t tsc = 0;
    std::int64_t ns = 0;
};

// The monotonic time bracketed by two counter reads, the narrowest bracket of several tries
// (about 30 ns): the pair least disturbed by an interrupt or a preemption. Takes a few
// microseconds. Two such pairs bound the rate's error by their brackets alone, however long
// the time between them is slept rather than spun.
ClockPair readTightPair();

// Counter cycles per millisecond between two (counter, monotonic) pairs, unrounded.
// 0 when the interval is empty or runs backwards.
double cyclesPerMsBetween(std::uint64_t tsc0, std::int64_t ns0, std::uint64_t tsc1,
                          std::int64_t ns1);

// Measures the counter's cycles per millisecond, unrounded, by busy-waiting durationMs on
// CLOCK_MONOTONIC between two tightly read (counter, monotonic) pairs. Each pair is the
// tightest of several reads (about 30 ns apart), so a preemption during the measurement (no
// real-time priority) costs time, not accuracy: 100 ms give a rate within a fraction of a part
// per million. 0 without a counter.
double measureCyclesPerMsExact(int durationMs);

// The program's figure: the measurement truncated to whole cycles, then roundCyclesPerMs.
std::int32_t measureCyclesPerMs(int durationMs);

}  // namespace ClockCalibration
