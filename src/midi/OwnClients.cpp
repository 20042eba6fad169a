#include "midi/OwnClients.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex& lock() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& jackNames() {
    static std::vector<std::string> names;
    return names;
}

// One entry per open client: the program opens one sequencer client per output.
std::vector<int>& alsaClients() {
    static std::vector<int> clients;
    return clients;
}

template <typename T>
bool contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

void OwnClients::addJack(const std::string& name) {
    std::lock_guard guard(lock());
    if (!contains(jackNames(), name)) {
        jackNames().push_back(name);
    }
}

void OwnClients::removeJack(const std::string& name) {
    std::lock_guard guard(lock());
    std::erase(jackNames(), name);
}

bool OwnClients::isJack(const std::string& name) {
    std::lock_guard guard(lock());
    return contains(jackNames(), name);
}

void OwnClients::addAlsa(int client) {
    std::lock_guard guard(lock());
    if (!contains(alsaClients(), client)) {
        alsaClients().push_back(client);
    }
}

void OwnClients::removeAlsa(int client) {
    std::lock_guard guard(lock());
    std::erase(alsaClients(), client);
}

bool OwnClients::isAlsa(int client) {
    std::lock_guard guard(lock());
    return contains(alsaClients(), client);
}
