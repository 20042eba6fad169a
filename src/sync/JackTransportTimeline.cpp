#include "sync/JackTransportTimeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/StepTimer.h"
#include "sync/TransportGrid.h"

namespace {

void ignoreJackText(const char*) {}

// Rounding slack for a position that lies on a sixteenth: it plays that sixteenth.
constexpr double kOnTheGrid = 1e-6;
// Beats by which a rolling transport may stray from its own count before it counts as moved
// (beyond its ticks' resolution and a tempo change within the cycle).
constexpr double kStrayBeats = 1e-3;

std::int32_t framesAfter(std::uint32_t frame, std::uint32_t from) {
    return static_cast<std::int32_t>(frame - from);
}

bool moving(std::int32_t state) {
    return state == JackTransportRolling || state == JackTransportStarting;
}

}  // namespace

std::unique_ptr<JackTransportTimeline> JackTransportTimeline::open(StepTimer& clock,
                                                                   const std::string& clientName) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        jack_set_error_function(ignoreJackText);
        jack_set_info_function(ignoreJackText);
    });
    std::unique_ptr<JackTransportTimeline> timeline(new JackTransportTimeline(clientName, clock));
    {
        std::lock_guard guard(timeline->clientLock_);
        if (!timeline->connectLocked()) {
            return nullptr;
        }
        timeline->tryToLead();
    }
    timeline->watcher_ = std::thread([self = timeline.get()] { self->watch(); });
    return timeline;
}

JackTransportTimeline::JackTransportTimeline(std::string clientName, StepTimer& clock)
    : clientName_(std::move(clientName)), clock_(clock) {}

JackTransportTimeline::~JackTransportTimeline() {
    {
        std::lock_guard guard(watchLock_);
        quitting_ = true;
    }
    watchWake_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    std::lock_guard guard(clientLock_);
    if (jack_client_t* client = client_.exchange(nullptr)) {
        // Closing also gives up the timebase.
        jack_deactivate(client);
        jack_client_close(client);
    }
}

bool JackTransportTimeline::connectLocked() {
    if (jack_client_t* old = client_.exchange(nullptr)) {
        jack_client_close(old);
    }
    jack_status_t status{};
    jack_client_t* client = jack_client_open(clientName_.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        return false;
    }
    // No process callback runs yet: the process thread's own state starts afresh, and the
    // place the steps go on from counts as moved.
    // The count of cycles goes on, so that none of the old server's is taken for a new one.
    TransportSnapshot fresh;
    fresh.cycles = cycle_.cycles;
    fresh.jumps = cycle_.jumps + 1;
    cycle_ = fresh;
    snapshot_.write(fresh);
    haveCycle_ = false;
    heldFrames_ = 0;
    tracker_.reset();
    leading_.store(false, std::memory_order_release);
    client_.store(client, std::memory_order_release);
    jack_on_shutdown(client, &JackTransportTimeline::serverGone, this);
    if (jack_set_process_callback(client, &JackTransportTimeline::process, this) != 0 ||
        jack_set_sync_callback(client, &JackTransportTimeline::sync, this) != 0 ||
        jack_activate(client) != 0) {
        client_.store(nullptr, std::memory_order_release);
        jack_client_close(client);
        return false;
    }
    serverAlive_.store(true, std::memory_order_release);
    return true;
}

void JackTransportTimeline::tryToLead() {
    jack_client_t* client = client_.load(std::memory_order_acquire);
    if (leading() || client == nullptr || !serverAlive_.load(std::memory_order_acquire)) {
        return;
    }
    // Conditional: refused (EBUSY) while another client is the master.
    if (jack_set_timebase_callback(client, 1, &JackTransportTimeline::supplyPosition, this) == 0) {
        leading_.store(true, std::memory_order_release);
    }
}

void JackTransportTimeline::watch() {
    std::unique_lock lock(watchLock_);
    while (!quitting_) {
        watchWake_.wait_for(lock, std::chrono::milliseconds(kLookEveryMs), [this] {
            return quitting_ || (!serverAlive_.load(std::memory_order_acquire) &&
                                 client_.load(std::memory_order_acquire) != nullptr);
        });
        if (quitting_) {
            break;
        }
        lock.unlock();
        lookAfterServer();
        lock.lock();
    }
}

