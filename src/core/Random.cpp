#include "Random.h"

std::uint32_t Random::state = 1;

void Random::seed(std::uint32_t value) { state = value; }

int Random::next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

int Random::below(int n) { return next() % n; }
