#include "midi/JackMidiInput.h"

#include <jack/midiport.h>

#include <chrono>
#include <cstring>

#include "midi/ClientNames.h"
#include "midi/ClockCalibration.h"
#include "midi/JackConnection.h"
#include "midi/JackMidiDriver.h"
#include "midi/OwnClients.h"

namespace {

// A source that is listed but cannot be connected yet (JACK lists a client's ports before the
// client is active) is tried again this often.
constexpr auto kRetryPeriod = std::chrono::milliseconds(100);
// Without a server, or with the source connected, the watcher looks this often.
constexpr auto kLookPeriod = std::chrono::milliseconds(1000);

void ignoreJackText(const char*) {}

// libjack reports a missing server on stderr at every attempt; no server means no JACK input.
void silenceJack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(ignoreJackText);
        jack_set_info_function(ignoreJackText);
    });
}

jack_client_t* openQuietly(const std::string& name) {
    silenceJack();
    std::lock_guard guard(JackConnection::clientOpenMutex());
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

void closeLocked(jack_client_t* client) {
    std::lock_guard guard(JackConnection::clientOpenMutex());
    jack_client_close(client);
}

// The client part of a full port name, "client:port".
std::string clientOf(const char* port) {
    const char* colon = std::strchr(port, ':');
    return colon == nullptr ? std::string() : std::string(port, colon);
}

// CLOCK_MONOTONIC (what the sink takes) minus JACK's microsecond clock (which need not be
// the same clock), read now as the output's frame timeline reads it. The monotonic reading is
// taken between two of JACK's, and taken again when something came between them.
std::int64_t engineMinusJackUs() {
    constexpr jack_time_t kTightUs = 5;
    std::int64_t best = 0;
    jack_time_t bestSpan = ~jack_time_t{0};
    for (int attempt = 0; attempt < 3 && bestSpan > kTightUs; ++attempt) {
        const jack_time_t before = jack_get_time();
        const std::int64_t engineUs = ClockCalibration::monotonicNs() / 1000;
        const jack_time_t after = jack_get_time();
        if (after - before < bestSpan) {
            bestSpan = after - before;
            best = engineUs - static_cast<std::int64_t>(before + bestSpan / 2);
        }
    }
    return best;
}

}  // namespace

JackMidiInput::JackMidiInput(MidiInputSink* sink) : parser_(sink) {}

JackMidiInput::~JackMidiInput() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_all();
    applied_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    closeClient();
}

void JackMidiInput::open() {
    if (watcher_.joinable()) {
        return;
    }
    clientName_ = ClientNames::jackClientName(" input");
    if (openClient()) {
        followSource();
    }
    watcher_ = std::thread([this] { watch(); });
}

void JackMidiInput::setSource(const std::string& port) {
    std::unique_lock lock(mutex_);
    source_ = port;
    const std::uint64_t request = ++requested_;
    changed_ = true;
    if (!watcher_.joinable()) {
        return;
    }
    wakeUp_.notify_all();
    applied_.wait_for(lock, std::chrono::milliseconds(kApplyWaitMs),
                      [&] { return stopping_ || done_ >= request; });
}

std::vector<std::string> JackMidiInput::listSources() {
    std::vector<std::string> names;
    jack_client_t* client = openQuietly(ClientNames::jackClientName(" list"));
    if (client == nullptr) {
        return names;
    }
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (ports != nullptr) {
        for (const char** port = ports; *port != nullptr; ++port) {
            if (!OwnClients::isJack(clientOf(*port))) {
                names.push_back(std::string(*port) + JackMidiDriver::kNameSuffix);
            }
        }
        jack_free(ports);
    }
    closeLocked(client);
    return names;
}

void JackMidiInput::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const std::uint64_t request = requested_;
        changed_ = false;
        lock.unlock();
        if (client_ != nullptr && !serverAlive_.load(std::memory_order_acquire)) {
            closeClient();
        }
        if (client_ != nullptr || openClient()) {
            followSource();
        }
        lock.lock();
        done_ = request;
        applied_.notify_all();
        const bool settled =
            client_ == nullptr || source_.empty() || connected_.load(std::memory_order_acquire);
        wakeUp_.wait_for(lock, settled ? kLookPeriod : kRetryPeriod,
                         [&] { return stopping_ || changed_; });
    }
}