void JackTransportTimeline::lookAfterServer() {
    // Only this thread changes the client, so it uses it without the lock; the lock keeps the
    // others off while it changes (and begin() then gives up rather than wait).
    if (!serverAlive_.load(std::memory_order_acquire)) {
        std::lock_guard guard(clientLock_);
        if (jack_client_t* dead = client_.exchange(nullptr)) {
            // At once, and a look for the server only a second later: libjack keeps one set of
            // globals per process while any client is open, so a client opened on the new
            // server beside a dead one would be tied to the old server.
            jack_client_close(dead);
            return;
        }
        if (!connectLocked()) {
            return;
        }
        clock_.wake();
    } else if (leading()) {
        // Another client may have taken the timebase over unconditionally; JACK does not say
        // so, but our callback is no longer called while the transport rolls.
        const std::uint64_t supplied = supplied_.load(std::memory_order_acquire);
        if (supplied == suppliedAtLastLook_ && rolling()) {
            leading_.store(false, std::memory_order_release);
        }
        suppliedAtLastLook_ = supplied;
    }
    tryToLead();
}

bool JackTransportTimeline::lookingForServer() {
    std::lock_guard guard(clientLock_);
    return client_.load(std::memory_order_acquire) == nullptr;
}

bool JackTransportTimeline::rolling() const {
    if (!serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    TransportSnapshot snapshot;
    return snapshot_.read(snapshot) && snapshot.cycles > 0 && moving(snapshot.state);
}

bool JackTransportTimeline::rollingAsAsked() const {
    const bool now = rolling();
    const int asked = asked_.load(std::memory_order_acquire);
    if (asked == kNothingAsked) {
        return now;
    }
    if ((asked == kStartAsked) == now ||
        clock_.nowUs() - askedAtUs_.load(std::memory_order_acquire) > kAskedHoldUs) {
        asked_.store(kNothingAsked, std::memory_order_release);
        return now;
    }
    return asked == kStartAsked;
}

void JackTransportTimeline::setTempo(double beatsPerMinute) {
    if (beatsPerMinute > 0.0 && std::isfinite(beatsPerMinute)) {
        tempo_.store(beatsPerMinute, std::memory_order_release);
    }
}

void JackTransportTimeline::setFollowing(bool following) {
    following_.store(following, std::memory_order_release);
}

bool JackTransportTimeline::askTransport(bool roll, bool wait) {
    std::unique_lock lock(clientLock_, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        // The watcher is reopening the client: the server was gone, there is nothing to start.
        return false;
    }
    jack_client_t* client = client_.load(std::memory_order_acquire);
    if (client == nullptr || !serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    if (roll && wait) {
        tryToLead();
    }
    askedAtUs_.store(clock_.nowUs(), std::memory_order_release);
    asked_.store(roll ? kStartAsked : kStopAsked, std::memory_order_release);
    // Both only post a request to the server and give no result: rollingAsAsked() tells
    // whether the transport took it up.
    if (roll) {
        jack_transport_start(client);
    } else {
        jack_transport_stop(client);
    }
    return true;
}

void JackTransportTimeline::setRolling(bool roll) {
    askTransport(roll, true);
}

std::int64_t JackTransportTimeline::begin(std::int64_t nowUs, double periodMs, bool alone) {
    alone_ = alone;
    aloneNow_.store(alone, std::memory_order_release);
    anchored_ = false;
    nextStep_ = 0;
    placedStep_ = -1;
    if (periodMs > 0.0) {
        setTempo(15000.0 / periodMs);
    }
    if (alone) {
        return fixed_.begin(nowUs, periodMs, alone);
    }
    // With the engine lock held: no timebase registration here, and never a wait for the
    // watcher (the lead is taken when the client opens).
    if (!rolling()) {
        askTransport(true, false);
    }
    return dueUs(0);
}

void JackTransportTimeline::end(bool alone) {
    if (!alone_ && !alone && rollingAsAsked()) {
        askTransport(false, false);
    }
    alone_ = false;
    aloneNow_.store(false, std::memory_order_release);
    anchored_ = false;
}

void JackTransportTimeline::resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) {
    // A pass that was playing goes on on the transport's grid from its next sixteenth.
    alone_ = false;
    aloneNow_.store(false, std::memory_order_release);
    anchored_ = false;
    nextStep_ = lastStep + 1;
    placedStep_ = -1;
    fixed_.resume(lastStep, lastDueUs, periodMs);
    if (periodMs > 0.0) {
        setTempo(15000.0 / periodMs);
    }
}

void JackTransportTimeline::retime(std::int64_t lastStep, double periodMs) {
    if (periodMs > 0.0) {
        setTempo(15000.0 / periodMs);
    }
    if (alone_) {
        fixed_.retime(lastStep, periodMs);
    }
}

bool JackTransportTimeline::latest(TransportSnapshot& snapshot) {
    if (!serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    if (snapshot_.read(snapshot)) {
        lastRead_ = snapshot;
    } else {
        snapshot = lastRead_;
    }
    return snapshot.cycles > 0 && snapshot.frameRate > 0 && snapshot.period > 0 &&
           snapshot.nextCycleUs > snapshot.cycleUs;
}

std::int64_t JackTransportTimeline::rollOffset(const TransportSnapshot& snapshot,
                                               std::int64_t jackNowUs) {
    const std::int64_t next = snapshot.period;
    if (!following_.load(std::memory_order_acquire)) {
        // Nobody holds the start: it rolls at the next cycle.
        return next;
    }
    const std::uint64_t target = rollTarget_.load(std::memory_order_acquire);
    if ((target >> 32U) == snapshot.jumps) {
        const std::int32_t offset =
            framesAfter(static_cast<std::uint32_t>(target), snapshot.cycleFrame);
        // Past it, another client still holds the start: it rolls at the next cycle at best.
        return std::max<std::int64_t>(offset, next);
    }
    // The first cycle at least the lead ahead, which the sync callback lets the transport roll on.
    const double usPerFrame = static_cast<double>(snapshot.nextCycleUs - snapshot.cycleUs) /
                              static_cast<double>(snapshot.period);
    const double aheadFrames =
        static_cast<double>(jackNowUs - snapshot.cycleUs + kStartLeadUs) / usPerFrame;
    const std::int64_t cycles = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::ceil(aheadFrames / static_cast<double>(next))));
    const std::uint32_t frame = snapshot.cycleFrame + static_cast<std::uint32_t>(cycles * next);
    rollTarget_.store((static_cast<std::uint64_t>(snapshot.jumps) << 32U) | frame,
                      std::memory_order_release);
    return cycles * next;
}

