#include "EngineLock.h"

#include <cstdlib>

EngineLock::EngineLock() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    // Falls back to a plain mutex where priority inheritance is not supported.
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    if (pthread_mutex_init(&mutex_, &attributes) != 0) {
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
        if (pthread_mutex_init(&mutex_, &attributes) != 0) {
            std::abort();
        }
    }
    pthread_mutexattr_destroy(&attributes);
}

EngineLock::~EngineLock() { pthread_mutex_destroy(&mutex_); }

void EngineLock::lock() { pthread_mutex_lock(&mutex_); }

void EngineLock::unlock() { pthread_mutex_unlock(&mutex_); }

bool EngineLock::try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }
