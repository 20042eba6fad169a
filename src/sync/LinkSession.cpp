#include "LinkSession.h"

#include <ableton/Link.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "core/StepTimer.h"
#include "sync/LinkSessionWatch.h"

// Time bases. Link's clock on Linux is CLOCK_MONOTONIC_RAW in microseconds. The engine's
// (StepTimer::nowUs, the step clock's) is CLOCK_MONOTONIC in microseconds, or the time-stamp
// counter started from a CLOCK_MONOTONIC reading and running at its measured rate. The two differ
// by an offset and by the rate correction NTP applies to CLOCK_MONOTONIC (a few parts per
// million, 500 at most). So the offset is not kept: every conversion reads both clocks afresh,
// back to back, and the times converted lie at most a bar from now, where the rate difference
// stays far below the clock thread's wake-up jitter at usual correction rates.

namespace {

using Micros = std::chrono::microseconds;

// A step that rounds a hair below a grid point must not wait a whole bar or step more.
constexpr double kBeatTolerance = 1e-6;

double nextMultiple(double beat, double unit) {
    return std::ceil(beat / unit - kBeatTolerance) * unit;
}

}  // namespace

struct LinkSession::State {
    explicit State(double bpm) : link(bpm) {}

    // Engine time minus Link time, from a back-to-back pair of readings.
    std::int64_t offsetUs(const StepTimer& clock) const {
        const std::int64_t before = clock.nowUs();
        const std::int64_t linkNow = link.clock().micros().count();
        const std::int64_t after = clock.nowUs();
        return before + (after - before) / 2 - linkNow;
    }

    ableton::Link link;
    std::mutex listenerMutex;
    Listener listener;
};

LinkSession::LinkSession(const StepTimer& clock, double bpm)
    : state_(std::make_unique<State>(std::clamp(bpm, kMinBpm, kMaxBpm))), clock_(clock) {
    State& state = *state_;
    // Link's thread: hand on to whatever the window registered, which only posts.
    state.link.setNumPeersCallback([&state](std::size_t peers) {
        std::lock_guard guard(state.listenerMutex);
        if (state.listener.peersChanged) {
            state.listener.peersChanged(peers);
        }
    });
    state.link.setTempoCallback([&state](double sessionBpm) {
        std::lock_guard guard(state.listenerMutex);
        if (state.listener.tempoChanged) {
            state.listener.tempoChanged(sessionBpm);
        }
    });
    state.link.setStartStopCallback([&state](bool playing) {
        std::lock_guard guard(state.listenerMutex);
        if (state.listener.playingChanged) {
            state.listener.playingChanged(playing);
        }
    });
    state.link.enableStartStopSync(true);
}

LinkSession::~LinkSession() {
    // Leave the session before the callbacks' targets go: Link's threads stop in its destructor.
    state_->link.enable(false);
    std::lock_guard guard(state_->listenerMutex);
    state_->listener = Listener{};
}

void LinkSession::setListener(Listener listener) {
    std::lock_guard guard(state_->listenerMutex);
    state_->listener = std::move(listener);
}

void LinkSession::setEnabled(bool enabled) {
    if (enabled && watch_ == nullptr) {
        watch_ = std::make_unique<LinkSessionWatch>();
    }
    state_->link.enable(enabled);
    if (!enabled) {
        watch_.reset();
    }
}

bool LinkSession::isEnabled() const {
    return state_->link.isEnabled();
}

std::size_t LinkSession::peerCount() const {
    return state_->link.numPeers();
}

double LinkSession::tempo() const {
    return state_->link.captureAppSessionState().tempo();
}

void LinkSession::setTempo(double bpm) {
    if (!std::isfinite(bpm)) {
        return;
    }
    auto session = state_->link.captureAppSessionState();
    session.setTempo(std::clamp(bpm, kMinBpm, kMaxBpm), state_->link.clock().micros());
    state_->link.commitAppSessionState(session);
}

bool LinkSession::isPlaying() const {
    return state_->link.captureAppSessionState().isPlaying();
}

void LinkSession::announcePlaying() {
    auto session = state_->link.captureAppSessionState();
    if (session.isPlaying()) {
        // A new start time makes it news; peers already playing see no change of state.
        session.setIsPlaying(true, state_->link.clock().micros());
        state_->link.commitAppSessionState(session);
    }
}