void JackTransportTimeline::anchor(const TransportSnapshot& snapshot, std::int64_t jackNowUs) {
    const double perBeat = TransportGrid::sixteenthsPerBeat(snapshot.beatType);
    double from = snapshot.jumpBeats;
    double barStart = snapshot.jumpBarStartBeats;
    if (!anchored_ && snapshot.state == JackTransportRolling) {
        // A pass begun while the transport rolls: from the next sixteenth after now.
        const double usPerFrame = static_cast<double>(snapshot.nextCycleUs - snapshot.cycleUs) /
                                  static_cast<double>(snapshot.period);
        const double framesIn = static_cast<double>(jackNowUs - snapshot.cycleUs) / usPerFrame;
        from = snapshot.beats +
               std::max(framesIn, 0.0) * snapshot.beatsPerMinute / 60.0 / snapshot.frameRate;
        barStart = snapshot.barStartBeats;
    }
    anchored_ = true;
    anchorJumps_ = snapshot.jumps;
    firstSixteenth_ = static_cast<std::int64_t>(std::ceil(from * perBeat - kOnTheGrid)) - nextStep_;
    placedStep_ = nextStep_;
    barStartSixteenth_ = barStart * perBeat;
    sixteenthsPerBar_ = snapshot.beatsPerBar * perBeat;
}

double JackTransportTimeline::framesTo(const TransportSnapshot& snapshot, double sixteenth,
                                       std::int64_t base) {
    const double perBeat = TransportGrid::sixteenthsPerBeat(snapshot.beatType);
    const double framesPerSixteenth = TransportGrid::framesPerSixteenth(
        snapshot.beatsPerMinute, snapshot.beatType, snapshot.frameRate);
    if (!(perBeat > 0.0) || !(framesPerSixteenth > 0.0)) {
        return std::nan("");
    }
    return static_cast<double>(base) + (sixteenth - snapshot.beats * perBeat) * framesPerSixteenth;
}

