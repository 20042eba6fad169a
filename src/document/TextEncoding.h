#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Conversions between the 8-bit and 16-bit text of setup files and the UTF-8 the program keeps
// in memory. Files written on the desktop the program came from hold Windows-1252 text; files
// written here hold UTF-8.
namespace TextEncoding {

bool isValidUtf8(std::string_view bytes);
// Every byte as its Windows-1252 character; the five unassigned bytes map to U+0081, U+008D,
// U+008F, U+0090 and U+009D as the platform did.
std::string windows1252ToUtf8(std::string_view bytes);
// The stored 8-bit text: kept when it is valid UTF-8, otherwise read as Windows-1252.
std::string fileTextToUtf8(std::string_view bytes);
// UTF-16 code units (already in host order); a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::span<const std::uint16_t> units);

}  // namespace TextEncoding
