#include "sync/TimeKeeper.h"

#include <QDateTime>

#include <cmath>
#include <cstdio>
#include <mutex>

#include "core/Player.h"
#include "core/Setup.h"
#include "core/StepTimer.h"
#include "sync/JackTransportTimeline.h"
#include "sync/LinkSession.h"
#include "sync/MidiClockTimeline.h"

namespace {

std::string peersText(std::size_t peers) {
    return std::to_string(peers) + (peers == 1 ? " peer" : " peers");
}

constexpr const char* kClockStartsNote =
    "MIDI clock leads: playback starts and stops with the clock";
constexpr const char* kClockTempoNote = "MIDI clock leads: the tempo follows the clock";

// A followed tempo closer than this to the one shown is not news.
constexpr double kTempoShownStep = 0.05;
// Link's beat drifting further than this from the clock's is put back.
constexpr double kLinkDriftBeats = 0.01;

std::string bpmText(double bpm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", bpm);
    return text;
}

}  // namespace

TimeKeeper::TimeKeeper(Player& player, Setup& setup, StepTimer& clock)
    : player_(player),
      setup_(setup),
      clock_(clock),
      clockTimeline_(std::make_unique<MidiClockTimeline>(clock)) {
    connect(&transportTimer_, &QTimer::timeout, this, [this] { pollTransport(); });
    connect(&joinTimer_, &QTimer::timeout, this, [this] { lookForPlayingSession(); });
    connect(&clockTimer_, &QTimer::timeout, this, [this] { pollClock(); });
    if (clockTimeline_->eventFd() >= 0) {
        // A run that begins or ends reaches the window thread at once, not at the next look.
        clockEvents_ =
            std::make_unique<QSocketNotifier>(clockTimeline_->eventFd(), QSocketNotifier::Read);
        connect(clockEvents_.get(), &QSocketNotifier::activated, this, [this] { pollClock(); });
    }
}

TimeKeeper::~TimeKeeper() {
    leave();
}

void TimeKeeper::setListener(Listener listener) {
    listener_ = std::move(listener);
}

// ---- Requests ------------------------------------------------------------------------------

void TimeKeeper::start(bool alone) {
    if (refusedWhileClockLeads(kClockStartsNote)) {
        return;
    }
    sittingOut_ = false;
    player_.start(alone);
}

void TimeKeeper::stop(bool alone) {
    if (refusedWhileClockLeads(kClockStartsNote)) {
        return;
    }
    const bool stopsAlone = alone || player_.passAlone();
    if (stopsAlone && leader() == Leader::Transport && transport_->rolling()) {
        sittingOut_ = true;
    }
    player_.stop(alone);
}

void TimeKeeper::toggle(bool alone) {
    if (refusedWhileClockLeads(kClockStartsNote)) {
        return;
    }
    if (player_.isRunning()) {
        const bool stopsAlone = alone || player_.passAlone();
        if (stopsAlone && leader() == Leader::Transport && transport_->rolling()) {
            sittingOut_ = true;
        }
    } else {
        sittingOut_ = false;
    }
    player_.toggle(alone);
}

void TimeKeeper::setTempo(double bpm) {
    if (refusedWhileClockLeads(kClockTempoNote)) {
        return;
    }
    if (linkEnabled_) {
        link_->setTempo(bpm);
    }
    if (transport_ != nullptr) {
        transport_->setTempo(bpm);
    }
}

void TimeKeeper::leave() {
    transportTimer_.stop();
    clockTimer_.stop();
    clockEvents_.reset();
    clockFollowed_ = false;
    if (player_.isRunning()) {
        player_.stop(true);
    }
    frameTimeline_ = nullptr;
    player_.setTimeline(nullptr);
    // Closing the transport's client gives up the timebase; the transport rolls on.
    transport_.reset();
    if (link_ != nullptr) {
        // Leaving a Link session changes nothing for the peers that stay.
        link_->setListener({});
        link_->setEnabled(false);
    }
    linkEnabled_ = false;
}

void TimeKeeper::setFrameTimeline(StepTimeline* timeline) {
    frameTimeline_ = timeline;
    if (leader() == Leader::OwnSchedule) {
        // A pass under way goes on from its last step on the new schedule.
        player_.setTimeline(timeline);
    }
}

