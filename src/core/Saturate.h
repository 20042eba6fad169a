#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

// Note offsets from files and the clipboard may hold any 32-bit value, so sums of them are
// taken in 64 bits and held at the nearest end of the 32-bit range.
inline std::int32_t saturateToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}
