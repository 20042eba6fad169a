#include "PostedMessageQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

PostedMessageQueue::PostedMessageQueue(QObject* parent) : QObject(parent) {
    eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (eventFd_ >= 0) {
        notifier_ = new QSocketNotifier(eventFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &PostedMessageQueue::drain);
    }
}

PostedMessageQueue::~PostedMessageQueue() {
    if (eventFd_ >= 0) {
        ::close(eventFd_);
    }
}

bool PostedMessageQueue::post(int message, std::intptr_t wParam, std::intptr_t lParam) {
    const std::uint32_t head = head_.load(std::memory_order_relaxed);
    const std::uint32_t tail = tail_.load(std::memory_order_acquire);
    if (head - tail >= kCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ring_[head % kCapacity] = Message{message, wParam, lParam};
    head_.store(head + 1, std::memory_order_release);
    // One wake-up per batch: the window thread clears the flag before it drains.
    if (eventFd_ >= 0 && !wakePending_.exchange(true, std::memory_order_acq_rel)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof one);
    }
    return true;
}

void PostedMessageQueue::drain() {
    if (eventFd_ >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(eventFd_, &count, sizeof count);
    }
    wakePending_.store(false, std::memory_order_release);
    std::uint32_t tail = tail_.load(std::memory_order_relaxed);
    // Only the messages present now: a handler that makes the engine post more (start() from
    // UM_START) gets them delivered on the next round instead of recursing here.
    const std::uint32_t head = head_.load(std::memory_order_acquire);
    while (tail != head) {
        const Message message = ring_[tail % kCapacity];
        ++tail;
        tail_.store(tail, std::memory_order_release);
        Q_EMIT messageArrived(message.message, message.wParam, message.lParam);
    }
}
