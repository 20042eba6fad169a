#pragma once

#include <string>
#include <string_view>

// Number <-> text conversions shared by the controls, the status line and the menus.
namespace TextFormat {

// "%d".
std::string formatInt(int value);
// "%.0f" for a whole number, "%.3f" otherwise.
std::string formatReal(double value);
// Leading number of the text, as the C library reads it; 0 when there is none.
int parseInt(std::string_view text);
double parseReal(std::string_view text);
// Truncate toward zero, then add 1 when the part cut off is at least 0.5.
int roundHalfUp(double value);

}  // namespace TextFormat
