#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/EngineLock.h"
#include "midi/MidiDriver.h"

// Port lending between running instances. A lender listens on a sequenced-packet socket
// "<id>.port" in the instances' private directory; a borrower connects to it and sends each
// short message as one three-byte packet, which the lender plays on the connection that was
// its open port when the borrower connected. A connected socket is used because an unconnected
// datagram receiver takes only ten messages before senders would have to wait.

// Lender side. Owned by the OutputPort; its thread plays relayed messages under the port lock.
class PortRelayServer {
public:
    // Gives the connection a newly connected borrower plays to; called with the lock held.
    using Provider = std::function<std::shared_ptr<MidiConnection>()>;

    PortRelayServer(EngineLock& portLock, Provider provider);
    PortRelayServer(const PortRelayServer&) = delete;
    PortRelayServer& operator=(const PortRelayServer&) = delete;
    virtual ~PortRelayServer();

    // Binds the socket (replacing a stale one) and starts the relay thread.
    bool listen(const std::string& socketPath);

    // Both with the port lock held (window thread). detach() unbinds every borrower playing to
    // `from` and hands back the references it held, so the caller can close the connection
    // after unlocking; those borrowers stay connected but silent until attach() gives them
    // `to`. attach() with an empty list does nothing.
    std::vector<std::shared_ptr<MidiConnection>> detach(const MidiConnection* from,
                                                        std::vector<int>& borrowers);
    void attach(const std::vector<int>& borrowers, const std::shared_ptr<MidiConnection>& to);

    // Takes in borrowers that have connected but not yet been seen by the relay thread, so a
    // borrower that took the handle a moment ago is bound before the port changes hands.
    // Port lock held.
    void acceptPendingLocked();

    // How many borrowers are connected; port lock held.
    std::size_t borrowerCount() const { return clients_.size(); }

private:
    struct Client {
        int fd;
        std::shared_ptr<MidiConnection> connection;
    };

    void run();
    // False when the borrower hung up.
    bool relayFrom(Client& client);

    EngineLock& portLock_;
    Provider provider_;
    std::string path_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::vector<Client> clients_;  // changed by the relay thread under the port lock
    std::thread thread_;
};

// Borrower side: a MidiConnection that relays to the lender. When the lender goes away the
// sends fail quietly and the link stays silent.
class PortRelayLink : public MidiConnection {
public:
    // nullptr when no lender listens at socketPath.
    static std::unique_ptr<PortRelayLink> connect(const std::string& socketPath);
    ~PortRelayLink() override;

    bool send(const std::uint8_t* bytes) override;
    // Whether the lender still answers: false once it has closed its end. Window thread.
    bool alive() const;

private:
    explicit PortRelayLink(int fd) : fd_(fd) {}
    int fd_;
    std::atomic<bool> alive_{true};
};

// The socket paths of one instance in the private directory.
namespace RelayPath {
std::string forInstance(const std::string& directory, std::intptr_t instanceId);
// Whether the path fits a Unix socket address (107 bytes).
bool fits(const std::string& path);
}  // namespace RelayPath
