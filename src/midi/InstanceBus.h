#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>
#include <string>

class QSocketNotifier;

// How running instances find and message each other. Each instance binds a datagram socket
// "<id>.bus" in a private per-user directory; a broadcast sends the three values to every
// socket there (at most 100, this instance's own included) and removes sockets whose owner
// has gone. Received messages come out of messageReceived on the window thread, in arrival
// order. Owned by the main window; lives on the window thread.
class InstanceBus : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxReceivers = 100;

    // $XDG_RUNTIME_DIR/glimmerstave when XDG_RUNTIME_DIR is set, else /tmp/glimmerstave-<uid>.
    static std::string defaultDirectory();

    explicit InstanceBus(QObject* parent = nullptr);
    ~InstanceBus() override;

    // Makes the directory (mode 0700) if needed, refuses one that another user owns or others
    // can write, and binds this instance's socket. instanceId must be unique among the running
    // instances (the process id). On failure errorText() says why; broadcasts then reach only
    // this instance.
    bool start(const std::string& directory, std::int64_t instanceId);
    bool isRunning() const { return fd_ >= 0; }
    const std::string& directory() const { return directory_; }
    std::int64_t instanceId() const { return instanceId_; }
    const std::string& errorText() const { return errorText_; }

    // Posts the message to every running instance, this one included, and returns how many
    // were reached. A receiver whose queue is full gets the message later, in order.
    int broadcast(int message, std::intptr_t wParam, std::intptr_t lParam);

Q_SIGNALS:
    void messageReceived(int message, qintptr wParam, qintptr lParam);

private:
    struct Packet {
        std::uint32_t magic;
        std::int32_t message;
        std::int64_t wParam;
        std::int64_t lParam;
    };
    enum class SendResult { Sent, Busy, Gone, Failed };

    SendResult sendTo(const std::string& path, const Packet& packet);
    void readPending();
    void retryPending();

    int fd_ = -1;
    std::string directory_;
    std::string ownPath_;
    std::int64_t instanceId_ = 0;
    std::string errorText_;
    QSocketNotifier* notifier_ = nullptr;
    // Messages waiting for receivers whose queue was full, per socket path, oldest first.
    std::map<std::string, std::deque<Packet>> pending_;
    QTimer retryTimer_;
};
