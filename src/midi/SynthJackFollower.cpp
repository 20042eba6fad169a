#include "midi/SynthJackFollower.h"

#include <jack/jack.h>

#include <utility>

#include "midi/JackConnection.h"
#include "midi/JackMidiDriver.h"

SynthJackFollower::SynthJackFollower(std::string clientName, Output output)
    : clientName_(std::move(clientName)), output_(std::move(output)) {
    // Every look for a missing server would otherwise print libjack's complaint.
    JackMidiDriver::silenceLibraryErrors();
    thread_ = std::thread([this] { run(); });
}

SynthJackFollower::~SynthJackFollower() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (listener_ != nullptr) {
        std::lock_guard guard(JackConnection::clientOpenMutex());
        jack_client_close(listener_);
    }
}

void SynthJackFollower::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (gone_) {
            gone_ = false;
            lock.unlock();
            dropServer();
            lock.lock();
            continue;
        }
        if (listener_ == nullptr) {
            lock.unlock();
            const bool found = findServer();
            lock.lock();
            if (!found) {
                wake_.wait_for(lock, kLookPeriod, [&] { return stopping_; });
                continue;
            }
        }
        wake_.wait(lock, [&] { return stopping_ || gone_; });
    }
}

bool SynthJackFollower::findServer() {
    std::lock_guard guard(JackConnection::clientOpenMutex());
    jack_status_t status{};
    jack_client_t* client = jack_client_open(clientName_.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        // Also right after the first open: a server that does not answer took the output along.
        if (outputOpen_) {
            output_.close();
            outputOpen_ = false;
        }
        return false;
    }
    // An inactive client hears of the shutdown too, and costs the server no process cycle.
    jack_on_shutdown(client, &SynthJackFollower::serverGone, this);
    if (!outputOpen_) {
        outputOpen_ = output_.open();
    }
    if (!outputOpen_) {
        jack_client_close(client);
        return false;
    }
    listener_ = client;
    return true;
}

void SynthJackFollower::dropServer() {
    std::lock_guard guard(JackConnection::clientOpenMutex());
    if (listener_ != nullptr) {
        jack_client_close(listener_);
        listener_ = nullptr;
    }
    if (outputOpen_) {
        output_.close();
        outputOpen_ = false;
    }
}

void SynthJackFollower::serverGone(void* arg) {
    auto* self = static_cast<SynthJackFollower*>(arg);
    {
        std::lock_guard guard(self->mutex_);
        self->gone_ = true;
    }
    self->wake_.notify_one();
}