bool JackMidiInput::openClient() {
    jack_client_t* client = openQuietly(clientName_);
    if (client == nullptr) {
        return false;
    }
    jack_port_t* port =
        jack_port_register(client, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (port == nullptr) {
        closeLocked(client);
        return false;
    }
    client_ = client;
    port_ = port;
    // Listed as ours before anyone can see the port: the output list leaves it out.
    OwnClients::addJack(jack_get_client_name(client));
    // No process callback of ours runs yet: the parser starts afresh with the new client.
    parser_.reset();
    resetParser_.store(false, std::memory_order_relaxed);
    connectedSource_.clear();
    serverAlive_.store(true, std::memory_order_release);
    void* self = this;
    jack_set_process_callback(client, &JackMidiInput::process, self);
    jack_set_port_registration_callback(client, &JackMidiInput::portRegistered, self);
    jack_set_port_connect_callback(client, &JackMidiInput::portConnected, self);
    jack_on_shutdown(client, &JackMidiInput::serverGone, self);
    if (jack_activate(client) != 0) {
        closeClient();
        return false;
    }
    clientOpen_.store(true, std::memory_order_release);
    opens_.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

// After this no callback of the client runs any more.
void JackMidiInput::closeClient() {
    if (client_ == nullptr) {
        return;
    }
    clientOpen_.store(false, std::memory_order_release);
    connected_.store(false, std::memory_order_release);
    OwnClients::removeJack(jack_get_client_name(client_));
    {
        std::lock_guard guard(JackConnection::clientOpenMutex());
        if (serverAlive_.load(std::memory_order_acquire)) {
            jack_deactivate(client_);
        }
        jack_client_close(client_);
    }
    client_ = nullptr;
    port_ = nullptr;
}

void JackMidiInput::followSource() {
    std::string wanted;
    {
        std::lock_guard guard(mutex_);
        wanted = source_;
    }
    const char* own = jack_port_name(port_);
    if (wanted != connectedSource_) {
        if (!connectedSource_.empty()) {
            jack_disconnect(client_, connectedSource_.c_str(), own);
        }
        connectedSource_.clear();
        resetParser_.store(true, std::memory_order_release);
    }
    if (wanted.empty() || jack_port_by_name(client_, wanted.c_str()) == nullptr) {
        connected_.store(false, std::memory_order_release);
        return;
    }
    if (jack_port_connected_to(port_, wanted.c_str()) == 0) {
        // A source not active yet refuses; the watcher tries again shortly.
        jack_connect(client_, wanted.c_str(), own);
    }
    const bool connected = jack_port_connected_to(port_, wanted.c_str()) != 0;
    if (connected) {
        connectedSource_ = wanted;
    }
    connected_.store(connected, std::memory_order_release);
}

int JackMidiInput::process(jack_nframes_t nframes, void* arg) {
    static_cast<JackMidiInput*>(arg)->read(nframes);
    return 0;
}

// Each event's time is that of its frame by JACK's clock, then moved to the engine's time
// base (CLOCK_MONOTONIC) by the difference of the two clocks read now, as the output's frame
// timeline does.
void JackMidiInput::read(jack_nframes_t nframes) {
    if (resetParser_.exchange(false, std::memory_order_acq_rel)) {
        parser_.reset();
    }
    void* buffer = jack_port_get_buffer(port_, nframes);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0) {
        return;
    }
    const jack_nframes_t cycleStart = jack_last_frame_time(client_);
    const std::int64_t offsetUs = engineMinusJackUs();
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) {
            continue;
        }
        const jack_nframes_t frame = cycleStart + event.time;
        const std::int64_t timeUs =
            static_cast<std::int64_t>(jack_frames_to_time(client_, frame)) + offsetUs;
        parser_.feedAtFrame(event.buffer, static_cast<int>(event.size), timeUs, frame);
    }
}

void JackMidiInput::portRegistered(jack_port_id_t, int, void* arg) {
    static_cast<JackMidiInput*>(arg)->wake();
}

void JackMidiInput::portConnected(jack_port_id_t, jack_port_id_t, int, void* arg) {
    static_cast<JackMidiInput*>(arg)->wake();
}

void JackMidiInput::serverGone(void* arg) {
    auto* self = static_cast<JackMidiInput*>(arg);
    self->serverAlive_.store(false, std::memory_order_release);
    self->clientOpen_.store(false, std::memory_order_release);
    self->connected_.store(false, std::memory_order_release);
    self->wake();
}

void JackMidiInput::wake() {
    {
        std::lock_guard guard(mutex_);
        changed_ = true;
    }
    wakeUp_.notify_all();
}
