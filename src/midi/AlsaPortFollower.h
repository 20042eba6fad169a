#pragma once

#include <atomic>
#include <functional>
#include <optional>

struct snd_seq_event;

// Keeps an ALSA sequencer connection on its target by the target's name. Fed with the
// sequencer's announcements (clients and ports that start and exit), it notices when the
// target goes away and, when a port of the same name appears again, finds and connects it.
// Owned by the ALSA connection; handle() runs on its watcher thread, present() on any thread.
class AlsaPortFollower {
public:
    struct Address {
        int client = -1;
        int port = -1;
        bool operator==(const Address&) const = default;
    };
    // Where the target's name is found now, if anywhere.
    using Find = std::function<std::optional<Address>()>;
    // Connects the output to that address; false when it cannot.
    using Connect = std::function<bool(const Address&)>;

    // `connected` is the address the output is connected to already.
    AlsaPortFollower(Address connected, Find find, Connect connect);

    // One event from the announce port; events of other kinds are ignored.
    void handle(const snd_seq_event& event);

    // Whether sends reach the target: false from its exit until it is connected again.
    bool present() const { return present_.load(std::memory_order_acquire); }
    Address target() const { return target_; }

private:
    void lose();
    void tryConnect();

    Address target_;
    Find find_;
    Connect connect_;
    std::atomic<bool> present_{true};
};
