#include "midi/JackConnection.h"

#include <jack/midiport.h>
#include <time.h>

#include <algorithm>
#include <chrono>

#include "midi/ClockCalibration.h"
#include "midi/OwnClients.h"

namespace {

// While the target is missing or cannot be connected yet, the watcher looks again this often:
// a client lists its ports before it is active, and JACK connects only active clients' ports.
constexpr auto kRetryPeriod = std::chrono::milliseconds(100);
// While the server is gone, it is asked for this often: each try opens a client, which costs
// the server little, and a server back under the same name is found within about a second.
constexpr auto kServerRetryPeriod = std::chrono::milliseconds(1000);
// How long libjack's own thread is given to finish with a client whose server went away.
constexpr auto kShutdownSettle = std::chrono::milliseconds(300);

}  // namespace

std::unique_ptr<JackConnection> JackConnection::open(jack_client_t* client, std::string clientName,
                                                     const std::string& target) {
    std::unique_ptr<JackConnection> connection(
        new JackConnection(client, std::move(clientName), target));
    if (!connection->attachClient()) {
        return nullptr;
    }
    // A port that is listed may belong to a client not yet active, which JACK refuses to
    // connect for a moment; a port that is not there at all fails at once.
    const char* own = jack_port_name(connection->port_);
    const bool connected = connection->waitUntil(kConnectWaitMs, [&] {
        return jack_port_by_name(client, target.c_str()) == nullptr ||
               jack_connect(client, own, target.c_str()) == 0;
    });
    if (!connected || jack_port_connected_to(connection->port_, target.c_str()) == 0) {
        return nullptr;
    }
    connection->generation_.store(1, std::memory_order_release);
    connection->targetPresent_.store(true, std::memory_order_release);
    connection->updateLatency();
    connection->watcher_ = std::thread([raw = connection.get()] { raw->watch(); });
    // jack_connect returns before the server runs the new graph; what is sent meanwhile is
    // held, but the first step should not come late either.
    connection->waitUntil(kLiveWaitMs,
                          [&] { return connection->live_.load(std::memory_order_acquire); });
    return connection;
}

std::mutex& JackConnection::clientOpenMutex() {
    static std::mutex mutex;
    return mutex;
}

JackConnection::JackConnection(jack_client_t* client, std::string clientName, std::string target)
    : client_(client), clientName_(std::move(clientName)), target_(std::move(target)) {}

bool JackConnection::attachClient() {
    jack_port_t* port =
        jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (port == nullptr) {
        return false;
    }
    {
        std::lock_guard guard(clientMutex_);
        port_ = port;
    }
    void* self = this;
    jack_set_process_callback(client_, &JackConnection::process, self);
    jack_set_port_registration_callback(client_, &JackConnection::portRegistered, self);
    jack_set_graph_order_callback(client_, &JackConnection::graphOrderChanged, self);
    jack_on_shutdown(client_, &JackConnection::serverGone, self);
    jack_set_latency_callback(client_, &JackConnection::reportLatency, self);
    OwnClients::addJack(jack_get_client_name(client_));
    return jack_activate(client_) == 0;
}

JackConnection::~JackConnection() {
    stopWatcher();
    if (client_ == nullptr) {
        return;
    }
    if (targetPresent_.load(std::memory_order_acquire) &&
        serverAlive_.load(std::memory_order_acquire)) {
        // No sends come any more (the output port took this connection out of use first).
        // A cycle that begins from now on sees everything queued, and the cycle after it
        // begins only once the target has read what the first one delivered.
        const std::uint32_t start = cycles_.load(std::memory_order_acquire);
        waitUntil(kDrainWaitMs, [&] {
            return cycles_.load(std::memory_order_acquire) - start >= 3 &&
                   emptyCycles_.load(std::memory_order_acquire) >= 2;
        });
    }
    OwnClients::removeJack(jack_get_client_name(client_));
    std::lock_guard guard(clientOpenMutex());
    jack_deactivate(client_);
    jack_client_close(client_);
}