bool LinkSession::adoptSessionPlaying() {
    if (watch_ == nullptr || !watch_->sessionPlays()) {
        return false;
    }
    auto session = state_->link.captureAppSessionState();
    if (session.isPlaying()) {
        return false;
    }
    // Stamped now, newer than any start the peers know: those that play see no change.
    session.setIsPlaying(true, state_->link.clock().micros());
    state_->link.commitAppSessionState(session);
    return true;
}

void LinkSession::followClock(bool playing, double bpm, double beat, std::int64_t atUs) {
    State& state = *state_;
    const Micros at(atUs - state.offsetUs(clock_));
    auto session = state.link.captureAppSessionState();
    if (std::isfinite(bpm) && bpm > 0.0) {
        session.setTempo(std::clamp(bpm, kMinBpm, kMaxBpm), at);
    }
    if (playing) {
        session.forceBeatAtTime(beat, at, kQuantum);
    }
    if (session.isPlaying() != playing) {
        // Never stamped before the state it replaces, or peers would keep that one.
        session.setIsPlaying(playing, std::max(at, session.timeForIsPlaying() + Micros(1)));
    }
    state.link.commitAppSessionState(session);
}

double LinkSession::beatAt(std::int64_t nowUs) const {
    const auto session = state_->link.captureAppSessionState();
    return session.beatAtTime(Micros(nowUs - state_->offsetUs(clock_)), kQuantum);
}

std::int64_t LinkSession::begin(std::int64_t nowUs, double /*periodMs*/, bool alone) {
    State& state = *state_;
    const std::int64_t offset = state.offsetUs(clock_);
    const Micros linkNow(nowUs - offset);
    auto session = state.link.captureAppSessionState();
    if (alone) {
        // This copy only: on the session's next bar, its playing state untouched.
        firstBeat_ = nextMultiple(session.beatAtTime(linkNow, kQuantum), kQuantum);
    } else if (!session.isPlaying()) {
        // Our start is everyone's: beat 0 goes to now when alone in the session, else to the
        // session's next bar, where every peer starts too. The start itself is stamped now, not
        // at the bar: peers take the newest start or stop, and a stop made before that bar must
        // still count.
        session.setIsPlayingAndRequestBeatAtTime(true, linkNow, 0.0, kQuantum);
        state.link.commitAppSessionState(session);
        firstBeat_ = 0.0;
    } else {
        // The session plays already. Started within the last bar (by a peer, perhaps ahead of
        // time): begin on the bar at or after its start, late rather than a bar late. Playing
        // for longer: join on the next bar.
        const Micros startedAt = session.timeForIsPlaying();
        const double barUs = 60.0e6 / session.tempo() * kQuantum;
        const bool recent = static_cast<double>((linkNow - startedAt).count()) < barUs;
        firstBeat_ =
            nextMultiple(session.beatAtTime(recent ? startedAt : linkNow, kQuantum), kQuantum);
    }
    return session.timeAtBeat(firstBeat_, kQuantum).count() + offset;
}

void LinkSession::end(bool alone) {
    if (alone) {
        return;
    }
    auto session = state_->link.captureAppSessionState();
    if (session.isPlaying()) {
        // Never stamped before the start it ends, or peers would keep the start.
        session.setIsPlaying(
            false, std::max(state_->link.clock().micros(), session.timeForIsPlaying() + Micros(1)));
        state_->link.commitAppSessionState(session);
    }
}

void LinkSession::resume(std::int64_t lastStep, std::int64_t lastDueUs, double /*periodMs*/) {
    // The step after lastStep goes to the first sixteenth of the session's grid after both the
    // last step and now.
    const std::int64_t from = std::max(lastDueUs + 1, clock_.nowUs());
    const auto session = state_->link.captureAppSessionState();
    const double beat = session.beatAtTime(Micros(from - state_->offsetUs(clock_)), kQuantum);
    firstBeat_ =
        nextMultiple(beat, 1.0 / kStepsPerBeat) - static_cast<double>(lastStep + 1) / kStepsPerBeat;
}

void LinkSession::retime(std::int64_t /*lastStep*/, double /*periodMs*/) {
    // The session's tempo is the tempo: a change made here reaches the grid through setTempo.
}

std::int64_t LinkSession::songPosition(std::int64_t step) {
    return static_cast<std::int64_t>(std::llround(firstBeat_ * kStepsPerBeat)) + step;
}

std::int64_t LinkSession::dueUs(std::int64_t step) {
    const auto session = state_->link.captureAudioSessionState();
    const double beat = firstBeat_ + static_cast<double>(step) / kStepsPerBeat;
    return session.timeAtBeat(beat, kQuantum).count() + state_->offsetUs(clock_);
}
