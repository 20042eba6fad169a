#include "midi/ClientNames.h"

#include <jack/jack.h>

#include <algorithm>
#include <mutex>

namespace {

// The sequencer's client name field holds 64 bytes with the terminating zero.
constexpr std::size_t kAlsaNameLength = 63;

std::mutex& nameLock() {
    static std::mutex lock;
    return lock;
}

std::string& sessionId() {
    static std::string id;
    return id;
}

std::string nameWithin(const std::string& suffix, std::size_t length) {
    std::string base = ClientNames::sessionClientId();
    if (base.empty()) {
        base = ClientNames::kProgramName;
    }
    // JACK separates a client's name from its ports' with ':'.
    std::replace(base.begin(), base.end(), ':', '_');
    std::string name = base + suffix;
    name.resize(std::min(name.size(), length));
    return name;
}

}  // namespace

void ClientNames::setSessionClientId(const std::string& clientId) {
    std::lock_guard guard(nameLock());
    sessionId() = clientId;
}

std::string ClientNames::sessionClientId() {
    std::lock_guard guard(nameLock());
    return sessionId();
}

std::string ClientNames::jackClientName(const std::string& suffix) {
    // The size JACK reports counts the terminating zero.
    const int size = jack_client_name_size();
    return nameWithin(suffix, size > 1 ? static_cast<std::size_t>(size - 1) : kAlsaNameLength);
}

std::string ClientNames::alsaClientName(const std::string& suffix) {
    return nameWithin(suffix, kAlsaNameLength);
}
