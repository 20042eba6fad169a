#include "midi/DeviceClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

std::shared_ptr<DeviceClaim> DeviceClaim::take(const std::string& directory,
                                               const std::string& deviceName) {
    const std::string path = directory + "/" + fileNameFor(deviceName);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Without a place for the lock, each copy opens its own port.
        return waived();
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? nullptr : waived();
    }
    return std::shared_ptr<DeviceClaim>(new DeviceClaim(fd));
}

std::shared_ptr<DeviceClaim> DeviceClaim::waived() {
    return std::shared_ptr<DeviceClaim>(new DeviceClaim(-1));
}

DeviceClaim::~DeviceClaim() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string DeviceClaim::fileNameFor(const std::string& deviceName) {
    // FNV-1a: the same in every copy of the program, so all of them meet on one file.
    std::uint64_t hash = 14695981039346656037ULL;
    std::string readable;
    for (const char c : deviceName) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (readable.size() < 40) {
            readable += plain ? c : '_';
        }
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return "claim-" + readable + "-" + hex + ".lock";
}