TimeKeeper::Leader TimeKeeper::leader() const {
    if (clockFollowed_) {
        return Leader::MidiClock;
    }
    if (linkEnabled_) {
        return Leader::Link;
    }
    return transport_ != nullptr ? Leader::Transport : Leader::OwnSchedule;
}

void TimeKeeper::applyLeader() {
    const Leader leading = leader();
    if (transport_ != nullptr) {
        // Followed, the transport holds a start back until the engine's pass has begun.
        transport_->setFollowing(leading == Leader::Transport);
    }
    if (leading == Leader::MidiClock) {
        wasRunning_ = false;
        player_.setTimeline(clockTimeline_.get());
    } else if (leading == Leader::Link) {
        // An engine already playing starts the transport at the next look.
        wasRunning_ = false;
        player_.setTimeline(link_.get());
    } else if (leading == Leader::Transport) {
        player_.setTimeline(transport_.get());
    } else {
        player_.setTimeline(frameTimeline_);
    }
    notifyStateChanged();
}

void TimeKeeper::notifyStateChanged() {
    if (listener_.stateChanged) {
        listener_.stateChanged();
    }
}

// ---- Ableton Link --------------------------------------------------------------------------

void TimeKeeper::setLinkEnabled(bool enabled) {
    if (enabled == linkEnabled_) {
        return;
    }
    if (!enabled) {
        linkEnabled_ = false;
        // The tempo stays as the session left it; the pass goes on on the program's schedule,
        // or the JACK transport's while that is followed.
        applyLeader();
        link_->setEnabled(false);
        return;
    }
    if (link_ == nullptr) {
        link_ = std::make_unique<LinkSession>(clock_, setup_.bpm);
    }
    // Link's threads: queue the work for the window thread, never touch anything there.
    LinkSession::Listener listener;
    listener.peersChanged = [this](std::size_t) {
        QMetaObject::invokeMethod(
            this, [this] { onPeersChanged(); }, Qt::QueuedConnection);
    };
    listener.tempoChanged = [this](double) {
        QMetaObject::invokeMethod(
            this, [this] { applyLinkTempo(); }, Qt::QueuedConnection);
    };
    listener.playingChanged = [this](bool) {
        QMetaObject::invokeMethod(
            this, [this] { applyLinkPlaying(); }, Qt::QueuedConnection);
    };
    link_->setListener(std::move(listener));
    // Alone, the session takes this copy's tempo; joining others, theirs wins.
    link_->setTempo(setup_.bpm);
    link_->setEnabled(true);
    linkEnabled_ = true;
    applyLeader();
    // Link's range may have clamped the tempo.
    applyLinkTempo();
}

std::size_t TimeKeeper::peerCount() const {
    return linkEnabled_ && link_ != nullptr ? link_->peerCount() : 0;
}

std::string TimeKeeper::linkMenuText() const {
    const std::size_t peers = peerCount();
    return peers == 0 ? "Ableton &Link" : "Ableton Link (" + peersText(peers) + ")";
}

std::string TimeKeeper::linkStatusText() const {
    if (!linkEnabled_) {
        return "Ableton Link: off";
    }
    const std::size_t peers = peerCount();
    return "Ableton Link: on, " + (peers == 0 ? std::string("no peers") : peersText(peers));
}

void TimeKeeper::applyLinkTempo() {
    if (!linkEnabled_ || clockFollowed_) {
        return;
    }
    const double bpm = link_->tempo();
    if (!std::isfinite(bpm) || bpm == setup_.bpm) {
        return;
    }
    // Not an edit of the setup: the dirty flag stays as it was.
    {
        std::lock_guard guard(player_.engineLock());
        setup_.bpm = bpm;
    }
    if (listener_.tempoChanged) {
        listener_.tempoChanged(bpm);
    }
    player_.onTempoChanged();
}

void TimeKeeper::applyLinkPlaying() {
    if (!linkEnabled_ || clockFollowed_) {
        return;
    }
    const bool playing = link_->isPlaying();
    // A copy already playing ignores a start, one already stopped a stop; one that plays
    // alone ignores both.
    if (playing && !player_.isRunning()) {
        if (listener_.started) {
            listener_.started();
        }
        player_.start(false);
    } else if (!playing && player_.isRunning() && !player_.passAlone()) {
        player_.stop(false);
    }
}

