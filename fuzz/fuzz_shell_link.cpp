// libFuzzer target for the shell-link reader. Any input must either parse or fail with
// ShellLinkError; a link that parses must give paths that resolve against a folder without
// a fault.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "document/ShellLinkReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ShellLink link;
    try {
        link = ShellLinkReader::parse(std::span<const std::uint8_t>(data, size), "fuzz.lnk");
    } catch (const ShellLinkError&) {
        return 0;
    }
    // Only paths that cannot exist, so the resolution never depends on the machine.
    try {
        const std::string target =
            ShellLinkReader::targetPath(link, "/nonexistent-fuzz-folder", "fuzz.lnk");
        if (target.empty()) {
            __builtin_trap();
        }
    } catch (const ShellLinkError&) {
    }
    return 0;
}
