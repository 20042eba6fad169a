#include "midi/AlsaSeqDriver.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "midi/AlsaPortFollower.h"
#include "midi/ClientNames.h"
#include "midi/MidiBytes.h"
#include "midi/OwnClients.h"

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

// How often a connection whose target is away looks for it without being told.
constexpr std::chrono::milliseconds kLookAgainPeriod{1000};

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
        // The system client's timer and announce ports are not instruments, and the
        // program's own input is no output.
        if (clientId == self || clientId == SND_SEQ_CLIENT_SYSTEM || OwnClients::isAlsa(clientId)) {
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

// Finds the index-th port (0 = the first) named `device`, as listDevices names it.
std::optional<AlsaPortFollower::Address> findPort(snd_seq_t* seq, const std::string& device,
                                                  int occurrence) {
    std::optional<AlsaPortFollower::Address> found;
    forEachWritablePort(seq, [&](const std::string& name, int client, int port) {
        if (name != device || occurrence-- > 0) {
            return true;
        }
        found = AlsaPortFollower::Address{client, port};
        return false;
    });
    return found;
}

class AlsaSeqConnection : public MidiConnection {
public:
    AlsaSeqConnection(snd_seq_t* seq, int port) : seq_(seq), port_(port) {
        OwnClients::addAlsa(snd_seq_client_id(seq_));
    }
    ~AlsaSeqConnection() override {
        OwnClients::removeAlsa(snd_seq_client_id(seq_));
        if (watcher_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
            watcher_.join();
        }
        if (stopFd_ >= 0) {
            ::close(stopFd_);
        }
        if (watchSeq_ != nullptr) {
            snd_seq_close(watchSeq_);
        }
        // Direct events are handed to the receiving clients as they are written; nothing of
        // ours is still queued here, but a library buffer would be flushed now.
        snd_seq_drain_output(seq_);
        snd_seq_close(seq_);
    }

    // Follows the target by name from now on: a sequencer client of its own listens to the
    // announce port, and connects this output again when the target comes back. Without an
    // announce port the connection simply stays where it is.
    void follow(const std::string& watcherName, const std::string& device, int occurrence,
                AlsaPortFollower::Address connected) {
        if (snd_seq_open(&watchSeq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
            watchSeq_ = nullptr;
            return;
        }
        snd_seq_set_client_name(watchSeq_, watcherName.c_str());
        const int in = snd_seq_create_simple_port(
            watchSeq_, "announce", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
            SND_SEQ_PORT_TYPE_APPLICATION);
        stopFd_ = ::eventfd(0, EFD_CLOEXEC);
        if (in < 0 || stopFd_ < 0 ||
            snd_seq_connect_from(watchSeq_, in, SND_SEQ_CLIENT_SYSTEM,
                                 SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
            return;
        }
        const AlsaPortFollower::Address self{snd_seq_client_id(seq_), port_};
        follower_ = std::make_unique<AlsaPortFollower>(
            connected,
            [this, device, occurrence] { return findPort(watchSeq_, device, occurrence); },
            [this, self](const AlsaPortFollower::Address& target) {
                return subscribe(self, target);
            });
        watcher_ = std::thread([this] { watch(); });
    }

    bool send(const std::uint8_t* bytes) override {
        // Nothing to send to while the target is away: the message is not sent (nor logged).
        if (follower_ != nullptr && !follower_->present()) {
            return false;
        }
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
    // Connects as a third party (like aconnect), so the sending client is never touched by
    // the watcher thread.
    bool subscribe(const AlsaPortFollower::Address& from, const AlsaPortFollower::Address& to) {
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca(&subscription);
        snd_seq_addr_t sender{static_cast<unsigned char>(from.client),
                              static_cast<unsigned char>(from.port)};
        snd_seq_addr_t dest{static_cast<unsigned char>(to.client),
                            static_cast<unsigned char>(to.port)};
        snd_seq_port_subscribe_set_sender(subscription, &sender);
        snd_seq_port_subscribe_set_dest(subscription, &dest);
        return snd_seq_subscribe_port(watchSeq_, subscription) >= 0;
    }

    // Waits for announcements; while the target is away it also looks again once a period,
    // for a port that took the target's name without an announcement (a rename). Other
    // clients' announcements do not put that look off.
    void watch() {
        using Clock = std::chrono::steady_clock;
        const int count = snd_seq_poll_descriptors_count(watchSeq_, POLLIN);
        std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
        fds[0] = {stopFd_, POLLIN, 0};
        snd_seq_poll_descriptors(watchSeq_, fds.data() + 1, static_cast<unsigned int>(count),
                                 POLLIN);
        auto nextLook = Clock::now() + kLookAgainPeriod;
        for (;;) {
            int timeout = -1;
            if (!follower_->present()) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(nextLook - Clock::now());
                timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
            }
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                return;
            }
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(watchSeq_, &event) >= 0 && event != nullptr) {
                follower_->handle(*event);
            }
            if (follower_->present()) {
                nextLook = Clock::now() + kLookAgainPeriod;
            } else if (Clock::now() >= nextLook) {
                follower_->lookAgain();
                nextLook = Clock::now() + kLookAgainPeriod;
            }
        }
    }

    snd_seq_t* seq_;
    int port_;
    snd_seq_t* watchSeq_ = nullptr;
    int stopFd_ = -1;
    std::unique_ptr<AlsaPortFollower> follower_;
    std::thread watcher_;
};

}  // namespace

void AlsaSeqDriver::silenceLibraryErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

std::vector<std::string> AlsaSeqDriver::listDevices() {
    std::vector<std::string> names;
    snd_seq_t* seq = openSequencer(ClientNames::alsaClientName());
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
    snd_seq_t* seq = openSequencer(ClientNames::alsaClientName());
    if (seq == nullptr) {
        return nullptr;
    }
    const std::optional<AlsaPortFollower::Address> target = findPort(seq, device, occurrence);
    const int port = !target ? -1
                             : snd_seq_create_simple_port(
                                   seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0 || snd_seq_connect_to(seq, port, target->client, target->port) < 0) {
        snd_seq_close(seq);
        return nullptr;
    }
    auto connection = std::make_unique<AlsaSeqConnection>(seq, port);
    connection->follow(ClientNames::alsaClientName(" watch"), device, occurrence, *target);
    return connection;
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
