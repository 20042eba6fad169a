#include "midi/JackMidiDriver.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "midi/MidiBytes.h"
#include "midi/SpscRing.h"

namespace {

void ignoreJackText(const char*) {}

// libjack reports a missing server on stderr at every attempt; the program treats that as
// "no JACK devices", so keep quiet.
void silenceJack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(ignoreJackText);
        jack_set_info_function(ignoreJackText);
    });
}

jack_client_t* openClient(const std::string& name) {
    silenceJack();
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

std::string stripSuffix(const std::string& device) {
    const std::size_t suffixLength = std::strlen(JackMidiDriver::kNameSuffix);
    if (device.size() > suffixLength &&
        device.compare(device.size() - suffixLength, suffixLength, JackMidiDriver::kNameSuffix) ==
            0) {
        return device.substr(0, device.size() - suffixLength);
    }
    return device;
}

class JackConnection : public MidiConnection {
public:
    ~JackConnection() override {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }

    static std::unique_ptr<MidiConnection> open(const std::string& clientName,
                                                const std::string& target) {
        std::unique_ptr<JackConnection> connection(new JackConnection);
        connection->client_ = openClient(clientName);
        if (connection->client_ == nullptr) {
            return nullptr;
        }
        jack_client_t* client = connection->client_;
        connection->port_ =
            jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (connection->port_ == nullptr) {
            return nullptr;
        }
        jack_set_process_callback(client, &JackConnection::process, connection.get());
        jack_on_shutdown(client, &JackConnection::serverGone, connection.get());
        if (jack_activate(client) != 0) {
            return nullptr;
        }
        if (jack_connect(client, jack_port_name(connection->port_), target.c_str()) != 0) {
            return nullptr;
        }
        return connection;
    }

    bool send(const std::uint8_t* bytes) override {
        const int length = MidiBytes::lengthForStatus(bytes[0]);
        if (length == 0 || !alive_.load(std::memory_order_acquire)) {
            return false;
        }
        Event event;
        event.frame = jack_frame_time(client_);
        event.length = static_cast<std::uint8_t>(length);
        // A data byte with its top bit set would read as a status byte on the wire.
        event.bytes[0] = bytes[0];
        event.bytes[1] = bytes[1] & 0x7F;
        event.bytes[2] = bytes[2] & 0x7F;
        return events_.push(event);
    }

private:
    struct Event {
        jack_nframes_t frame = 0;
        std::uint8_t length = 0;
        std::uint8_t bytes[MidiBytes::kShortMessageSize] = {};
    };

    JackConnection() = default;

    // JACK's process thread. An event sent at frame time t goes out at t + one period: the
    // cycle that starts at c covers the send times c - nframes .. c - 1. Events sent later
    // than that wait for the next cycle; events that missed their cycle go out at once.
    static int process(jack_nframes_t nframes, void* arg) {
        auto* self = static_cast<JackConnection*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, nframes);
        jack_midi_clear_buffer(buffer);
        const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
        jack_nframes_t lastOffset = 0;
        while (const Event* event = self->events_.front()) {
            // Frame times wrap around; the difference is taken modulo 2^32.
            const auto lead = static_cast<std::int32_t>(event->frame + nframes - cycleStart);
            if (lead >= static_cast<std::int32_t>(nframes)) {
                break;
            }
            jack_nframes_t offset = lead < 0 ? 0 : static_cast<jack_nframes_t>(lead);
            if (offset < lastOffset) {
                offset = lastOffset;
            }
            jack_midi_event_write(buffer, offset, event->bytes, event->length);
            lastOffset = offset;
            self->events_.pop();
        }
        return 0;
    }

    static void serverGone(void* arg) {
        static_cast<JackConnection*>(arg)->alive_.store(false, std::memory_order_release);
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::atomic<bool> alive_{true};
    SpscRing<Event, 1024> events_;
};

}  // namespace

JackMidiDriver::JackMidiDriver(std::string clientName) : clientName_(std::move(clientName)) {}

bool JackMidiDriver::serverRunning() {
    jack_client_t* client = openClient("Glimmerstave probe");
    if (client == nullptr) {
        return false;
    }
    jack_client_close(client);
    return true;
}

std::vector<std::string> JackMidiDriver::listDevices() {
    std::vector<std::string> names;
    jack_client_t* client = openClient(clientName_ + " list");
    if (client == nullptr) {
        return names;
    }
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    if (ports != nullptr) {
        for (const char** port = ports; *port != nullptr; ++port) {
            names.push_back(std::string(*port) + kNameSuffix);
        }
        jack_free(ports);
    }
    jack_client_close(client);
    return names;
}

std::unique_ptr<MidiConnection> JackMidiDriver::open(const std::string& device, int) {
    // JACK port names are unique.
    return JackConnection::open(clientName_, stripSuffix(device));
}
