#include "midi/AlsaMidiInput.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <string_view>

#include "midi/AlsaSeqDriver.h"
#include "midi/ClientNames.h"
#include "midi/ClockCalibration.h"
#include "midi/MidiInputSink.h"
#include "midi/OwnClients.h"

namespace {

constexpr unsigned int kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

// The kernel keeps this many events for a client that has not read them yet (200 unless
// asked); a flooding source then overruns a busy input thread later.
constexpr int kInputPool = 2000;

// While events keep coming, the queue's time is read again after this many.
constexpr int kEventsPerMeasurement = 256;
// A reading of the queue's time between two of the monotonic clock that took longer than
// this was preempted, and is taken again.
constexpr std::int64_t kTightSpanNs = 50'000;

snd_seq_t* openSequencer(int mode) {
    AlsaSeqDriver::silenceLibraryErrors();
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", mode, SND_SEQ_NONBLOCK) < 0) {
        return nullptr;
    }
    return seq;
}

// A port's name as the output list names ALSA ports: "client name:port name (ALSA)".
struct PortName {
    const char* client;
    const char* port;

    std::string text() const {
        return std::string(client) + ':' + port + AlsaSeqDriver::kNameSuffix;
    }
    // Compared piece by piece: the input thread follows its source without allocating.
    bool operator==(std::string_view name) const {
        const std::string_view clientPart(client);
        const std::string_view portPart(port);
        const std::string_view suffix(AlsaSeqDriver::kNameSuffix);
        return name.size() == clientPart.size() + 1 + portPart.size() + suffix.size() &&
               name.substr(0, clientPart.size()) == clientPart && name[clientPart.size()] == ':' &&
               name.substr(clientPart.size() + 1, portPart.size()) == portPart &&
               name.substr(name.size() - suffix.size()) == suffix;
    }
};

// Calls visit(name, client, port) for every port another client offers for reading. The
// program's own outputs are no sources to offer.
template <typename Visit>
void forEachReadablePort(snd_seq_t* seq, Visit visit) {
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int clientId = snd_seq_client_info_get_client(client);
        if (clientId == self || clientId == SND_SEQ_CLIENT_SYSTEM || OwnClients::isAlsa(clientId)) {
            continue;
        }
        snd_seq_port_info_set_client(port, clientId);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            const unsigned int caps = snd_seq_port_info_get_capability(port);
            if ((caps & kReadable) != kReadable || (caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) {
                continue;
            }
            const PortName name{snd_seq_client_info_get_name(client),
                                snd_seq_port_info_get_name(port)};
            if (!visit(name, clientId, snd_seq_port_info_get_port(port))) {
                return;
            }
        }
    }
}

std::uint8_t dataByte(int value) {
    return static_cast<std::uint8_t>(value & 0x7F);
}

// A 14-bit value as MIDI sends it, least significant seven bits first.
int put14Bit(std::uint8_t status, int value, std::uint8_t* bytes) {
    const int clamped = std::clamp(value, 0, 0x3FFF);
    bytes[0] = status;
    bytes[1] = dataByte(clamped);
    bytes[2] = dataByte(clamped >> 7);
    return 3;
}

int putStatus(std::uint8_t status, std::uint8_t* bytes) {
    bytes[0] = status;
    return 1;
}

}  // namespace

AlsaMidiInput::AlsaMidiInput(MidiInputSink* sink) : sink_(sink) {}

AlsaMidiInput::~AlsaMidiInput() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
    if (seq_ != nullptr) {
        OwnClients::removeAlsa(snd_seq_client_id(seq_));
        snd_seq_close(seq_);
    }
}

