#pragma once

#include <QObject>
#include <cstddef>
#include <memory>
#include <string>

class LinkSession;
class MainWindow;

// The window's side of Ableton Link: turns the session on and off (the MIDI menu's check item,
// the "link" preference, --link), makes it the engine's timeline while on, and applies what the
// session says (tempo, start, stop, peers) on the window thread. Link's callbacks only queue a
// call here. Owned by the main window; window thread only.
class LinkControl : public QObject {
    Q_OBJECT

public:
    explicit LinkControl(MainWindow& window);
    ~LinkControl() override;

    // Joins or leaves the session. Joining makes the session the engine's timeline (a pass
    // already playing goes on on its grid; a JACK transport followed then follows the engine);
    // leaving keeps the tempo and goes on playing on the program's own schedule, or the JACK
    // transport's.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }
    // The menu command: toggles and stores the preference.
    void toggle();
    std::size_t peerCount() const;
    // "Ableton &Link", or "Ableton Link (2 peers)" while there are peers.
    std::string menuText() const;
    // "Ableton Link: off", "Ableton Link: on, no peers", "Ableton Link: on, 1 peer", ...
    std::string statusText() const;
    // A tempo set here goes to the session.
    void onLocalTempo(double bpm);
    // The session itself, nullptr before Link was first turned on.
    LinkSession* session() { return session_.get(); }

private:
    void applyTempo();
    void applyPlaying();
    void showPeers();

    MainWindow& window_;
    std::unique_ptr<LinkSession> session_;
    bool enabled_ = false;
    std::size_t lastPeers_ = 0;
};
