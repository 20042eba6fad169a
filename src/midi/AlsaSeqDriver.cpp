#include "midi/AlsaSeqDriver.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <mutex>
#include <utility>

#include "midi/MidiBytes.h"

namespace {

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

snd_seq_t* openSequencer(const std::string& clientName) {
    AlsaSeqDriver::silenceLibraryErrors();
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) {
        return nullptr;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
    return seq;
}

constexpr unsigned int kWanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

// Calls visit(name, client, port) for every port another client offers for writing.
template <typename Visit>
void forEachWritablePort(snd_seq_t* seq, Visit visit) {
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int clientId = snd_seq_client_info_get_client(client);
        // The system client's timer and announce ports are not instruments.
        if (clientId == self || clientId == SND_SEQ_CLIENT_SYSTEM) {
            continue;
        }
        snd_seq_port_info_set_client(port, clientId);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            if ((snd_seq_port_info_get_capability(port) & kWanted) != kWanted) {
                continue;
            }
            if ((snd_seq_port_info_get_capability(port) & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) {
                continue;
            }
            std::string name = snd_seq_client_info_get_name(client);
            name += ':';
            name += snd_seq_port_info_get_name(port);
            name += AlsaSeqDriver::kNameSuffix;
            if (!visit(name, clientId, snd_seq_port_info_get_port(port))) {
                return;
            }
        }
    }
}

class AlsaSeqConnection : public MidiConnection {
public:
    AlsaSeqConnection(snd_seq_t* seq, int port) : seq_(seq), port_(port) {}
    ~AlsaSeqConnection() override { snd_seq_close(seq_); }

    bool send(const std::uint8_t* bytes) override {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        if (!AlsaSeqDriver::encode(bytes, event)) {
            return false;
        }
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        // Non-blocking: a full output pool drops the event instead of stalling the clock.
        return snd_seq_event_output_direct(seq_, &event) >= 0;
    }

private:
    snd_seq_t* seq_;
    int port_;
};

}  // namespace

void AlsaSeqDriver::silenceLibraryErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

AlsaSeqDriver::AlsaSeqDriver(std::string clientName) : clientName_(std::move(clientName)) {}

std::vector<std::string> AlsaSeqDriver::listDevices() {
    std::vector<std::string> names;
    snd_seq_t* seq = openSequencer(clientName_);
    if (seq == nullptr) {
        return names;
    }
    forEachWritablePort(seq, [&](const std::string& name, int, int) {
        names.push_back(name);
        return true;
    });
    snd_seq_close(seq);
    return names;
}

std::unique_ptr<MidiConnection> AlsaSeqDriver::open(const std::string& device, int occurrence) {
    snd_seq_t* seq = openSequencer(clientName_);
    if (seq == nullptr) {
        return nullptr;
    }
    int targetClient = -1;
    int targetPort = -1;
    forEachWritablePort(seq, [&](const std::string& name, int client, int port) {
        if (name != device || occurrence-- > 0) {
            return true;
        }
        targetClient = client;
        targetPort = port;
        return false;
    });
    const int port = targetClient < 0 ? -1
                                      : snd_seq_create_simple_port(
                                            seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0 || snd_seq_connect_to(seq, port, targetClient, targetPort) < 0) {
        snd_seq_close(seq);
        return nullptr;
    }
    return std::make_unique<AlsaSeqConnection>(seq, port);
}

bool AlsaSeqDriver::encode(const std::uint8_t* bytes, snd_seq_event& event) {
    const std::uint8_t status = bytes[0];
    const int length = MidiBytes::lengthForStatus(status);
    if (length == 0) {
        return false;
    }
    const auto channel = static_cast<unsigned char>(status & 0x0F);
    const std::uint8_t data1 = bytes[1] & 0x7F;
    const std::uint8_t data2 = bytes[2] & 0x7F;
    switch (status & 0xF0) {
        case 0x80:
            snd_seq_ev_set_noteoff(&event, channel, data1, data2);
            return true;
        case 0x90:
            snd_seq_ev_set_noteon(&event, channel, data1, data2);
            return true;
        case 0xA0:
            snd_seq_ev_set_keypress(&event, channel, data1, data2);
            return true;
        case 0xB0:
            snd_seq_ev_set_controller(&event, channel, data1, data2);
            return true;
        case 0xC0:
            snd_seq_ev_set_pgmchange(&event, channel, data1);
            return true;
        case 0xD0:
            snd_seq_ev_set_chanpress(&event, channel, data1);
            return true;
        case 0xE0:
            snd_seq_ev_set_pitchbend(&event, channel, ((data2 << 7) | data1) - 8192);
            return true;
        default:
            break;
    }
    switch (status) {
        case 0xF8:
            event.type = SND_SEQ_EVENT_CLOCK;
            return true;
        case 0xFA:
            event.type = SND_SEQ_EVENT_START;
            return true;
        case 0xFB:
            event.type = SND_SEQ_EVENT_CONTINUE;
            return true;
        case 0xFC:
            event.type = SND_SEQ_EVENT_STOP;
            return true;
        case 0xFE:
            event.type = SND_SEQ_EVENT_SENSING;
            return true;
        case 0xFF:
            event.type = SND_SEQ_EVENT_RESET;
            return true;
        default:
            return false;
    }
}
