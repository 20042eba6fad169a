#include "LinkSessionWatch.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <ableton/discovery/v1/Messages.hpp>
#include <ableton/link/NodeState.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

// Where every Link peer announces itself (Link's discovery protocol, version 1).
constexpr const char* kGroup = "224.76.78.75";
constexpr std::uint16_t kPort = 20808;

// Joins the announcements' group on every IPv4 interface that can carry it, as Link does:
// peers on one machine meet on the loopback interface, others on the network's.
void joinGroupEverywhere(int socket) {
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) {
        return;
    }
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = ::inet_addr(kGroup);
        membership.imr_interface = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        // An interface that refuses (no multicast) is simply not listened on.
        ::setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    }
    ::freeifaddrs(interfaces);
}

// Shares the port with Link's own sockets on it, which bind it the same way.
int openSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(kPort);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    joinGroupEverywhere(fd);
    return fd;
}

}  // namespace

LinkSessionWatch::LinkSessionWatch() : socket_(openSocket()) {
    if (socket_ < 0) {
        std::fprintf(stderr,
                     "Glimmerstave: cannot listen to Link peers on port %u; a session that plays "
                     "already is joined only once it starts again\n",
                     kPort);
        return;
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { run(); });
}

LinkSessionWatch::~LinkSessionWatch() {
    if (thread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        if (::write(wake_, &one, sizeof one) < 0) {
            // The thread still sees the flag at its next wake-up, a moment later.
        }
        thread_.join();
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

void LinkSessionWatch::run() {
    std::array<std::uint8_t, ableton::discovery::v1::kMaxMessageSize> buffer{};
    pollfd waits[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (!stopping_.load(std::memory_order_acquire)) {
        // The timeout only guards against a lost wake-up.
        if (::poll(waits, wake_ >= 0 ? 2 : 1, 500) <= 0) {
            continue;
        }
        for (;;) {
            const ssize_t size = ::recv(socket_, buffer.data(), buffer.size(), 0);
            if (size <= 0) {
                break;
            }
            take(buffer.data(), static_cast<std::size_t>(size), std::chrono::steady_clock::now());
        }
    }
}

void LinkSessionWatch::take(const std::uint8_t* bytes, std::size_t size,
                            std::chrono::steady_clock::time_point now) {
    namespace v1 = ableton::discovery::v1;
    const std::uint8_t* end = bytes + size;
    try {
        const auto [header, payload] = v1::parseMessageHeader<ableton::link::NodeId>(bytes, end);
        if (header.messageType == v1::kByeBye) {
            forget(header.ident);
            return;
        }
        if (header.messageType != v1::kAlive && header.messageType != v1::kResponse) {
            return;
        }
        const auto state = ableton::link::NodeState::fromPayload(header.ident, payload, end);
        if (state.sessionId == ableton::link::SessionId{}) {
            return;  // every peer names its session: this one was cut short
        }
        Peer peer;
        peer.node = header.ident;
        peer.session = state.sessionId;
        peer.playing = state.startStopState.isPlaying;
        peer.stampUs = state.startStopState.timestamp.count();
        // A peer's announcement holds for the time it gives, in seconds.
        peer.expires = now + std::chrono::seconds(header.ttl);
        peer.heardSince = now;
        remember(peer);
    } catch (const std::exception&) {
        // Cut short or malformed: not an announcement we can read.
    }
}

void LinkSessionWatch::forget(const Id& node) {
    std::lock_guard guard(mutex_);
    std::erase_if(peers_, [&](const Peer& peer) { return peer.node == node; });
}

void LinkSessionWatch::remember(const Peer& peer) {
    std::lock_guard guard(mutex_);
    const auto now = std::chrono::steady_clock::now();
    Peer taken = peer;
    for (const Peer& known : peers_) {
        if (known.node == peer.node && known.playing == peer.playing &&
            known.stampUs == peer.stampUs) {
            taken.heardSince = std::min(known.heardSince, peer.heardSince);
        }
    }
    std::erase_if(
        peers_, [&](const Peer& known) { return known.node == peer.node || known.expires < now; });
    if (peers_.size() < kMaxPeers) {
        peers_.push_back(taken);
    }
}

std::size_t LinkSessionWatch::peerCount() const {
    std::lock_guard guard(mutex_);
    const auto now = std::chrono::steady_clock::now();
    return static_cast<std::size_t>(std::count_if(
        peers_.begin(), peers_.end(), [&](const Peer& peer) { return peer.expires >= now; }));
}

bool LinkSessionWatch::sessionPlays() const {
    std::lock_guard guard(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const Peer* newest = nullptr;
    const Id* session = nullptr;
    for (const Peer& peer : peers_) {
        if (peer.expires < now) {
            continue;
        }
        if (session != nullptr && peer.session != *session) {
            return false;
        }
        session = &peer.session;
        // A peer that never started or stopped (or whose Link knows no start/stop) says
        // nothing about playing.
        if (peer.stampUs != 0 && (newest == nullptr || peer.stampUs > newest->stampUs)) {
            newest = &peer;
        }
    }
    return newest != nullptr && newest->playing &&
           now - newest->heardSince >= std::chrono::milliseconds(kSettleMs);
}
