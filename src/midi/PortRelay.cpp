#include "midi/PortRelay.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "midi/MidiBytes.h"

namespace {

bool makeAddress(const std::string& path, sockaddr_un& address) {
    if (!RelayPath::fits(path)) {
        return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

constexpr int kBatch = 64;

sockaddr* asSockaddr(sockaddr_un& address) {
    return reinterpret_cast<sockaddr*>(&address);  // the socket API's own convention
}

}  // namespace

std::string RelayPath::forInstance(const std::string& directory, std::intptr_t instanceId) {
    return directory + "/" + std::to_string(instanceId) + ".port";
}

bool RelayPath::fits(const std::string& path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un::sun_path);
}

PortRelayServer::PortRelayServer(EngineLock& portLock, Provider provider)
    : portLock_(portLock), provider_(std::move(provider)) {}

PortRelayServer::~PortRelayServer() {
    if (thread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    std::vector<std::shared_ptr<MidiConnection>> released;
    {
        std::lock_guard guard(portLock_);
        for (Client& client : clients_) {
            ::close(client.fd);
            released.push_back(std::move(client.connection));
        }
        clients_.clear();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool PortRelayServer::listen(const std::string& socketPath) {
    sockaddr_un address;
    if (thread_.joinable() || !makeAddress(socketPath, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    // A socket left by an earlier process with the same id is stale: this one owns the name.
    ::unlink(socketPath.c_str());
    if (::bind(fd, asSockaddr(address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return false;
    }
    ::chmod(socketPath.c_str(), 0600);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        ::close(fd);
        ::unlink(socketPath.c_str());
        return false;
    }
    listenFd_ = fd;
    path_ = socketPath;
    thread_ = std::thread([this] { run(); });
    return true;
}

std::vector<std::shared_ptr<MidiConnection>> PortRelayServer::detach(
    const MidiConnection* from, std::vector<int>& borrowers) {
    std::vector<std::shared_ptr<MidiConnection>> released;
    for (Client& client : clients_) {
        if (client.connection != nullptr && client.connection.get() == from) {
            borrowers.push_back(client.fd);
            released.push_back(std::move(client.connection));
            client.connection = nullptr;
        }
    }
    return released;
}

void PortRelayServer::attach(const std::vector<int>& borrowers,
                             const std::shared_ptr<MidiConnection>& to) {
    for (Client& client : clients_) {
        for (int fd : borrowers) {
            if (client.fd == fd && client.connection == nullptr) {
                client.connection = to;
            }
        }
    }
}

void PortRelayServer::run() {
    std::vector<pollfd> polled;
    for (;;) {
        polled.clear();
        polled.push_back({wakeFd_, POLLIN, 0});
        polled.push_back({listenFd_, POLLIN, 0});
        {
            std::lock_guard guard(portLock_);
            for (const Client& client : clients_) {
                polled.push_back({client.fd, POLLIN, 0});
            }
        }
        if (::poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (polled[0].revents != 0) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &wakes, sizeof wakes);
            if (stopping_.load(std::memory_order_acquire)) {
                return;
            }
        }
        if (polled[1].revents != 0) {
            std::lock_guard guard(portLock_);
            acceptPendingLocked();
        }
        for (std::size_t i = 2; i < polled.size(); ++i) {
            if (polled[i].revents == 0) {
                continue;
            }
            std::shared_ptr<MidiConnection> released;
            {
                std::lock_guard guard(portLock_);
                for (auto it = clients_.begin(); it != clients_.end(); ++it) {
                    if (it->fd != polled[i].fd) {
                        continue;
                    }
                    if (!relayFrom(*it)) {
                        ::close(it->fd);
                        released = std::move(it->connection);
                        clients_.erase(it);
                    }
                    break;
                }
            }
            // The last borrower of a port this instance no longer uses closes it here,
            // outside the lock.
            released.reset();
        }
    }
}

void PortRelayServer::acceptPendingLocked() {
    bool accepted = false;
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            break;
        }
        clients_.push_back({fd, provider_()});
        accepted = true;
    }
    if (accepted && std::this_thread::get_id() != thread_.get_id()) {
        // The relay thread must poll the new borrower too.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
}

bool PortRelayServer::relayFrom(Client& client) {
    std::uint8_t packet[16];
    // A bounded batch per hold of the port lock, so a busy borrower cannot keep the clock
    // thread waiting; poll() brings the thread back for the rest.
    for (int batch = 0; batch < kBatch; ++batch) {
        const ssize_t received = ::recv(client.fd, packet, sizeof packet, MSG_DONTWAIT);
        if (received == 0) {
            return false;
        }
        if (received < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        if (received == MidiBytes::kShortMessageSize && client.connection != nullptr) {
            client.connection->send(packet);
        }
    }
    return true;
}

std::unique_ptr<PortRelayLink> PortRelayLink::connect(const std::string& socketPath) {
    sockaddr_un address;
    if (!makeAddress(socketPath, address)) {
        return nullptr;
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    if (::connect(fd, asSockaddr(address), sizeof address) != 0) {
        if (errno == ECONNREFUSED) {
            ::unlink(socketPath.c_str());  // left by a lender that is gone
        }
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PortRelayLink>(new PortRelayLink(fd));
}

PortRelayLink::~PortRelayLink() { ::close(fd_); }

bool PortRelayLink::alive() const {
    if (!alive_.load(std::memory_order_acquire)) {
        return false;
    }
    pollfd probe{fd_, POLLOUT, 0};
    return ::poll(&probe, 1, 0) >= 0 && (probe.revents & (POLLHUP | POLLERR)) == 0;
}

bool PortRelayLink::send(const std::uint8_t* bytes) {
    if (!alive_.load(std::memory_order_relaxed)) {
        return false;
    }
    const ssize_t sent =
        ::send(fd_, bytes, MidiBytes::kShortMessageSize, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent == MidiBytes::kShortMessageSize) {
        return true;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        alive_.store(false, std::memory_order_release);
    }
    return false;
}
