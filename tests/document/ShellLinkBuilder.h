#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes shell-link (.lnk) files as the shell does ([MS-SHLLINK]), so the tests can hand the
// reader real links and then damage them at known places. Text is given as UTF-8; ANSI fields
// are written byte for byte.
struct ShellLinkBuilder {
    bool unicode = true;
    // A LinkTargetIDList of this many bytes (its content is not interpreted by the reader).
    std::optional<std::size_t> idListSize;
    // LinkInfo with a VolumeID and this local base path (ANSI), the optional Unicode one and
    // the common path suffix.
    std::optional<std::string> localBasePath;
    std::optional<std::string> localBasePathUnicode;
    std::string commonPathSuffix;
    bool forceNoLinkInfo = false;
    std::optional<std::string> name;
    std::optional<std::string> relativePath;
    // Bytes appended after the string data (extra data blocks and the terminal block).
    std::vector<std::uint8_t> extraData = {0, 0, 0, 0};

    std::vector<std::uint8_t> build() const;
    void writeTo(const std::string& path) const;

    // Where the LinkInfo block starts in what build() returns.
    std::size_t linkInfoOffset() const;
    // Where the first StringData field starts.
    std::size_t stringDataOffset() const;
};
