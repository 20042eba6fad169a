#pragma once

#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>

class QSocketNotifier;

// Carries the engine's messages (UM_STEP_PLAYED, ...) from the clock thread to the window
// thread without allocating or blocking: a fixed ring plus an eventfd that wakes the window
// thread's event loop. Owned by the main window.
class PostedMessageQueue : public QObject {
    Q_OBJECT

public:
    struct Message {
        int message = 0;
        std::intptr_t wParam = 0;
        std::intptr_t lParam = 0;
    };
    static constexpr std::uint32_t kCapacity = 1024;

    explicit PostedMessageQueue(QObject* parent = nullptr);
    ~PostedMessageQueue() override;

    // Queues a message. Callers must be serialised among themselves (the engine posts only
    // while it holds the engine lock); safe against the window thread's draining. Returns
    // false, dropping the message, when the window thread has fallen 1024 messages behind.
    bool post(int message, std::intptr_t wParam, std::intptr_t lParam);
    // Delivers every queued message now, in order (window thread).
    void drain();
    std::uint64_t droppedCount() const { return dropped_.load(std::memory_order_relaxed); }

Q_SIGNALS:
    void messageArrived(int message, qintptr wParam, qintptr lParam);

private:
    std::array<Message, kCapacity> ring_{};
    std::atomic<std::uint32_t> head_{0};  // next slot to write (producer)
    std::atomic<std::uint32_t> tail_{0};  // next slot to read (window thread)
    std::atomic<bool> wakePending_{false};
    std::atomic<std::uint64_t> dropped_{0};
    int eventFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
