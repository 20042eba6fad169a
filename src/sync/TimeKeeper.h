#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class JackTransportTimeline;
class LinkSession;
class MidiClockTimeline;
class MidiInputSink;
class Player;
class Setup;
class StepTimeline;
class StepTimer;

// The one owner of the engine's time. It owns the clocks the program can keep time with (an
// Ableton Link session, the JACK transport), decides which of them leads the engine and which
// follow it, hands the Player the leader's timeline, and takes every start, stop and tempo
// request with an explicit "this copy alone". The window asks it and shows what it reports
// (Listener); nothing else hands the Player a timeline.
//
// Who leads: Link when it is on (the transport, when followed too, then follows the engine:
// it starts and stops with it, and runs at its tempo while this copy is its timebase master);
// else the JACK transport when followed; else the program's own schedule, kept in the output
// device's frames where the device has a clock of its own (a JACK server's), else in the
// system clock's.
//
// Leaving: a copy that ends stops alone. Shared clocks go on for the others, whichever way the
// copy ends (window, Exit, a signal, a session manager).
//
// Owned by the main window; window thread only. Link's callbacks, which run on Link's threads,
// only queue a call here. The player and the clock must outlive it.
class TimeKeeper : public QObject {
    Q_OBJECT

public:
    enum class Leader { OwnSchedule, Link, Transport, MidiClock };

    struct Listener {
        // A tempo set by a shared clock: show it (it is no edit of the setup).
        std::function<void(double bpm)> tempoChanged;
        // A shared clock started the engine: show the play button pressed. (A stop shows
        // itself through the Player.)
        std::function<void()> started;
        // Peers, the leader or a clock's availability changed: refresh what shows them.
        std::function<void()> stateChanged;
    };

    // How often the transport is looked at from the window thread, to start and stop the
    // engine with it; the steps' timing comes from the transport's own cycles.
    static constexpr int kPollMs = 20;
    // How often a followed transport whose server is gone is looked for again.
    static constexpr int kReopenMs = 1000;
    // After joining a Link session, how long and how often the peers' own announcements are
    // looked at for a session that already plays (Link announces itself every quarter second,
    // and a start counts once it has been heard for a second).
    static constexpr int kJoinLookMs = 4000;
    static constexpr int kJoinLookEveryMs = 100;

    TimeKeeper(Player& player, Setup& setup, StepTimer& clock);
    // Leaves: the engine goes back to its own schedule, shared clocks go on.
    ~TimeKeeper() override;
    TimeKeeper(const TimeKeeper&) = delete;
    TimeKeeper& operator=(const TimeKeeper&) = delete;

    void setListener(Listener listener);

    // Requests. alone: for this copy only (Ctrl+Space); a pass begun alone also ends alone.
    void start(bool alone);
    void stop(bool alone);
    void toggle(bool alone);
    // A tempo set here (the dial): the shared clock hears of it before the engine's next due
    // time is read from it.
    void setTempo(double bpm);
    // This copy ends: it stops alone, and no shared clock is stopped or changed for others.
    void leave();

    // Ableton Link: join or leave the session.
    void setLinkEnabled(bool enabled);
    bool linkEnabled() const { return linkEnabled_; }
    LinkSession* linkSession() { return link_.get(); }
    std::size_t peerCount() const;
    // "Ableton &Link", or "Ableton Link (2 peers)" while there are peers.
    std::string linkMenuText() const;
    // "Ableton Link: off", "Ableton Link: on, no peers", "Ableton Link: on, 1 peer", ...
    std::string linkStatusText() const;

    // The JACK transport: followed (or driven, under Link) while wanted and a server runs.
    // While the server is gone it is looked for again about once a second.
    void setTransportWanted(bool wanted);
    // The transport's JACK client name; a transport open under another name opens again.
    void setTransportClientName(const std::string& name);
    bool transportWanted() const { return transportWanted_; }
    // The transport's timeline while a server runs and it is wanted; else nullptr.
    JackTransportTimeline* transport() { return transport_.get(); }

    Leader leader() const;

    // The program's own schedule in the output device's frames, nullptr for none: it leads
    // when nothing else does. The output port hands it over before it can go away.
    void setFrameTimeline(StepTimeline* timeline);

    // An external MIDI clock: what the MIDI input hands its messages to (always listening, so
    // that the tempo is known when following begins), and whether it leads.
    MidiInputSink& clockInput();
    MidiClockTimeline& clockTimeline() { return *clockTimeline_; }
    void setClockFollowed(bool followed);
    bool clockFollowed() const { return clockFollowed_; }
    // "", or what following the clock does now: "Following MIDI clock at 120.0 BPM", "MIDI
    // clock lost: stopped until it comes back", or why a request was refused.
    std::string clockStatusText() const;
    // How long the window thread lets pass between looks at a followed clock, for its tempo
    // and for a clock that stopped arriving. Runs begin and end without waiting for this.
    static constexpr int kClockPollMs = 20;

private:
    void applyLeader();
    void openTransport();
    void pollTransport();
    void followTransport();
    void driveTransport();
    void applyLinkTempo();
    void applyLinkPlaying();
    void onPeersChanged();
    void lookForPlayingSession();
    void notifyStateChanged();
    void pollClock();
    void applyClockTempo(double bpm);
    void followClockWithLink(bool running);
    // A request that the followed clock refuses: say so and do nothing.
    bool refusedWhileClockLeads(const char* note);

    Player& player_;
    Setup& setup_;
    StepTimer& clock_;
    Listener listener_;

    StepTimeline* frameTimeline_ = nullptr;

    std::unique_ptr<LinkSession> link_;
    bool linkEnabled_ = false;
    std::size_t lastPeers_ = 0;
    QTimer joinTimer_;
    qint64 joinLookEndsMs_ = 0;

    std::unique_ptr<JackTransportTimeline> transport_;
    bool transportWanted_ = false;
    std::string transportClientName_ = "Glimmerstave transport";
    QTimer transportTimer_;
    qint64 lastReopenMs_ = 0;
    bool wasRunning_ = false;
    // This copy was stopped alone while the transport rolled: it stays out until the
    // transport stops and rolls again.
    bool sittingOut_ = false;

    std::unique_ptr<MidiClockTimeline> clockTimeline_;
    std::unique_ptr<QSocketNotifier> clockEvents_;
    QTimer clockTimer_;
    bool clockFollowed_ = false;
    bool clockLost_ = false;
    // The clock's run the engine plays, and whether Link was told it began.
    std::uint32_t playedRun_ = 0;
    bool linkToldRun_ = false;
    std::string clockNote_;
};
