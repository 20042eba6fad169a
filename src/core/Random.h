#pragma once

#include <cstdint>

// The program's one pseudo-random generator: seeded once at start-up, used on the window
// thread only. It is the classic linear congruential rand() (15-bit results) so that a seed
// gives the same setups everywhere; tests seed it.
class Random {
public:
    static void seed(std::uint32_t value);
    // 0..32767.
    static int next();
    // next() modulo n; n must be positive.
    static int below(int n);

private:
    static std::uint32_t state;
};
