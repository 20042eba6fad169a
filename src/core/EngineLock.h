#pragma once

#include <pthread.h>

// The one lock that serialises the step routine against start, stop, tempo changes and every
// edit of the playing data. Priority-inheriting where the system offers it, so a window thread
// holding it briefly is boosted instead of stalling the real-time clock thread.
// BasicLockable: use with std::lock_guard / std::unique_lock.
class EngineLock {
public:
    EngineLock();
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;
    virtual ~EngineLock();

    void lock();
    void unlock();
    bool try_lock();

private:
    pthread_mutex_t mutex_;
};
