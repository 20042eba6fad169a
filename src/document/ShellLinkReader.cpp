#include "ShellLinkReader.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "TextEncoding.h"

namespace {

namespace fs = std::filesystem;

// CLSID 00021401-0000-0000-C000-000000000046 in its stored byte order.
constexpr std::array<std::uint8_t, 16> kLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::size_t kLinkFlagsOffset = 20;
// LinkInfo: the header without and with the two Unicode offsets.
constexpr std::uint32_t kLinkInfoMinHeaderSize = 0x1C;
constexpr std::uint32_t kLinkInfoUnicodeHeaderSize = 0x24;

ShellLinkError notALink(const std::string& linkName) {
    return ShellLinkError(linkName + " is not a shortcut.");
}

ShellLinkError damaged(const std::string& linkName, const std::string& what) {
    return ShellLinkError(linkName + " is a damaged shortcut: " + what + ".");
}

std::uint16_t readUint16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t readUint32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

// Text stops at its first NUL, as the shell's own string handling would.
std::string untilNul(std::string text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

std::string utf16Text(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint16_t> units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint16_t unit = readUint16(bytes, i);
        if (unit == 0) {
            break;
        }
        units.push_back(unit);
    }
    return TextEncoding::utf16ToUtf8(units);
}

std::string ansiText(std::span<const std::uint8_t> bytes) {
    const std::string raw(bytes.begin(), bytes.end());
    return TextEncoding::fileTextToUtf8(untilNul(raw));
}

// A NUL-terminated string inside the LinkInfo block, at an offset from its start.
std::string linkInfoString(std::span<const std::uint8_t> linkInfo, std::uint32_t offset, bool wide,
                           const std::string& linkName) {
    if (offset >= linkInfo.size()) {
        throw damaged(linkName, "a path in its link information lies outside it");
    }
    const std::span<const std::uint8_t> rest = linkInfo.subspan(offset);
    if (!wide) {
        const auto end = std::find(rest.begin(), rest.end(), 0);
        if (end == rest.end()) {
            throw damaged(linkName, "a path in its link information is not terminated");
        }
        return ansiText(rest.first(static_cast<std::size_t>(end - rest.begin())));
    }
    for (std::size_t i = 0; i + 1 < rest.size(); i += 2) {
        if (readUint16(rest, i) == 0) {
            return utf16Text(rest.first(i));
        }
    }
    throw damaged(linkName, "a path in its link information is not terminated");
}

// LinkInfo's local base path followed by its common path suffix; empty when the link does
// not carry one.
std::string localBasePath(std::span<const std::uint8_t> linkInfo, const std::string& linkName) {
    const std::uint32_t headerSize = readUint32(linkInfo, 4);
    const std::uint32_t flags = readUint32(linkInfo, 8);
    if ((flags & ShellLinkReader::kVolumeIdAndLocalBasePath) == 0) {
        return {};
    }
    const std::uint32_t baseOffset = readUint32(linkInfo, 16);
    const std::uint32_t suffixOffset = readUint32(linkInfo, 24);
    std::optional<std::uint32_t> baseOffsetUnicode;
    std::optional<std::uint32_t> suffixOffsetUnicode;
    if (headerSize >= kLinkInfoUnicodeHeaderSize) {
        baseOffsetUnicode = readUint32(linkInfo, 28);
        suffixOffsetUnicode = readUint32(linkInfo, 32);
    }
    std::string base = baseOffsetUnicode && *baseOffsetUnicode != 0
                           ? linkInfoString(linkInfo, *baseOffsetUnicode, true, linkName)
                           : linkInfoString(linkInfo, baseOffset, false, linkName);
    std::string suffix;
    if (suffixOffsetUnicode && *suffixOffsetUnicode != 0) {
        suffix = linkInfoString(linkInfo, *suffixOffsetUnicode, true, linkName);
    } else if (suffixOffset != 0) {
        suffix = linkInfoString(linkInfo, suffixOffset, false, linkName);
    }
    if (!suffix.empty() && !base.empty() && base.back() != '\\') {
        base += '\\';
    }
    return base + suffix;
}

bool isWindowsPath(const std::string& path) {
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive || path.starts_with("\\\\");
}

std::string lastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool pathExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

}  // namespace