std::int64_t JackTransportTimeline::dueUs(std::int64_t step) {
    if (alone_) {
        return fixed_.dueUs(step);
    }
    nextStep_ = std::max(nextStep_, step);
    TransportSnapshot snapshot;
    if (!latest(snapshot) || !moving(snapshot.state) ||
        !(TransportGrid::sixteenthsPerBeat(snapshot.beatType) > 0.0)) {
        return kNever;
    }
    const auto jackNowUs = static_cast<std::int64_t>(jack_get_time());
    const std::int64_t engineNowUs = clock_.nowUs();
    // A starting transport stands still at its beat and rolls from it at a later cycle.
    const std::int64_t base =
        snapshot.state == JackTransportStarting ? rollOffset(snapshot, jackNowUs) : 0;
    if (!anchored_ || snapshot.jumps != anchorJumps_) {
        anchor(snapshot, jackNowUs);
    }
    const auto sixteenth = static_cast<double>(firstSixteenth_ + step);
    double frames = framesTo(snapshot, sixteenth, base);
    // Due before this cycle: found in the cycle it fell in, as long as the transport rolled on
    // from there.
    for (std::uint64_t back = 1; frames < 0.0 && snapshot.state == JackTransportRolling &&
                                 back < kHistory && back < snapshot.cycles;
         ++back) {
        TransportSnapshot older;
        const std::uint64_t cycle = snapshot.cycles - back;
        if (!history_[cycle % kHistory].read(older) || older.cycles != cycle ||
            older.state != JackTransportRolling || older.jumps != anchorJumps_) {
            break;
        }
        const double olderFrames = framesTo(older, sixteenth, 0);
        if (!std::isfinite(olderFrames)) {
            break;
        }
        frames = olderFrames + framesAfter(older.cycleFrame, snapshot.cycleFrame);
        const double usPerFrame = static_cast<double>(older.nextCycleUs - older.cycleUs) /
                                  static_cast<double>(older.period);
        if (olderFrames >= 0.0 && older.nextCycleUs > older.cycleUs && older.period > 0) {
            const double jackUs = static_cast<double>(older.cycleUs) + olderFrames * usPerFrame;
            return std::llround(jackUs) + (engineNowUs - jackNowUs);
        }
    }
    const double usPerFrame = static_cast<double>(snapshot.nextCycleUs - snapshot.cycleUs) /
                              static_cast<double>(snapshot.period);
    const double jackUs = static_cast<double>(snapshot.cycleUs) + frames * usPerFrame;
    if (!std::isfinite(jackUs) || std::fabs(jackUs) > 9.0e15) {
        return kNever;
    }
    return std::llround(jackUs) + (engineNowUs - jackNowUs);
}

int JackTransportTimeline::stepInMeasure(std::int64_t step, int visibleSteps) {
    if (alone_ || !anchored_ || step != placedStep_) {
        return -1;
    }
    const std::int64_t sinceBar = firstSixteenth_ + step - std::llround(barStartSixteenth_);
    return TransportGrid::stepInMeasure(sinceBar, sixteenthsPerBar_, visibleSteps);
}

std::int64_t JackTransportTimeline::songPosition(std::int64_t step) {
    return alone_ || !anchored_ ? step : std::max<std::int64_t>(firstSixteenth_ + step, 0);
}