void TimeKeeper::onPeersChanged() {
    if (!linkEnabled_) {
        return;
    }
    const std::size_t peers = link_->peerCount();
    // Someone joined: if we play the session, the newcomer comes in on the next bar. Joined
    // ourselves: a session that plays takes us in on its next bar.
    if (peers > lastPeers_) {
        if (player_.isRunning() && (clockFollowed_ || !player_.passAlone())) {
            link_->announcePlaying();
        } else {
            applyLinkPlaying();
            // Another program's session that played before we came says nothing: look.
            joinLookEndsMs_ = QDateTime::currentMSecsSinceEpoch() + kJoinLookMs;
            joinTimer_.start(kJoinLookEveryMs);
        }
    }
    lastPeers_ = peers;
    notifyStateChanged();
}

void TimeKeeper::lookForPlayingSession() {
    if (!linkEnabled_ || clockFollowed_ || player_.isRunning() ||
        QDateTime::currentMSecsSinceEpoch() > joinLookEndsMs_) {
        joinTimer_.stop();
        return;
    }
    if (link_->adoptSessionPlaying()) {
        joinTimer_.stop();
        applyLinkPlaying();
    }
}

// ---- The JACK transport --------------------------------------------------------------------

void TimeKeeper::setTransportWanted(bool wanted) {
    transportWanted_ = wanted;
    if (!wanted) {
        transportTimer_.stop();
        if (transport_ != nullptr) {
            player_.setTimeline(linkEnabled_ ? link_.get() : nullptr);
            transport_.reset();
            notifyStateChanged();
        }
        return;
    }
    if (transport_ == nullptr) {
        openTransport();
    }
    transportTimer_.start(kPollMs);
}

void TimeKeeper::setTransportClientName(const std::string& name) {
    if (name == transportClientName_) {
        return;
    }
    transportClientName_ = name;
    if (transport_ != nullptr) {
        player_.setTimeline(linkEnabled_ ? link_.get() : nullptr);
        transport_.reset();
        openTransport();
    }
}

void TimeKeeper::openTransport() {
    lastReopenMs_ = QDateTime::currentMSecsSinceEpoch();
    transport_ = JackTransportTimeline::open(clock_, transportClientName_);
    if (transport_ == nullptr) {
        return;
    }
    transport_->setTempo(setup_.bpm);
    wasRunning_ = false;
    if (leader() == Leader::Transport && player_.isRunning() && !transport_->rolling()) {
        // Followed from now on while this copy plays: the transport starts with the pass,
        // which goes on on its grid instead of waiting for a start that may never come.
        transport_->setRolling(true);
    }
    applyLeader();
    pollTransport();
}

void TimeKeeper::pollTransport() {
    if (transport_ == nullptr) {
        if (transportWanted_ && QDateTime::currentMSecsSinceEpoch() - lastReopenMs_ >= kReopenMs) {
            openTransport();
        }
        return;
    }
    transport_->setTempo(setup_.bpm);
    if (leader() != Leader::Transport) {
        driveTransport();
    } else {
        followTransport();
    }
}

void TimeKeeper::followTransport() {
    // Only the engine's start and stop: the timeline wakes the clock thread itself whenever the
    // transport's state, tempo or place changes.
    const bool rolling = transport_->rollingAsAsked();
    const bool running = player_.isRunning();
    if (!rolling) {
        sittingOut_ = false;
    }
    if (rolling && !running && !sittingOut_) {
        if (listener_.started) {
            listener_.started();
        }
        player_.start(false);
    } else if (!rolling && running && !player_.passAlone()) {
        player_.stop(false);
    }
}

void TimeKeeper::driveTransport() {
    // Only when the engine starts or stops: between those, another client may move the
    // transport as it likes.
    const bool running = player_.isRunning();
    if (running == wasRunning_) {
        return;
    }
    wasRunning_ = running;
    if (running != transport_->rollingAsAsked() && (clockFollowed_ || !player_.passAlone())) {
        transport_->setRolling(running);
    }
}

// ---- An external MIDI clock ----------------------------------------------------------------

MidiInputSink& TimeKeeper::clockInput() {
    return *clockTimeline_;
}

