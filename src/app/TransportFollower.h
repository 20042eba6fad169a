#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

class JackTransportTimeline;
class Player;
class Setup;
class StepTimer;

// Follows and drives the JACK transport for the window: hands the player the transport's
// timeline, and watches the transport every 20 ms from the window thread, starting the engine
// when the transport rolls and stopping it when the transport stops (a pass played alone goes
// on). The clock thread is woken whenever the transport's state changes, because a stopped
// transport leaves it with no due time to wait for. Owned by the main window; the player and
// the clock must outlive it.
class TransportFollower : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 20;

    // nullptr when no JACK server answers.
    static std::unique_ptr<TransportFollower> start(Player& player, Setup& setup, StepTimer& clock);
    // Takes the timeline away from the player first.
    ~TransportFollower() override;

    JackTransportTimeline& timeline() { return *timeline_; }

private:
    TransportFollower(Player& player, Setup& setup, StepTimer& clock,
                      std::unique_ptr<JackTransportTimeline> timeline);
    void poll();

    Player& player_;
    Setup& setup_;
    StepTimer& clock_;
    std::unique_ptr<JackTransportTimeline> timeline_;
    QTimer timer_;
    bool wasRolling_ = false;
};
