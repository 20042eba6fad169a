#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Listens, beside Link, to the announcements Link peers multicast on the local network
// (224.76.78.75, port 20808), for the one fact Link does not hand on to a peer that joins:
// whether the session it joined already plays. Link takes a peer's start or stop only while
// that peer shares its session, and a peer repeats its state unchanged; so a session another
// program (a DAW, LinkHut) started before this copy joined would look stopped until that
// program starts or stops again.
//
// The watch keeps each peer's last announcement: its session and the newest start or stop it
// knows. When every peer heard shares one session, the newest of their starts and stops is
// the session's playing state. This copy's own announcements are heard too: until it has
// joined, its session differs from the others' and nothing is claimed.
//
// Threads: a thread of its own reads the socket; sessionPlays() is for any other thread.
class LinkSessionWatch {
public:
    // How many peers are kept at most; a flood of strangers cannot grow the table further.
    static constexpr std::size_t kMaxPeers = 64;
    // How long a start must have been heard before it counts. Link passes a start made in the
    // session on to every member within milliseconds; one it has not passed on by then, it
    // dropped. Sooner, this copy would stamp the session's start anew while Link is still
    // bringing it, and peers starting on that stamp's bar would land on another one.
    static constexpr int kSettleMs = 1000;

    // Opens the socket and starts listening; listening() tells whether that worked.
    LinkSessionWatch();
    ~LinkSessionWatch();
    LinkSessionWatch(const LinkSessionWatch&) = delete;
    LinkSessionWatch& operator=(const LinkSessionWatch&) = delete;

    bool listening() const { return socket_ >= 0; }
    // Link peers heard, this copy's own Link among them, whose last word still holds.
    std::size_t peerCount() const;
    // True when the peers heard share one session and its newest start or stop is a start,
    // heard at least kSettleMs ago.
    bool sessionPlays() const;
    // One datagram as it came off the network, heard at `now`. Anything that is no Link
    // announcement, or is cut short, is ignored. The listening thread calls it.
    void take(const std::uint8_t* bytes, std::size_t size,
              std::chrono::steady_clock::time_point now);

private:
    using Id = std::array<std::uint8_t, 8>;
    struct Peer {
        Id node{};
        Id session{};
        bool playing = false;
        // The start's or stop's time on the session's shared clock: comparable within one
        // session only.
        std::int64_t stampUs = 0;
        // When this start or stop was first heard from this peer.
        std::chrono::steady_clock::time_point heardSince;
        std::chrono::steady_clock::time_point expires;
    };

    void run();
    void forget(const Id& node);
    void remember(const Peer& peer);

    int socket_ = -1;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<Peer> peers_;
    std::thread thread_;
};
