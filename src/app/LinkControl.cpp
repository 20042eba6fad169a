#include "app/LinkControl.h"

#include <cmath>
#include <mutex>

#include "app/MainWindow.h"
#include "app/Preferences.h"
#include "panels/MainPanel.h"
#include "sync/LinkSession.h"
#include "toolkit/MTempoDial.h"

namespace {

std::string peersText(std::size_t peers) {
    return std::to_string(peers) + (peers == 1 ? " peer" : " peers");
}

}  // namespace

LinkControl::LinkControl(MainWindow& window) : window_(window) {}

LinkControl::~LinkControl() {
    if (session_) {
        // Nothing more from Link's threads, and the engine back on its own schedule.
        session_->setListener({});
        if (enabled_) {
            window_.player().setTimeline(nullptr);
        }
    }
}

void LinkControl::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    if (!enabled) {
        enabled_ = false;
        // The tempo stays as the session left it; the pass goes on on the program's schedule,
        // or the JACK transport's while that is on.
        window_.applyTimeline();
        session_->setEnabled(false);
        showPeers();
        return;
    }
    if (!session_) {
        session_ = std::make_unique<LinkSession>(window_.clock(), window_.setup().bpm);
        // Link's threads: queue the work for the window thread, never touch anything here.
        LinkSession::Listener listener;
        listener.peersChanged = [this](std::size_t) {
            QMetaObject::invokeMethod(
                this, [this] { showPeers(); }, Qt::QueuedConnection);
        };
        listener.tempoChanged = [this](double) {
            QMetaObject::invokeMethod(
                this, [this] { applyTempo(); }, Qt::QueuedConnection);
        };
        listener.playingChanged = [this](bool) {
            QMetaObject::invokeMethod(
                this, [this] { applyPlaying(); }, Qt::QueuedConnection);
        };
        session_->setListener(std::move(listener));
    }
    // Alone, the session takes this copy's tempo; joining others, theirs wins.
    session_->setTempo(window_.setup().bpm);
    session_->setEnabled(true);
    enabled_ = true;
    window_.applyTimeline();
    // Link's range may have clamped the tempo.
    applyTempo();
    showPeers();
}

void LinkControl::toggle() {
    setEnabled(!enabled_);
    Preferences::saveLink(enabled_);
}

std::size_t LinkControl::peerCount() const {
    return enabled_ && session_ ? session_->peerCount() : 0;
}

std::string LinkControl::menuText() const {
    const std::size_t peers = peerCount();
    return peers == 0 ? "Ableton &Link" : "Ableton Link (" + peersText(peers) + ")";
}

std::string LinkControl::statusText() const {
    if (!enabled_) {
        return "Ableton Link: off";
    }
    const std::size_t peers = peerCount();
    return "Ableton Link: on, " + (peers == 0 ? std::string("no peers") : peersText(peers));
}

void LinkControl::onLocalTempo(double bpm) {
    if (enabled_) {
        session_->setTempo(bpm);
    }
}

void LinkControl::applyTempo() {
    if (!enabled_) {
        return;
    }
    const double bpm = session_->tempo();
    Setup& setup = window_.setup();
    Player& player = window_.player();
    if (!std::isfinite(bpm) || bpm == setup.bpm) {
        return;
    }
    // Not an edit of the setup: the dirty flag stays as it was.
    {
        std::lock_guard guard(player.engineLock());
        setup.bpm = bpm;
    }
    window_.panel().TempoDial().SetTempo(bpm);
    player.onTempoChanged();
}

void LinkControl::applyPlaying() {
    if (!enabled_) {
        return;
    }
    Player& player = window_.player();
    const bool playing = session_->isPlaying();
    // A copy already playing ignores a start, one already stopped a stop.
    if (playing && !player.isRunning()) {
        window_.panel().PlayButton().SetState(1);
        player.start();
    } else if (!playing && player.isRunning()) {
        player.stop();
    }
}

void LinkControl::showPeers() {
    const std::size_t peers = peerCount();
    // Someone joined: if we play the session, the newcomer comes in on the next bar.
    if (peers > lastPeers_ && window_.player().isRunning()) {
        session_->announcePlaying();
    }
    lastPeers_ = peers;
    window_.showStatus(window_.player().statusText());
}
