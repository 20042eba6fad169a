#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

// One value handed from a single real-time writer to any number of readers without locks: the
// writer never waits, a reader copies the value again when the writer changed it meanwhile. The
// words are atomics, so a copy torn by a write is never used (and never a data race).
template <typename T>
class SeqlockSlot {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr std::size_t kWords = (sizeof(T) + 7) / 8;

public:
    // The writer's thread only.
    void write(const T& value) {
        std::array<std::uint64_t, kWords> raw{};
        std::memcpy(raw.data(), &value, sizeof(T));
        const std::uint32_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < kWords; ++i) {
            words_[i].store(raw[i], std::memory_order_relaxed);
        }
        sequence_.store(sequence + 2, std::memory_order_release);
    }

    // False when every attempt met a write in progress (the writer was preempted mid-write).
    bool read(T& value) const {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const std::uint32_t before = sequence_.load(std::memory_order_acquire);
            if ((before & 1U) != 0) {
                continue;
            }
            std::array<std::uint64_t, kWords> raw{};
            for (std::size_t i = 0; i < kWords; ++i) {
                raw[i] = words_[i].load(std::memory_order_relaxed);
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) {
                std::memcpy(static_cast<void*>(&value), raw.data(), sizeof(T));
                return true;
            }
        }
        return false;
    }

private:
    static constexpr int kAttempts = 1000;
    std::atomic<std::uint32_t> sequence_{0};
    std::array<std::atomic<std::uint64_t>, kWords> words_{};
};