void TimeKeeper::setClockFollowed(bool followed) {
    if (followed == clockFollowed_) {
        return;
    }
    clockFollowed_ = followed;
    clockNote_.clear();
    clockLost_ = false;
    if (followed) {
        // The clock decides from now on: a pass of the program's own ends, and one begins
        // with the clock's next run, or at once if the clock runs now.
        if (player_.isRunning()) {
            player_.stop(true);
        }
        playedRun_ = clockTimeline_->state().run - 1;
        clockTimer_.start(kClockPollMs);
    } else {
        clockTimer_.stop();
    }
    applyLeader();
    if (followed) {
        pollClock();
    }
}

std::string TimeKeeper::clockStatusText() const {
    if (!clockFollowed_) {
        return {};
    }
    if (!clockNote_.empty()) {
        return clockNote_;
    }
    if (clockLost_) {
        return "MIDI clock lost: stopped until it comes back";
    }
    const MidiClockTimeline::State state = clockTimeline_->state();
    if (state.running) {
        return "Following MIDI clock at " + bpmText(MidiClockTimeline::bpmOf(state)) + " BPM";
    }
    return "Following MIDI clock: waiting for Start";
}

bool TimeKeeper::refusedWhileClockLeads(const char* note) {
    if (!clockFollowed_) {
        return false;
    }
    clockNote_ = note;
    notifyStateChanged();
    return true;
}

void TimeKeeper::pollClock() {
    clockTimeline_->drainEvents();
    if (!clockFollowed_) {
        return;
    }
    const MidiClockTimeline::State state = clockTimeline_->state();
    const double bpm = MidiClockTimeline::bpmOf(state);
    if (bpm > 0.0 && std::fabs(bpm - setup_.bpm) >= kTempoShownStep) {
        applyClockTempo(bpm);
    }
    const bool lost =
        state.running && state.ticked && MidiClockTimeline::silentAt(state, clock_.nowUs());
    const bool runs = state.running && !lost;
    bool changed = lost != clockLost_;
    clockLost_ = lost;
    if (runs && (!player_.isRunning() || state.run != playedRun_)) {
        // A new run (Start, Continue, a lost clock back) begins a new pass. The pass's steps
        // wait for their ticks, which the input hands the engine without passing here.
        if (player_.isRunning()) {
            player_.stop(true);
        }
        playedRun_ = state.run;
        linkToldRun_ = false;
        clockNote_.clear();
        if (listener_.started) {
            listener_.started();
        }
        player_.start(true);
        changed = true;
    } else if (!runs && player_.isRunning()) {
        // Stop, or a clock that stopped arriving: the engine stops and silences its port.
        player_.stop(true);
        clockNote_.clear();
        changed = true;
    }
    followClockWithLink(runs);
    if (changed) {
        notifyStateChanged();
    }
}

void TimeKeeper::applyClockTempo(double bpm) {
    // Not an edit of the setup, as a Link peer's tempo is not.
    {
        std::lock_guard guard(player_.engineLock());
        setup_.bpm = bpm;
    }
    if (listener_.tempoChanged) {
        listener_.tempoChanged(bpm);
    }
    player_.onTempoChanged();
    if (transport_ != nullptr) {
        transport_->setTempo(bpm);
    }
}

void TimeKeeper::followClockWithLink(bool running) {
    if (!linkEnabled_ || link_ == nullptr) {
        return;
    }
    const MidiClockTimeline::State state = clockTimeline_->state();
    const double bpm = MidiClockTimeline::bpmOf(state);
    if (!running) {
        if (linkToldRun_ || link_->isPlaying()) {
            link_->followClock(false, bpm, 0.0, clock_.nowUs());
        }
        linkToldRun_ = false;
        return;
    }
    if (!state.ticked || bpm <= 0.0) {
        return;
    }
    // The session's beat is the clock's: its song position in quarter notes at the last tick.
    const double beat = static_cast<double>(state.lastTick) / MidiClockTimeline::kTicksPerBeat;
    const bool drifted = std::fabs(link_->beatAt(state.lastTickUs) - beat) > kLinkDriftBeats ||
                         std::fabs(link_->tempo() - bpm) >= kTempoShownStep;
    if (!linkToldRun_ || drifted) {
        link_->followClock(true, bpm, beat, state.lastTickUs);
        linkToldRun_ = true;
    }
}