void JackTransportTimeline::observeCycle(jack_client_t* client) {
    jack_nframes_t cycleFrame = 0;
    jack_time_t cycleUs = 0;
    jack_time_t nextUs = 0;
    float periodUs = 0.0F;
    if (jack_get_cycle_times(client, &cycleFrame, &cycleUs, &nextUs, &periodUs) != 0) {
        return;
    }
    if (haveCycle_ && cycleFrame == cycle_.cycleFrame) {
        return;  // the sync callback saw this cycle already
    }
    const TransportSnapshot before = cycle_;
    const bool hadCycle = haveCycle_;
    jack_position_t position{};
    TransportSnapshot now = before;
    now.state = static_cast<std::int32_t>(jack_transport_query(client, &position));
    now.cycles = before.cycles + 1;
    now.cycleUs = static_cast<std::int64_t>(cycleUs);
    now.nextCycleUs = static_cast<std::int64_t>(nextUs);
    now.cycleFrame = cycleFrame;
    now.period = jack_get_buffer_size(client);
    // The server's own rate: a position just relocated may carry the requester's unset field.
    now.frameRate = jack_get_sample_rate(client);
    now.transportFrame = position.frame;
    const double rate = std::max<double>(now.frameRate, 1.0);
    // Rolled on as far as JACK's frame clock did, cycles this client missed (a late wake-up
    // on a busy machine) included.
    const std::uint32_t elapsed = cycleFrame - before.cycleFrame;
    const bool rolledOn = hadCycle && before.state == JackTransportRolling &&
                          now.state == JackTransportRolling &&
                          position.frame == before.transportFrame + elapsed;
    if (hadCycle && before.state == JackTransportRolling && now.state == JackTransportRolling &&
        !rolledOn && tornCycles_ < kTornCyclesAtMost) {
        // A relocation while rolling passes through Starting (this client syncs). A frame a
        // cycle or two off the frame clock is a reading torn between two cycles, as seen when
        // the server runs on before a late client reads: not taken, unless it lasts.
        const std::int32_t drift = framesAfter(position.frame, before.transportFrame + elapsed);
        if (std::abs(drift) <= 2 * static_cast<std::int32_t>(now.period)) {
            ++tornCycles_;
            return;
        }
    }
    const double beatsPerFrameBefore = before.beatsPerMinute / 60.0 / rate;
    double resolution = 0.0;
    if ((position.valid & JackPositionBBT) != 0 && position.beats_per_minute > 0.0 &&
        position.ticks_per_beat > 0.0) {
        TransportGrid::Bbt bbt;
        bbt.bar = position.bar;
        bbt.beat = position.beat;
        bbt.tick = position.tick;
        bbt.beatsPerBar = position.beats_per_bar;
        bbt.beatType = position.beat_type;
        bbt.ticksPerBeat = position.ticks_per_beat;
        bbt.beatsPerMinute = position.beats_per_minute;
        bbt.barStartTick = position.bar_start_tick;
        if ((position.valid & JackTickDouble) != 0) {
            bbt.exactTick = position.tick_double;
        } else {
            resolution = 1.0 / bbt.ticksPerBeat;
        }
        double measured = TransportGrid::beatsOf(bbt);
        if ((position.valid & JackBBTFrameOffset) != 0 && now.state == JackTransportRolling) {
            // The bar, beat and tick were for a frame that many frames before the cycle.
            measured += static_cast<double>(position.bbt_offset) * bbt.beatsPerMinute / 60.0 / rate;
        }
        if (rolledOn && before.fromMaster && tornCycles_ < kTornCyclesAtMost) {
            // Torn the other way: the master's beat a cycle or two off the frame.
            const double counted =
                before.beats + static_cast<double>(elapsed) * beatsPerFrameBefore;
            const double slack = 2.0 * resolution + kStrayBeats +
                                 static_cast<double>(elapsed) *
                                     std::fabs(bbt.beatsPerMinute - before.beatsPerMinute) / 60.0 /
                                     rate;
            const double cycleBeats = static_cast<double>(now.period) *
                                      std::max(bbt.beatsPerMinute, before.beatsPerMinute) / 60.0 /
                                      rate;
            const double off = std::fabs(measured - counted);
            if (off > slack && off <= 2.0 * cycleBeats + slack) {
                ++tornCycles_;
                return;
            }
        }
        now.fromMaster = true;
        now.beats = tracker_.track(cycleFrame, measured, resolution,
                                   before.fromMaster ? beatsPerFrameBefore : 0.0, rolledOn);
        now.beatsPerMinute = bbt.beatsPerMinute;
        now.beatType = bbt.beatType;
        now.beatsPerBar = bbt.beatsPerBar;
        now.barStartBeats = TransportGrid::barStartBeats(bbt);
    } else {
        // No master: the frame at the program's tempo, in 4/4.
        tracker_.reset();
        now.fromMaster = false;
        now.beatsPerMinute = tempo_.load(std::memory_order_acquire);
        now.beatType = 4.0;
        now.beatsPerBar = 4.0;
        now.beats = static_cast<double>(position.frame) * now.beatsPerMinute / 60.0 / rate;
        now.barStartBeats = std::floor(now.beats / 4.0) * 4.0;
    }
    tornCycles_ = 0;
    bool jumped = false;
    if (now.state == JackTransportStarting) {
        // Also a relocation while starting.
        jumped = !hadCycle || before.state != JackTransportStarting ||
                 position.frame != before.transportFrame;
    } else if (now.state == JackTransportRolling) {
        if (!rolledOn) {
            // Rolling on from a start that passed through Starting is no jump, a move is.
            jumped = !hadCycle || before.state != JackTransportStarting ||
                     position.frame != before.transportFrame;
        } else if (now.fromMaster == before.fromMaster) {
            const double counted =
                before.beats + static_cast<double>(elapsed) * beatsPerFrameBefore;
            const double bend = static_cast<double>(elapsed) *
                                std::fabs(now.beatsPerMinute - before.beatsPerMinute) / 60.0 / rate;
            jumped = std::fabs(now.beats - counted) > 2.0 * resolution + bend + kStrayBeats;
        } else {
            jumped = true;
        }
    }
    if (jumped) {
        ++now.jumps;
        now.jumpBeats = now.beats;
        now.jumpBarStartBeats = now.barStartBeats;
    }
    cycle_ = now;
    haveCycle_ = true;
    history_[now.cycles % kHistory].write(now);
    snapshot_.write(now);
    if (!hadCycle || jumped || now.state != before.state ||
        now.beatsPerMinute != before.beatsPerMinute) {
        // The due time the clock thread sleeps towards may have moved.
        clock_.wake();
    }
}