JackConnection::ClientUse::ClientUse(JackConnection& connection)
    : connection_(connection), held_(true) {
    // Announced before the check: the watcher takes the client away only once it has seen
    // the flag down and no one announced.
    connection_.clientUsers_.fetch_add(1, std::memory_order_seq_cst);
    if (!connection_.clientUsable_.load(std::memory_order_seq_cst) ||
        connection_.client_ == nullptr) {
        held_ = false;
    }
}

JackConnection::ClientUse::~ClientUse() {
    connection_.clientUsers_.fetch_sub(1, std::memory_order_release);
}

void JackConnection::withdrawClient() {
    clientUsable_.store(false, std::memory_order_seq_cst);
    const timespec pause{0, 100 * 1000};
    while (clientUsers_.load(std::memory_order_seq_cst) != 0) {
        ::nanosleep(&pause, nullptr);
    }
}

bool JackConnection::send(const std::uint8_t* bytes) {
    ClientUse use(*this);
    return use && queueLocked(bytes, jack_frame_time(client_));
}

bool JackConnection::sendDue(const std::uint8_t* bytes, std::int64_t lateUs) {
    ClientUse use(*this);
    if (!use) {
        return false;
    }
    const auto dueTime =
        static_cast<jack_time_t>(static_cast<std::int64_t>(jack_get_time()) - lateUs);
    return queueLocked(bytes, jack_time_to_frames(client_, dueTime));
}

bool JackConnection::sendAt(const std::uint8_t* bytes, std::int64_t dueUs, std::int64_t lateUs) {
    if (dueUs == StepTimeline::kNever) {
        return sendDue(bytes, lateUs);
    }
    ClientUse use(*this);
    if (!use) {
        return false;
    }
    jack_nframes_t frame = 0;
    if (!timeline_.frameForDue(dueUs, frame)) {
        frame = estimateFrame(dueUs, lateUs);
    }
    return queueLocked(bytes, frame);
}

bool JackConnection::sendAtFrame(const std::uint8_t* bytes, std::uint32_t frame,
                                 std::int64_t /*dueUs*/, std::int64_t /*lateUs*/) {
    ClientUse use(*this);
    return use && queueLocked(bytes, frame);
}

jack_nframes_t JackConnection::estimateFrame(std::int64_t dueUs, std::int64_t lateUs) {
    // JACK's estimate moves with every cycle: worked out once per due time, so that Start, the
    // first tick and a step's notes stay together.
    if (dueUs != lastDueUs_) {
        const auto dueTime =
            static_cast<jack_time_t>(static_cast<std::int64_t>(jack_get_time()) - lateUs);
        lastDueUs_ = dueUs;
        lastDueFrame_ = jack_time_to_frames(client_, dueTime);
    }
    return lastDueFrame_;
}

namespace {

// The engine's time base (StepTimer) minus JACK's microsecond clock, read now: both follow
// the system's monotonic clock, but neither promises the same origin.
std::int64_t engineMinusJackUs() {
    return ClockCalibration::monotonicNs() / 1000 - static_cast<std::int64_t>(jack_get_time());
}

}  // namespace

