#pragma once

#include <array>
#include <atomic>
#include <cstddef>

// A fixed-size ring for one producer and one consumer that never allocates or blocks: the
// clock thread hands MIDI events and log lines to other threads through it. Capacity must be
// a power of two; one slot stays free.
template <typename T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0,
                  "capacity must be a power of two");

public:
    // Producer. False when the ring is full; the item is then not stored.
    bool push(const T& item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t next = (head + 1) & (Capacity - 1);
        if (next == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        slots_[head] = item;
        head_.store(next, std::memory_order_release);
        return true;
    }

    // Consumer. The oldest item, or nullptr when empty; stays valid until pop().
    const T* front() const {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return &slots_[tail];
    }

    // Consumer. Drops the oldest item; false when empty.
    bool pop() {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return false;
        }
        tail_.store((tail + 1) & (Capacity - 1), std::memory_order_release);
        return true;
    }

    static constexpr std::size_t capacity() { return Capacity - 1; }

private:
    std::array<T, Capacity> slots_{};
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};
