#include "ClockCalibration.h"

#include <ctime>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define GS_HAVE_TSC 1
#else
#define GS_HAVE_TSC 0
#endif

namespace ClockCalibration {

namespace {

// Reads of one (counter, monotonic) pair until one comes out tight.
constexpr int kPairAttempts = 32;

}  // namespace

ClockPair readTightPair() {
    ClockPair best;
    std::uint64_t bestGap = std::numeric_limits<std::uint64_t>::max();
    for (int attempt = 0; attempt < kPairAttempts; ++attempt) {
        const std::uint64_t before = readTsc();
        const std::int64_t ns = monotonicNs();
        const std::uint64_t after = readTsc();
        if (after < before) {
            continue;
        }
        const std::uint64_t gap = after - before;
        if (gap < bestGap) {
            bestGap = gap;
            best.tsc = before + gap / 2;
            best.ns = ns;
        }
    }
    return best;
}

bool tscPresent() {
#if GS_HAVE_TSC
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    return (edx & (1u << 4)) != 0;
#else
    return false;
#endif
}

std::uint64_t readTsc() {
#if GS_HAVE_TSC
    return __rdtsc();
#else
    return 0;
#endif
}

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int32_t roundCyclesPerMs(std::int64_t cycles) {
    if (cycles <= 0 || cycles > std::numeric_limits<std::int32_t>::max()) {
        return 0;
    }
    // The tenth is the single-precision constant (0x3DCCCCCD), a little above 0.1; the products
    // are formed in double precision. Both are kept on purpose: they decide the carries.
    const float tenth = 0.1f;
    const float thousand = 1000.0f;
    std::int64_t x = cycles;
    for (int round = 0; round < 3; ++round) {
        const double product = static_cast<double>(x) * static_cast<double>(tenth);
        std::int64_t whole = static_cast<std::int64_t>(product);
        if (product - static_cast<double>(whole) > 0.5) {
            ++whole;
        }
        x = whole;
    }
    return static_cast<std::int32_t>(static_cast<double>(x) * static_cast<double>(thousand));
}

double cyclesPerMsBetween(std::uint64_t tsc0, std::int64_t ns0, std::uint64_t tsc1,
                          std::int64_t ns1) {
    if (tsc1 <= tsc0 || ns1 <= ns0) {
        return 0.0;
    }
    return static_cast<double>(tsc1 - tsc0) * 1e6 / static_cast<double>(ns1 - ns0);
}

double measureCyclesPerMsExact(int durationMs) {
    if (!tscPresent() || durationMs <= 0) {
        return 0.0;
    }
    const ClockPair first = readTightPair();
    // Busy-wait rather than sleep: a long sleep lets the processor slow down or the host
    // deschedule the virtual CPU, and the pair after it comes out skewed.
    const std::int64_t end = first.ns + static_cast<std::int64_t>(durationMs) * 1'000'000;
    while (monotonicNs() < end) {
    }
    const ClockPair last = readTightPair();
    return cyclesPerMsBetween(first.tsc, first.ns, last.tsc, last.ns);
}

std::int32_t measureCyclesPerMs(int durationMs) {
    const double exact = measureCyclesPerMsExact(durationMs);
    if (!(exact >= 1.0 && exact < 9.0e18)) {
        return 0;
    }
    return roundCyclesPerMs(static_cast<std::int64_t>(exact));
}

}  // namespace ClockCalibration