int JackTransportTimeline::process(jack_nframes_t, void* arg) {
    auto* self = static_cast<JackTransportTimeline*>(arg);
    self->observeCycle(self->client_.load(std::memory_order_acquire));
    return 0;
}

int JackTransportTimeline::sync(jack_transport_state_t state, jack_position_t*, void* arg) {
    auto* self = static_cast<JackTransportTimeline*>(arg);
    jack_client_t* client = self->client_.load(std::memory_order_acquire);
    if (state != JackTransportStarting || !self->following_.load(std::memory_order_acquire) ||
        self->aloneNow_.load(std::memory_order_acquire)) {
        self->heldFrames_ = 0;
        return 1;
    }
    self->observeCycle(client);
    const TransportSnapshot& cycle = self->cycle_;
    const std::uint64_t target = self->rollTarget_.load(std::memory_order_acquire);
    // Ready on the cycle before the one the engine picked: the transport rolls on the next.
    if ((target >> 32U) == cycle.jumps &&
        framesAfter(cycle.cycleFrame + cycle.period, static_cast<std::uint32_t>(target)) >= 0) {
        self->heldFrames_ = 0;
        return 1;
    }
    self->heldFrames_ += cycle.period;
    if (static_cast<double>(self->heldFrames_) >
        static_cast<double>(kHoldUs) * static_cast<double>(cycle.frameRate) / 1e6) {
        // The engine did not come: others must not wait for it any longer.
        self->heldFrames_ = 0;
        return 1;
    }
    return 0;
}

void JackTransportTimeline::supplyPosition(jack_transport_state_t, jack_nframes_t,
                                           jack_position_t* position, int, void* arg) {
    auto* self = static_cast<JackTransportTimeline*>(arg);
    self->supplied_.fetch_add(1, std::memory_order_acq_rel);
    TempoMap& map = self->tempoMap_;
    const double tempo = self->tempo_.load(std::memory_order_acquire);
    // The server's rate, not the position's: the cycle that takes up a relocation hands over
    // the requester's position, whose frame_rate jack_transport_locate() leaves unset. Taken
    // for a new rate, it would restart the map at today's tempo, as if it had held from frame 0.
    const jack_nframes_t serverRate =
        jack_get_sample_rate(self->client_.load(std::memory_order_acquire));
    const double rate = serverRate > 0 ? serverRate : 48000.0;
    if (rate != map.frameRate()) {
        map.restart(tempo, rate);
    }
    const auto frame = static_cast<std::int64_t>(position->frame);
    // A tempo change, or a relocation into frames played at another tempo: the current tempo
    // holds from here on, the beats up to here stay where they were.
    if (tempo != map.tempoAt(frame)) {
        map.change(frame, tempo);
    }
    const TransportGrid::Bbt bbt = TransportGrid::bbtForBeats(map.beatsAt(frame), tempo);
    position->valid = static_cast<jack_position_bits_t>(JackPositionBBT | JackTickDouble);
    position->bar = bbt.bar;
    position->beat = bbt.beat;
    position->tick = bbt.tick;
    position->tick_double = bbt.exactTick;
    position->bar_start_tick = bbt.barStartTick;
    position->beats_per_bar = static_cast<float>(bbt.beatsPerBar);
    position->beat_type = static_cast<float>(bbt.beatType);
    position->ticks_per_beat = bbt.ticksPerBeat;
    position->beats_per_minute = tempo;
}

void JackTransportTimeline::serverGone(void* arg) {
    auto* self = static_cast<JackTransportTimeline*>(arg);
    self->serverAlive_.store(false, std::memory_order_release);
    self->leading_.store(false, std::memory_order_release);
    // Nothing is due any more: the clock thread must not sleep towards a step.
    self->clock_.wake();
    // The watcher closes the dead client. Not under its lock: at worst it closes it at its
    // next look.
    self->watchWake_.notify_all();
}
