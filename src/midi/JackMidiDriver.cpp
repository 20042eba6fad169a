#include "midi/JackMidiDriver.h"

#include <jack/jack.h>

#include <cstring>
#include <mutex>

#include "midi/ClientNames.h"
#include "midi/JackConnection.h"
#include "midi/OwnClients.h"

namespace {

void ignoreJackText(const char*) {}

jack_client_t* openClient(const std::string& name) {
    JackMidiDriver::silenceLibraryErrors();
    std::lock_guard guard(JackConnection::clientOpenMutex());
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

void closeClient(jack_client_t* client) {
    std::lock_guard guard(JackConnection::clientOpenMutex());
    jack_client_close(client);
}

std::string stripSuffix(const std::string& device) {
    const std::size_t suffixLength = std::strlen(JackMidiDriver::kNameSuffix);
    if (device.size() > suffixLength && device.compare(device.size() - suffixLength, suffixLength,
                                                       JackMidiDriver::kNameSuffix) == 0) {
        return device.substr(0, device.size() - suffixLength);
    }
    return device;
}

}  // namespace

void JackMidiDriver::silenceLibraryErrors() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(ignoreJackText);
        jack_set_info_function(ignoreJackText);
    });
}

bool JackMidiDriver::serverRunning() {
    jack_client_t* client = openClient(ClientNames::jackClientName(" probe"));
    if (client == nullptr) {
        return false;
    }
    closeClient(client);
    return true;
}

std::vector<std::string> JackMidiDriver::listDevices() {
    std::vector<std::string> names;
    jack_client_t* client = openClient(ClientNames::jackClientName(" list"));
    if (client == nullptr) {
        return names;
    }
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    if (ports != nullptr) {
        for (const char** port = ports; *port != nullptr; ++port) {
            // The program's own input is no output.
            const char* colon = std::strchr(*port, ':');
            if (colon == nullptr || !OwnClients::isJack(std::string(*port, colon))) {
                names.push_back(std::string(*port) + kNameSuffix);
            }
        }
        jack_free(ports);
    }
    closeClient(client);
    return names;
}

std::unique_ptr<MidiConnection> JackMidiDriver::open(const std::string& device, int) {
    // The name stays with the connection: a client reopened after a server restart keeps it.
    const std::string name = ClientNames::jackClientName();
    jack_client_t* client = openClient(name);
    if (client == nullptr) {
        return nullptr;
    }
    // JACK port names are unique.
    return JackConnection::open(client, name, stripSuffix(device));
}
