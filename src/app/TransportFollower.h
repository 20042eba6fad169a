#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

class JackTransportTimeline;
class Player;
class Setup;
class StepTimer;

// Follows and drives the JACK transport for the window, every 20 ms from the window thread.
//
// Following the transport (the window hands the player the transport's timeline): the engine
// starts when the transport rolls and stops when the transport stops (a pass played alone goes
// on). The timing comes from the timeline, which notes the transport every process cycle: the
// engine's start here only has to come before the transport rolls, which the timeline holds
// back for it (a start from a bar line plays step 0 on the bar's frame).
//
// Following the engine (while Ableton Link leads it on Link's timeline): the transport starts
// when the engine starts and stops when the engine stops, and, when this copy is the timebase
// master, runs at the setup's tempo, which Link then sets. The transport's bar is not aligned
// with Link's: it starts from wherever it stands.
//
// Owned by the main window; the player and the clock must outlive it.
class TransportFollower : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 20;

    // nullptr when no JACK server answers. Unless followEngine, hands the player the
    // transport's timeline.
    static std::unique_ptr<TransportFollower> start(Player& player, Setup& setup, StepTimer& clock,
                                                    bool followEngine);
    // Takes the timeline away from the player first, unless following the engine.
    ~TransportFollower() override;

    JackTransportTimeline& timeline() { return *timeline_; }
    // Switches between following the transport and following the engine; the caller hands the
    // player the timeline that leads it.
    void setFollowEngine(bool followEngine);

private:
    TransportFollower(Player& player, Setup& setup, std::unique_ptr<JackTransportTimeline> timeline,
                      bool followEngine);
    void poll();
    void driveTransport();

    Player& player_;
    Setup& setup_;
    std::unique_ptr<JackTransportTimeline> timeline_;
    QTimer timer_;
    bool followEngine_ = false;
    bool wasRunning_ = false;
};
