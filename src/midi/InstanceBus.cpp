#include "midi/InstanceBus.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kMagic = 0x42534c47;  // "GLSB": a Glimmerstave bus packet
constexpr const char* kSocketSuffix = ".bus";
// A full receiver is tried again this often until it takes the message or goes away.
constexpr int kRetryMilliseconds = 2;
// An instance that has left this many messages unread has stopped reading altogether (it is
// suspended or hung); more are not kept for it.
constexpr std::size_t kMaxWaiting = 4096;

bool makeAddress(const std::string& path, sockaddr_un& address) {
    // sun_path holds 107 characters and the terminator; a longer path is refused, never cut.
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

sockaddr* asSockaddr(sockaddr_un& address) {
    return reinterpret_cast<sockaddr*>(&address);  // the socket API's own convention
}

bool endsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() > length && text.compare(text.size() - length, length, suffix) == 0;
}

// Anyone who can write the directory could post messages into the program: only a directory
// of our own that nobody else can write will do.
bool preparePrivateDirectory(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "Cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = path + " is not a directory";
        return false;
    }
    if (status.st_uid != ::geteuid()) {
        error = path + " belongs to another user";
        return false;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = path + " can be written by other users";
        return false;
    }
    if ((status.st_mode & 0077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        error = "Cannot make " + path + " private: " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

std::string InstanceBus::defaultDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return std::string(runtime) + "/glimmerstave";
    }
    return "/tmp/glimmerstave-" + std::to_string(::geteuid());
}

InstanceBus::InstanceBus(QObject* parent) : QObject(parent) {
    retryTimer_.setInterval(kRetryMilliseconds);
    connect(&retryTimer_, &QTimer::timeout, this, &InstanceBus::retryPending);
}

InstanceBus::~InstanceBus() {
    if (fd_ >= 0) {
        delete notifier_;
        ::close(fd_);
        ::unlink(ownPath_.c_str());
    }
}

bool InstanceBus::start(const std::string& directory, std::int64_t instanceId) {
    if (fd_ >= 0) {
        errorText_ = "The instance bus is already running";
        return false;
    }
    if (!preparePrivateDirectory(directory, errorText_)) {
        return false;
    }
    const std::string path = directory + "/" + std::to_string(instanceId) + kSocketSuffix;
    sockaddr_un address;
    if (!makeAddress(path, address)) {
        errorText_ = "The socket path is too long: " + path;
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        errorText_ = std::string("Cannot make a socket: ") + std::strerror(errno);
        return false;
    }
    // A socket with our id can only be left over from an earlier process that had our pid.
    ::unlink(path.c_str());
    if (::bind(fd, asSockaddr(address), sizeof address) != 0) {
        errorText_ = "Cannot bind " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    ::chmod(path.c_str(), 0600);
    fd_ = fd;
    directory_ = directory;
    ownPath_ = path;
    instanceId_ = instanceId;
    errorText_.clear();
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InstanceBus::readPending);
    return true;
}

int InstanceBus::broadcast(int message, std::intptr_t wParam, std::intptr_t lParam) {
    if (fd_ < 0) {
        // Without a bus this instance still hears itself, as a window hears its own posts.
        QMetaObject::invokeMethod(
            this,
            [this, message, wParam, lParam] {
                Q_EMIT messageReceived(message, static_cast<qintptr>(wParam),
                                       static_cast<qintptr>(lParam));
            },
            Qt::QueuedConnection);
        return 1;
    }
    const Packet packet{kMagic, message, static_cast<std::int64_t>(wParam),
                        static_cast<std::int64_t>(lParam)};

    std::vector<std::string> receivers{ownPath_};
    if (DIR* listing = ::opendir(directory_.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            const std::string path = directory_ + "/" + name;
            if (endsWith(name, kSocketSuffix) && path != ownPath_) {
                receivers.push_back(path);
            }
        }
        ::closedir(listing);
    }
    // Own socket first, the others in a fixed order; at most kMaxReceivers of them.
    std::sort(receivers.begin() + 1, receivers.end());
    if (receivers.size() > static_cast<std::size_t>(kMaxReceivers)) {
        receivers.resize(kMaxReceivers);
    }

    int reached = 0;
    for (const std::string& path : receivers) {
        auto waiting = pending_.find(path);
        if (waiting != pending_.end()) {
            // Keep the order: this one waits behind the earlier ones.
            if (waiting->second.size() < kMaxWaiting) {
                waiting->second.push_back(packet);
                ++reached;
            }
            continue;
        }
        switch (sendTo(path, packet)) {
            case SendResult::Sent:
                ++reached;
                break;
            case SendResult::Busy:
                pending_[path].push_back(packet);
                retryTimer_.start();
                ++reached;
                break;
            case SendResult::Gone:
                if (path != ownPath_) {
                    ::unlink(path.c_str());
                }
                break;
            case SendResult::Failed:
                break;
        }
    }
    return reached;
}

InstanceBus::SendResult InstanceBus::sendTo(const std::string& path, const Packet& packet) {
    sockaddr_un address;
    if (!makeAddress(path, address)) {
        return SendResult::Failed;
    }
    for (;;) {
        const ssize_t sent = ::sendto(fd_, &packet, sizeof packet, MSG_DONTWAIT | MSG_NOSIGNAL,
                                      asSockaddr(address), sizeof address);
        if (sent == static_cast<ssize_t>(sizeof packet)) {
            return SendResult::Sent;
        }
        if (sent >= 0) {
            return SendResult::Failed;
        }
        switch (errno) {
            case EINTR:
                continue;
            case EAGAIN:
                return SendResult::Busy;
            case ECONNREFUSED:  // nobody reads this socket any more
                return SendResult::Gone;
            default:  // ENOENT: gone since the listing; anything else: not ours to judge
                return SendResult::Failed;
        }
    }
}

void InstanceBus::readPending() {
    Packet packet{};
    for (;;) {
        const ssize_t received = ::recv(fd_, &packet, sizeof packet, MSG_DONTWAIT | MSG_TRUNC);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        // Only whole packets of our own kind count; anything else is dropped.
        if (received != static_cast<ssize_t>(sizeof packet) || packet.magic != kMagic) {
            continue;
        }
        Q_EMIT messageReceived(packet.message, static_cast<qintptr>(packet.wParam),
                               static_cast<qintptr>(packet.lParam));
    }
}

void InstanceBus::retryPending() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        std::deque<Packet>& queue = it->second;
        bool gone = false;
        while (!queue.empty()) {
            const SendResult result = sendTo(it->first, queue.front());
            if (result == SendResult::Busy) {
                break;
            }
            if (result == SendResult::Gone || result == SendResult::Failed) {
                gone = result == SendResult::Gone;
                queue.clear();
                break;
            }
            queue.pop_front();
        }
        if (gone && it->first != ownPath_) {
            ::unlink(it->first.c_str());
        }
        it = queue.empty() ? pending_.erase(it) : std::next(it);
    }
    if (pending_.empty()) {
        retryTimer_.stop();
    }
}