bool JackConnection::sampleRate(double& rate) {
    ClientUse use(*this);
    if (!use || !serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    rate = jack_get_sample_rate(client_);
    return rate > 0.0;
}

bool JackConnection::frameAt(std::int64_t timeUs, jack_nframes_t& frame) {
    ClientUse use(*this);
    if (!use || !serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    frame = jack_time_to_frames(client_, static_cast<jack_time_t>(timeUs - engineMinusJackUs()));
    return true;
}

bool JackConnection::timeOf(jack_nframes_t frame, std::int64_t& timeUs) {
    ClientUse use(*this);
    if (!use || !serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    timeUs = static_cast<std::int64_t>(jack_frames_to_time(client_, frame)) + engineMinusJackUs();
    return true;
}

// Frame placement and its latency. A message due at frame f goes into the cycle that covers
// f + P (P: the period in frames), at offset (f + P) mod P, so it leaves the port exactly one
// period after its due frame, whatever the clock thread's wake-up jitter within that period.
// Listeners that compensate latency read it as the output port's capture latency, [P, P]
// (jack_port_get_latency_range with JackCaptureLatency): what leaves the port was due P frames
// before. Followers of a shared grid hand messages over early by latencyUs(): that period
// plus the playback latency of what listens, so that the sound lands on the grid itself.
void JackConnection::reportLatency(jack_latency_callback_mode_t mode, void* arg) {
    auto* self = static_cast<JackConnection*>(arg);
    if (mode == JackPlaybackLatency) {
        self->updateLatency();
        return;
    }
    std::lock_guard guard(self->clientMutex_);
    if (self->client_ == nullptr) {
        return;
    }
    const jack_nframes_t period = jack_get_buffer_size(self->client_);
    jack_latency_range_t range{period, period};
    jack_port_set_latency_range(self->port_, JackCaptureLatency, &range);
}

// Runs on JACK's notification thread or the watcher, never on the process thread: listing
// the connections allocates.
void JackConnection::updateLatency() {
    std::lock_guard guard(clientMutex_);
    jack_client_t* client = client_;
    jack_port_t* port = port_;
    if (client == nullptr || port == nullptr || !serverAlive_.load(std::memory_order_acquire)) {
        return;
    }
    jack_latency_range_t own{0, 0};
    jack_port_get_latency_range(port, JackPlaybackLatency, &own);
    jack_nframes_t playback = own.max;
    if (const char** connections = jack_port_get_connections(port)) {
        for (const char** name = connections; *name != nullptr; ++name) {
            if (jack_port_t* other = jack_port_by_name(client, *name)) {
                jack_latency_range_t range{0, 0};
                jack_port_get_latency_range(other, JackPlaybackLatency, &range);
                playback = std::max(playback, range.max);
            }
        }
        jack_free(connections);
    }
    const jack_nframes_t rate = jack_get_sample_rate(client);
    if (rate == 0) {
        return;
    }
    const std::int64_t frames = std::int64_t{jack_get_buffer_size(client)} + playback;
    latencyUs_.store(frames * 1'000'000 / rate, std::memory_order_release);
}

bool JackConnection::queueLocked(const std::uint8_t* bytes, jack_nframes_t frame) {
    const int length = MidiBytes::lengthForStatus(bytes[0]);
    if (length == 0 || !serverAlive_.load(std::memory_order_acquire) ||
        !targetPresent_.load(std::memory_order_acquire) ||
        lostGeneration_.load(std::memory_order_acquire) ==
            generation_.load(std::memory_order_acquire)) {
        return false;
    }
    Event event;
    event.frame = frame;
    event.length = static_cast<std::uint8_t>(length);
    // A data byte with its top bit set would read as a status byte on the wire.
    event.bytes[0] = bytes[0];
    event.bytes[1] = bytes[1] & 0x7F;
    event.bytes[2] = bytes[2] & 0x7F;
    if (!events_.push(event)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

// The connection count read here comes from the graph this very cycle runs with, the one in
// which the target reads its input: a connection that counts here carries this cycle's data.
int JackConnection::process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<JackConnection*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, nframes);
    jack_midi_clear_buffer(buffer);
    const std::uint32_t generation = self->generation_.load(std::memory_order_acquire);
    if (jack_port_connected(self->port_) > 0) {
        self->live_.store(true, std::memory_order_release);
        self->liveGeneration_ = generation;
        self->lostGeneration_.store(0, std::memory_order_release);
        self->deliver(buffer, nframes);
    } else {
        if (self->live_.load(std::memory_order_relaxed)) {
            // The target went away: nothing more is taken for it until it is connected again.
            // The watcher may have connected it anew already; that connection is not lost.
            self->live_.store(false, std::memory_order_release);
            self->lostGeneration_.store(self->liveGeneration_, std::memory_order_release);
        }
        // Held while a fresh connection is still on its way into the graph.
        if (!self->targetPresent_.load(std::memory_order_acquire) ||
            self->lostGeneration_.load(std::memory_order_relaxed) == generation) {
            self->discardQueued();
        }
    }
    const bool empty = self->events_.front() == nullptr;
    self->emptyCycles_.store(empty ? self->emptyCycles_.load(std::memory_order_relaxed) + 1 : 0,
                             std::memory_order_release);
    self->cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

// An event sent at frame time t goes out at t + one period: the cycle that starts at c covers
// the send times c - nframes .. c - 1. Events sent later than that wait for the next cycle;
// events that missed their cycle go out at once. An event that finds the buffer full waits
// for the next cycle too, at its start: late, but a lost note-off would hang a note.
void JackConnection::deliver(void* buffer, jack_nframes_t nframes) {
    const jack_nframes_t cycleStart = jack_last_frame_time(client_);
    jack_nframes_t lastOffset = 0;
    bool written = false;
    while (const Event* event = events_.front()) {
        // Frame times wrap around; the difference is taken modulo 2^32.
        const auto lead = static_cast<std::int32_t>(event->frame + nframes - cycleStart);
        if (lead >= static_cast<std::int32_t>(nframes)) {
            break;
        }
        if (lead < 0) {
            missedCycle_.fetch_add(1, std::memory_order_relaxed);
        }
        jack_nframes_t offset = lead < 0 ? 0 : static_cast<jack_nframes_t>(lead);
        if (offset < lastOffset) {
            offset = lastOffset;
        }
        if (jack_midi_event_write(buffer, offset, event->bytes, event->length) != 0) {
            if (written) {
                deferred_.fetch_add(1, std::memory_order_relaxed);
                break;
            }
            // Not even an empty buffer takes it: keeping it would block the queue for good.
            dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        written = true;
        lastOffset = offset;
        events_.pop();
    }
}

void JackConnection::discardQueued() {
    while (events_.pop()) {
    }
}

void JackConnection::portRegistered(jack_port_id_t, int, void* arg) {
    static_cast<JackConnection*>(arg)->wakeWatcher();
}

int JackConnection::graphOrderChanged(void* arg) {
    static_cast<JackConnection*>(arg)->wakeWatcher();
    return 0;
}

void JackConnection::serverGone(void* arg) {
    auto* self = static_cast<JackConnection*>(arg);
    self->serverAlive_.store(false, std::memory_order_release);
    self->wakeWatcher();
}

void JackConnection::watch() {
    std::unique_lock lock(watchMutex_);
    while (!stopping_) {
        if (!serverAlive_.load(std::memory_order_acquire)) {
            if (!looking_.load(std::memory_order_acquire)) {
                // libjack tells of the shutdown from a thread of its own and goes on from there
                // after our notice returns; closing the client meanwhile was seen to hang in
                // libjack on a busy machine. Its thread is given a moment first.
                watchWake_.wait_for(lock, kShutdownSettle, [&] { return stopping_; });
                if (stopping_) {
                    return;
                }
            }
            lock.unlock();
            findServerAgain();
            lock.lock();
            if (!serverAlive_.load(std::memory_order_acquire)) {
                watchWake_.wait_for(lock, kServerRetryPeriod, [&] { return stopping_; });
            }
            continue;
        }
        const bool healthy = targetPresent_.load(std::memory_order_acquire) &&
                             lostGeneration_.load(std::memory_order_acquire) !=
                                 generation_.load(std::memory_order_acquire);
        watchWake_.wait_for(lock, healthy ? std::chrono::milliseconds(1000) : kRetryPeriod,
                            [&] { return stopping_ || portsChanged_; });
        if (stopping_) {
            return;
        }
        portsChanged_ = false;
        if (!serverAlive_.load(std::memory_order_acquire)) {
            continue;
        }
        lock.unlock();
        // Checked once more right before: the client of a server that went away must not be
        // used but to close it.
        if (serverAlive_.load(std::memory_order_acquire)) {
            followTarget();
        }
        if (serverAlive_.load(std::memory_order_acquire)) {
            updateLatency();
        }
        lock.lock();
    }
}

void JackConnection::findServerAgain() {
    jack_client_t* dead = nullptr;
    {
        std::lock_guard guard(clientMutex_);
        withdrawClient();
        dead = client_;
        client_ = nullptr;
    }
    if (dead != nullptr) {
        // A client whose server went away must still be closed; after this none of its
        // callbacks runs any more, so the queue is ours to empty.
        OwnClients::removeJack(jack_get_client_name(dead));
        {
            std::lock_guard guard(clientOpenMutex());
            jack_client_close(dead);
        }
        looking_.store(true, std::memory_order_release);
        discardQueued();
        targetPresent_.store(false, std::memory_order_release);
        live_.store(false, std::memory_order_release);
        lostGeneration_.store(0, std::memory_order_release);
        liveGeneration_ = 0;
    }
    jack_client_t* fresh = nullptr;
    {
        std::lock_guard guard(clientOpenMutex());
        jack_status_t status{};
        fresh = jack_client_open(clientName_.c_str(), JackNoStartServer, &status);
    }
    if (fresh == nullptr) {
        return;
    }
    looking_.store(false, std::memory_order_release);
    {
        std::lock_guard guard(clientMutex_);
        client_ = fresh;
        lastDueUs_ = StepTimeline::kNever;
    }
    serverAlive_.store(true, std::memory_order_release);
    clientUsable_.store(true, std::memory_order_seq_cst);
    if (!attachClient()) {
        // Closed again at the next try.
        serverAlive_.store(false, std::memory_order_release);
        return;
    }
    serverReturns_.fetch_add(1, std::memory_order_acq_rel);
    followTarget();
    updateLatency();
}

void JackConnection::followTarget() {
    if (jack_port_by_name(client_, target_.c_str()) == nullptr) {
        targetPresent_.store(false, std::memory_order_release);
        return;
    }
    const bool lost = lostGeneration_.load(std::memory_order_acquire) ==
                      generation_.load(std::memory_order_acquire);
    const char* own = jack_port_name(port_);
    if (jack_port_connected_to(port_, target_.c_str()) != 0) {
        if (!lost) {
            targetPresent_.store(true, std::memory_order_release);
            return;
        }
        // Connected by name, yet the graph dropped it: start afresh.
        jack_disconnect(client_, own, target_.c_str());
    }
    if (jack_connect(client_, own, target_.c_str()) == 0) {
        generation_.fetch_add(1, std::memory_order_acq_rel);
        targetPresent_.store(true, std::memory_order_release);
    }
}

void JackConnection::wakeWatcher() {
    {
        std::lock_guard guard(watchMutex_);
        portsChanged_ = true;
    }
    watchWake_.notify_one();
}

void JackConnection::stopWatcher() {
    {
        std::lock_guard guard(watchMutex_);
        stopping_ = true;
    }
    watchWake_.notify_one();
    if (watcher_.joinable()) {
        watcher_.join();
    }
}

template <typename Done>
bool JackConnection::waitUntil(int milliseconds, Done done) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    // Polled: the process thread that makes these conditions true must not take a lock.
    const timespec pause{0, 500 * 1000};
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline ||
            !serverAlive_.load(std::memory_order_acquire)) {
            return false;
        }
        ::nanosleep(&pause, nullptr);
    }
    return true;
}