ShellLink ShellLinkReader::parse(std::span<const std::uint8_t> bytes, const std::string& linkName) {
    if (bytes.size() < kHeaderSize || readUint32(bytes, 0) != kHeaderSize ||
        !std::equal(kLinkClsid.begin(), kLinkClsid.end(), bytes.begin() + 4)) {
        throw notALink(linkName);
    }
    ShellLink link;
    link.linkFlags = readUint32(bytes, kLinkFlagsOffset);
    std::size_t position = kHeaderSize;

    if ((link.linkFlags & kHasLinkTargetIdList) != 0) {
        if (bytes.size() - position < 2) {
            throw damaged(linkName, "its item list runs past its end");
        }
        const std::size_t idListSize = readUint16(bytes, position);
        position += 2;
        if (bytes.size() - position < idListSize) {
            throw damaged(linkName, "its item list runs past its end");
        }
        position += idListSize;
    }

    if ((link.linkFlags & kHasLinkInfo) != 0) {
        if (bytes.size() - position < kLinkInfoMinHeaderSize) {
            throw damaged(linkName, "its link information runs past its end");
        }
        const std::uint32_t linkInfoSize = readUint32(bytes, position);
        const std::uint32_t headerSize = readUint32(bytes, position + 4);
        if (linkInfoSize > bytes.size() - position) {
            throw damaged(linkName, "its link information runs past its end");
        }
        if (linkInfoSize < kLinkInfoMinHeaderSize || headerSize < kLinkInfoMinHeaderSize ||
            headerSize > linkInfoSize ||
            (headerSize > kLinkInfoMinHeaderSize && headerSize < kLinkInfoUnicodeHeaderSize)) {
            throw damaged(linkName, "its link information has impossible sizes");
        }
        if ((link.linkFlags & kForceNoLinkInfo) == 0) {
            link.localBasePath = localBasePath(bytes.subspan(position, linkInfoSize), linkName);
        }
        position += linkInfoSize;
    }

    // The StringData fields come in a fixed order, each there when its flag is set.
    const bool unicode = (link.linkFlags & kIsUnicode) != 0;
    for (const std::uint32_t flag : {kHasName, kHasRelativePath}) {
        if ((link.linkFlags & flag) == 0) {
            continue;
        }
        if (bytes.size() - position < 2) {
            throw damaged(linkName, "its text fields run past its end");
        }
        const std::size_t length = std::size_t{readUint16(bytes, position)} * (unicode ? 2 : 1);
        position += 2;
        if (bytes.size() - position < length) {
            throw damaged(linkName, "its text fields run past its end");
        }
        const std::span<const std::uint8_t> text = bytes.subspan(position, length);
        std::string& field = flag == kHasName ? link.name : link.relativePath;
        field = unicode ? utf16Text(text) : ansiText(text);
        position += length;
    }
    return link;
}

ShellLink ShellLinkReader::readFile(const std::string& linkPath) {
    // Only regular files: a named pipe or device ending in .lnk would block or never end.
    std::error_code error;
    if (!fs::is_regular_file(linkPath, error)) {
        throw ShellLinkError(linkPath + " could not be read.");
    }
    std::ifstream file(linkPath, std::ios::binary);
    std::vector<std::uint8_t> bytes(kMaxLinkBytes);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file.bad() || !file.is_open()) {
        throw ShellLinkError(linkPath + " could not be read.");
    }
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return parse(bytes, linkPath);
}

std::string ShellLinkReader::targetPath(const ShellLink& link, const std::string& linkFolder,
                                        const std::string& linkName) {
    const fs::path folder(linkFolder);
    std::vector<fs::path> candidates;
    const auto addCandidate = [&](const std::string& stored) {
        if (stored.empty()) {
            return;
        }
        if (isWindowsPath(stored)) {
            const std::string fileName = lastComponent(stored);
            if (!fileName.empty() && fileName != "." && fileName != "..") {
                candidates.push_back(folder / fileName);
            }
            return;
        }
        std::string local = stored;
        std::replace(local.begin(), local.end(), '\\', '/');
        const fs::path path(local);
        candidates.push_back(path.is_absolute() ? path.lexically_normal()
                                                : (folder / path).lexically_normal());
    };
    addCandidate(link.relativePath);
    addCandidate(link.localBasePath);
    if (candidates.empty()) {
        throw ShellLinkError(linkName + " does not point to a file.", ShellLinkError::Kind::NoPath);
    }
    const auto found = std::find_if(candidates.begin(), candidates.end(), pathExists);
    return (found != candidates.end() ? *found : candidates.front()).string();
}

std::string ShellLinkReader::ResolveShortcut(const std::string& linkPath) {
    const ShellLink link = readFile(linkPath);
    std::error_code error;
    fs::path absolute = fs::absolute(linkPath, error);
    if (error) {
        absolute = linkPath;
    }
    return targetPath(link, absolute.parent_path().string(), linkPath);
}