bool AlsaMidiInput::open() {
    if (seq_ != nullptr) {
        return true;
    }
    seq_ = openSequencer(SND_SEQ_OPEN_DUPLEX);
    if (seq_ == nullptr) {
        return false;
    }
    snd_seq_set_client_name(seq_, ClientNames::alsaClientName().c_str());
    // Listed as ours before anyone can see the port: the output list leaves it out.
    OwnClients::addAlsa(snd_seq_client_id(seq_));
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0 || !createPorts()) {
        if (stopFd_ >= 0) {
            ::close(stopFd_);
            stopFd_ = -1;
        }
        OwnClients::removeAlsa(snd_seq_client_id(seq_));
        snd_seq_close(seq_);
        seq_ = nullptr;
        return false;
    }
    snd_seq_set_client_pool_input(seq_, kInputPool);
    {
        std::lock_guard guard(mutex_);
        followSourceLocked();
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

// The queue runs from here on; the port stamps every event it receives with the queue's real
// time at the moment of delivery, whoever connected it.
bool AlsaMidiInput::createPorts() {
    queue_ = snd_seq_alloc_named_queue(seq_, "input");
    if (queue_ < 0) {
        return false;
    }
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    snd_seq_port_info_set_name(info, "in");
    snd_seq_port_info_set_capability(info, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    snd_seq_port_info_set_type(info,
                               SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_seq_port_info_set_timestamping(info, 1);
    snd_seq_port_info_set_timestamp_real(info, 1);
    snd_seq_port_info_set_timestamp_queue(info, queue_);
    if (snd_seq_create_port(seq_, info) < 0) {
        return false;
    }
    inPort_ = snd_seq_port_info_get_port(info);
    // The announcements come to a port of their own, hidden from other clients' lists.
    announcePort_ = snd_seq_create_simple_port(seq_, "announce",
                                               SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                               SND_SEQ_PORT_TYPE_APPLICATION);
    if (announcePort_ < 0 || snd_seq_connect_from(seq_, announcePort_, SND_SEQ_CLIENT_SYSTEM,
                                                  SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
        return false;
    }
    if (snd_seq_start_queue(seq_, queue_, nullptr) < 0) {
        return false;
    }
    snd_seq_drain_output(seq_);
    return true;
}

void AlsaMidiInput::setSource(const std::string& name, int occurrence) {
    std::lock_guard guard(mutex_);
    if (seq_ == nullptr) {
        source_ = name;
        occurrence_ = occurrence;
        return;
    }
    unsubscribeLocked();
    source_ = name;
    occurrence_ = occurrence;
    followSourceLocked();
}

std::vector<std::string> AlsaMidiInput::listSources() {
    std::vector<std::string> names;
    snd_seq_t* seq = openSequencer(SND_SEQ_OPEN_OUTPUT);
    if (seq == nullptr) {
        return names;
    }
    snd_seq_set_client_name(seq, ClientNames::alsaClientName(" list").c_str());
    forEachReadablePort(seq, [&](const PortName& name, int, int) {
        names.push_back(name.text());
        return true;
    });
    snd_seq_close(seq);
    return names;
}

int AlsaMidiInput::decode(const snd_seq_event& event, std::uint8_t* bytes) {
    const auto noteChannel = static_cast<std::uint8_t>(event.data.note.channel & 0x0F);
    const auto controlChannel = static_cast<std::uint8_t>(event.data.control.channel & 0x0F);
    const snd_seq_ev_note_t& note = event.data.note;
    const snd_seq_ev_ctrl_t& control = event.data.control;
    switch (event.type) {
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_KEYPRESS: {
            const std::uint8_t kind = event.type == SND_SEQ_EVENT_NOTEON    ? 0x90
                                      : event.type == SND_SEQ_EVENT_NOTEOFF ? 0x80
                                                                            : 0xA0;
            bytes[0] = kind | noteChannel;
            bytes[1] = dataByte(note.note);
            bytes[2] = dataByte(note.velocity);
            return 3;
        }
        case SND_SEQ_EVENT_CONTROLLER:
            bytes[0] = 0xB0 | controlChannel;
            bytes[1] = dataByte(static_cast<int>(control.param));
            bytes[2] = dataByte(control.value);
            return 3;
        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
            bytes[0] = (event.type == SND_SEQ_EVENT_PGMCHANGE ? 0xC0 : 0xD0) | controlChannel;
            bytes[1] = dataByte(control.value);
            return 2;
        case SND_SEQ_EVENT_PITCHBEND:
            // The sequencer centres the bend on 0; MIDI on 8192.
            return put14Bit(0xE0 | controlChannel, control.value + 8192, bytes);
        case SND_SEQ_EVENT_SONGPOS:
            return put14Bit(0xF2, control.value, bytes);
        case SND_SEQ_EVENT_CLOCK:
            return putStatus(0xF8, bytes);
        case SND_SEQ_EVENT_START:
            return putStatus(0xFA, bytes);
        case SND_SEQ_EVENT_CONTINUE:
            return putStatus(0xFB, bytes);
        case SND_SEQ_EVENT_STOP:
            return putStatus(0xFC, bytes);
        default:
            return 0;
    }
}

// Waits on the sequencer and the stop signal. Events are read until none is left, the
// difference of the clocks measured first; the sequencer reports an overrun (a source flooding
// faster than we read) as ENOSPC, after which reading simply goes on with what is there.
void AlsaMidiInput::run() {
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    fds[0] = {stopFd_, POLLIN, 0};
    snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned int>(count), POLLIN);
    std::int64_t nextLookNs = ClockCalibration::monotonicNs();
    for (;;) {
        if (::poll(fds.data(), fds.size(), kLookPeriodMs) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return;
        }
        for (int read = 0;; ++read) {
            if (read % kEventsPerMeasurement == 0) {
                measureOffset();
            }
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(seq_, &event);
            if (result == -ENOSPC) {
                continue;
            }
            if (result < 0 || event == nullptr) {
                break;
            }
            handle(*event);
        }
        const std::int64_t nowNs = ClockCalibration::monotonicNs();
        if (nowNs >= nextLookNs) {
            nextLookNs = nowNs + std::int64_t{kLookPeriodMs} * 1'000'000;
            std::lock_guard guard(mutex_);
            followSourceLocked();
        }
    }
}

void AlsaMidiInput::handle(const snd_seq_event& event) {
    if (event.dest.port == announcePort_) {
        announced(event);
        return;
    }
    std::uint8_t bytes[3] = {};
    const int length = decode(event, bytes);
    if (length > 0 && sink_ != nullptr) {
        sink_->onMidiMessage(bytes, length, engineTimeUs(event));
    }
}

// A source that exits takes its subscription with it; one that starts (or a port that
// changes, perhaps into the source's name) may be the source back.
void AlsaMidiInput::announced(const snd_seq_event& event) {
    const Address address{event.data.addr.client, event.data.addr.port};
    std::lock_guard guard(mutex_);
    switch (event.type) {
        case SND_SEQ_EVENT_PORT_EXIT:
        case SND_SEQ_EVENT_CLIENT_EXIT:
            if (address.client == subscribed_.client &&
                (event.type == SND_SEQ_EVENT_CLIENT_EXIT || address.port == subscribed_.port)) {
                subscribed_ = Address{};
                connected_.store(false, std::memory_order_release);
            }
            return;
        case SND_SEQ_EVENT_PORT_START:
        case SND_SEQ_EVENT_CLIENT_START:
        case SND_SEQ_EVENT_PORT_CHANGE:
        case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
            followSourceLocked();
            return;
        default:
            return;
    }
}

void AlsaMidiInput::followSourceLocked() {
    if (source_.empty()) {
        connected_.store(false, std::memory_order_release);
        return;
    }
    std::optional<Address> found;
    int skip = occurrence_;
    forEachReadablePort(seq_, [&](const PortName& name, int client, int port) {
        if (!(name == source_) || skip-- > 0) {
            return true;
        }
        found = Address{client, port};
        return false;
    });
    if (!found) {
        connected_.store(false, std::memory_order_release);
        return;
    }
    if (*found == subscribed_ && subscriptionExists(*found)) {
        connected_.store(true, std::memory_order_release);
        return;
    }
    if (subscribed_ != *found) {
        unsubscribeLocked();
    }
    const int result = snd_seq_connect_from(seq_, inPort_, found->client, found->port);
    // EBUSY: subscribed already (by a patchbay, say); that serves as well.
    const bool subscribed = result >= 0 || result == -EBUSY;
    subscribed_ = subscribed ? *found : Address{};
    connected_.store(subscribed, std::memory_order_release);
}

void AlsaMidiInput::unsubscribeLocked() {
    if (subscribed_.client >= 0) {
        snd_seq_disconnect_from(seq_, inPort_, subscribed_.client, subscribed_.port);
    }
    subscribed_ = Address{};
    connected_.store(false, std::memory_order_release);
}

bool AlsaMidiInput::subscriptionExists(const Address& source) const {
    snd_seq_port_subscribe_t* subscription = nullptr;
    snd_seq_port_subscribe_alloca(&subscription);
    const snd_seq_addr_t sender{static_cast<unsigned char>(source.client),
                                static_cast<unsigned char>(source.port)};
    const snd_seq_addr_t dest{static_cast<unsigned char>(snd_seq_client_id(seq_)),
                              static_cast<unsigned char>(inPort_)};
    snd_seq_port_subscribe_set_sender(subscription, &sender);
    snd_seq_port_subscribe_set_dest(subscription, &dest);
    return snd_seq_get_port_subscription(seq_, subscription) >= 0;
}

// The stamps are the queue's real time, which starts at 0 when the queue starts; the engine
// counts CLOCK_MONOTONIC. The queue's time is the sum of its timer's periods, which runs off
// the monotonic clock: by parts per million on a quiet machine, by milliseconds within a
// second in a virtual machine whose timer ticks come late. A difference measured once would
// be wrong by then, and one averaged over time would lag; so it is read afresh whenever the
// thread wakes to read events, from the queue's status (the kernel works out that time the
// same way as a stamp, between its timer's ticks) between two readings of the monotonic
// clock. An ioctl of a few microseconds per wake-up, not per event; a reading stretched by
// preemption is taken again.
void AlsaMidiInput::measureOffset() {
    snd_seq_queue_status_t* status = nullptr;
    snd_seq_queue_status_alloca(&status);
    std::int64_t bestSpanNs = std::numeric_limits<std::int64_t>::max();
    for (int attempt = 0; attempt < 3 && bestSpanNs > kTightSpanNs; ++attempt) {
        const std::int64_t beforeNs = ClockCalibration::monotonicNs();
        if (snd_seq_get_queue_status(seq_, queue_, status) < 0) {
            return;
        }
        const std::int64_t afterNs = ClockCalibration::monotonicNs();
        if (afterNs - beforeNs < bestSpanNs) {
            const snd_seq_real_time_t* real = snd_seq_queue_status_get_real_time(status);
            const std::int64_t queueUs =
                std::int64_t{real->tv_sec} * 1'000'000 + std::int64_t{real->tv_nsec} / 1000;
            offsetUs_ = (beforeNs + afterNs) / 2 / 1000 - queueUs;
            offsetKnown_ = true;
            bestSpanNs = afterNs - beforeNs;
        }
    }
}

bool AlsaMidiInput::isStamped(const snd_seq_event& event) const {
    return (event.flags & SND_SEQ_TIME_STAMP_MASK) == SND_SEQ_TIME_STAMP_REAL &&
           event.queue == queue_;
}

std::int64_t AlsaMidiInput::stampUs(const snd_seq_event& event) {
    return std::int64_t{event.time.time.tv_sec} * 1'000'000 +
           std::int64_t{event.time.time.tv_nsec} / 1000;
}

std::int64_t AlsaMidiInput::engineTimeUs(const snd_seq_event& event) const {
    if (!isStamped(event) || !offsetKnown_) {
        // Not stamped by our queue (our port stamps all it receives): the moment we read it.
        return ClockCalibration::monotonicNs() / 1000;
    }
    return stampUs(event) + offsetUs_;
}
