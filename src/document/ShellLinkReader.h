#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

// A shortcut file that cannot be read or does not name a file. what() is the complete text,
// naming the shortcut.
class ShellLinkError : public std::runtime_error {
public:
    // Unreadable: missing, damaged or no link at all. NoPath: a sound link that holds no
    // path to a file, the one failure an open reports to the user.
    enum class Kind { Unreadable, NoPath };

    explicit ShellLinkError(const std::string& message, Kind kind = Kind::Unreadable)
        : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The parts of a Windows shell link (.lnk) that locate its target. Text is UTF-8; a field the
// link does not carry is empty.
struct ShellLink {
    std::uint32_t linkFlags = 0;
    // NAME_STRING: the description shown by the shell.
    std::string name;
    // RELATIVE_PATH, as stored: relative to the folder of the link, with backslashes.
    std::string relativePath;
    // LinkInfo's local base path with its common path suffix appended (the Unicode forms when
    // the link carries them), as stored: usually a Windows path such as C:\Setups\song.qov.
    std::string localBasePath;
};

// Our own reader of the shell-link binary format ([MS-SHLLINK]): the ShellLinkHeader, the
// LinkTargetIDList (skipped), the LinkInfo's local base path and the StringData up to
// RELATIVE_PATH; extra data blocks are ignored. Links come from other machines and from
// anyone, so every size, offset and count is checked against the bytes that are there, and a
// damaged link ends in ShellLinkError, never in a read past the end or a large allocation.
class ShellLinkReader {
public:
    // Only this much of a file is read: everything the reader needs lies well inside it, and
    // the extra data after it is not looked at.
    static constexpr std::size_t kMaxLinkBytes = 1024 * 1024;
    static constexpr std::uint32_t kHeaderSize = 0x4C;

    // LinkFlags bits.
    static constexpr std::uint32_t kHasLinkTargetIdList = 0x01;
    static constexpr std::uint32_t kHasLinkInfo = 0x02;
    static constexpr std::uint32_t kHasName = 0x04;
    static constexpr std::uint32_t kHasRelativePath = 0x08;
    static constexpr std::uint32_t kIsUnicode = 0x80;
    static constexpr std::uint32_t kForceNoLinkInfo = 0x100;
    // LinkInfoFlags bit: VolumeID and LocalBasePath are present.
    static constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x01;

    // Parses the bytes of a link; linkName names it in error texts.
    static ShellLink parse(std::span<const std::uint8_t> bytes, const std::string& linkName);
    // Reads (the first kMaxLinkBytes of) a regular file and parses it.
    static ShellLink readFile(const std::string& linkPath);

    // The path of the file the link at linkPath points to. Candidates, in order:
    //  1. the relative path, resolved against the link's own folder;
    //  2. the local base path when it is an absolute path of this system (/...);
    //  3. for a Windows path (C:\... or \\server\...), which cannot exist here, the same file
    //     name in the link's folder, so that a shortcut copied together with its setup works.
    // The first candidate that exists wins; when none exists the first one is returned so the
    // caller's check reports the path as not found. Throws ShellLinkError when the link cannot
    // be read or names no file at all.
    static std::string ResolveShortcut(const std::string& linkPath);
    // The same for an already parsed link lying in linkFolder.
    static std::string targetPath(const ShellLink& link, const std::string& linkFolder,
                                  const std::string& linkName);
};
