#include "TextFormat.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace TextFormat {

std::string formatInt(int value) { return std::to_string(value); }

std::string formatReal(double value) {
    char text[64];
    const char* format = value == std::trunc(value) ? "%.0f" : "%.3f";
    std::snprintf(text, sizeof text, format, value);
    return text;
}

int parseInt(std::string_view text) {
    // strtol rather than atoi: out-of-range text saturates instead of being undefined.
    const std::string terminated(text);
    const long value = std::strtol(terminated.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

double parseReal(std::string_view text) {
    const std::string terminated(text);
    return std::strtod(terminated.c_str(), nullptr);
}

int roundHalfUp(double value) {
    const double truncated = std::trunc(value);
    int result = static_cast<int>(truncated);
    if (value - truncated >= 0.5) {
        ++result;
    }
    return result;
}

}  // namespace TextFormat
