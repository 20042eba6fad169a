#pragma once

#include <atomic>
#include <functional>
#include <optional>

struct snd_seq_event;

// Keeps an ALSA sequencer connection on its target by the target's name. Fed with the
// sequencer's announcements (clients and ports that start and exit), it notices when the
// target goes away and, when a port of the same name appears again, finds and connects it.
// The kernel announces no rename, so a port that takes the name after it started (a client
// that names its port a moment later, or renames it) is found only by looking again: the
// owner calls lookAgain() about once a second while the target is away.
// Owned by the ALSA connection; handle() and lookAgain() run on its watcher thread, present()
// on any thread.
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

    // While the target is away: looks for its name now and connects it when found.
    void lookAgain();

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
