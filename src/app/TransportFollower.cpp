#include "TransportFollower.h"

#include "core/Player.h"
#include "core/Setup.h"
#include "sync/JackTransportTimeline.h"

std::unique_ptr<TransportFollower> TransportFollower::start(Player& player, Setup& setup,
                                                            StepTimer& clock, bool followEngine) {
    std::unique_ptr<JackTransportTimeline> timeline =
        JackTransportTimeline::open(clock, "Glimmerstave transport");
    if (timeline == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<TransportFollower>(
        new TransportFollower(player, setup, std::move(timeline), followEngine));
}

TransportFollower::TransportFollower(Player& player, Setup& setup,
                                     std::unique_ptr<JackTransportTimeline> timeline,
                                     bool followEngine)
    : player_(player), setup_(setup), timeline_(std::move(timeline)), followEngine_(followEngine) {
    timeline_->setTempo(setup_.bpm);
    timeline_->setFollowing(!followEngine_);
    if (!followEngine_) {
        player_.setTimeline(timeline_.get());
    }
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start(kPollMs);
    poll();
}

TransportFollower::~TransportFollower() {
    timer_.stop();
    if (!followEngine_) {
        player_.setTimeline(nullptr);
    }
}

void TransportFollower::setFollowEngine(bool followEngine) {
    followEngine_ = followEngine;
    timeline_->setFollowing(!followEngine);
    // An engine already playing starts the transport at the next look.
    wasRunning_ = false;
}

void TransportFollower::poll() {
    timeline_->setTempo(setup_.bpm);
    if (followEngine_) {
        driveTransport();
        return;
    }
    // Only the engine's start and stop: the timeline wakes the clock thread itself whenever
    // the transport's state, tempo or place changes.
    const bool rolling = timeline_->rollingAsAsked();
    if (rolling && !player_.isRunning()) {
        player_.start();
    } else if (!rolling && player_.isRunning() && !timeline_->playingAlone()) {
        player_.stop();
    }
}

void TransportFollower::driveTransport() {
    // Only when the engine starts or stops: between those, another client may move the
    // transport as it likes.
    const bool running = player_.isRunning();
    if (running == wasRunning_) {
        return;
    }
    wasRunning_ = running;
    if (running != timeline_->rollingAsAsked()) {
        timeline_->setRolling(running);
    }
}
