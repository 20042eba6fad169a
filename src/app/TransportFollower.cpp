#include "TransportFollower.h"

#include "core/Player.h"
#include "core/Setup.h"
#include "core/StepTimer.h"
#include "sync/JackTransportTimeline.h"

std::unique_ptr<TransportFollower> TransportFollower::start(Player& player, Setup& setup,
                                                            StepTimer& clock) {
    std::unique_ptr<JackTransportTimeline> timeline =
        JackTransportTimeline::open(clock, "Glimmerstave transport");
    if (timeline == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<TransportFollower>(
        new TransportFollower(player, setup, clock, std::move(timeline)));
}

TransportFollower::TransportFollower(Player& player, Setup& setup, StepTimer& clock,
                                     std::unique_ptr<JackTransportTimeline> timeline)
    : player_(player), setup_(setup), clock_(clock), timeline_(std::move(timeline)) {
    timeline_->setTempo(setup_.bpm);
    player_.setTimeline(timeline_.get());
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start(kPollMs);
    poll();
}

TransportFollower::~TransportFollower() {
    timer_.stop();
    player_.setTimeline(nullptr);
}

void TransportFollower::poll() {
    timeline_->setTempo(setup_.bpm);
    const bool rolling = timeline_->rollingAsAsked();
    if (rolling != wasRolling_ || (rolling && player_.isRunning())) {
        // Also while rolling: the clock thread sleeps towards a due time that a relocation may
        // since have moved, and learns of it only when it asks again.
        wasRolling_ = rolling;
        clock_.wake();
    }
    if (rolling && !player_.isRunning()) {
        player_.start();
    } else if (!rolling && player_.isRunning() && !timeline_->playingAlone()) {
        player_.stop();
    }
}
