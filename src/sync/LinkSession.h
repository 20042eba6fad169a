#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/StepTimeline.h"

class LinkSessionWatch;
class StepTimer;

// This program's place in an Ableton Link session: tempo, beat phase and start/stop shared with
// every Link peer on the local network. It is the Player's timeline while Link is on (step k of
// a pass falls on session beat b0 + k/4, one measure of 16 steps per quantum of 4 beats), and
// the window's handle on the session. All Link code of the program lives behind this class.
// Owned by the main window; created when Link is first turned on.
//
// Time: every time given or returned is on the engine's base (StepTimer::nowUs, the step
// clock's CLOCK_MONOTONIC microseconds); Link's own clock is CLOCK_MONOTONIC_RAW microseconds,
// and each conversion reads both clocks afresh (see LinkSession.cpp).
//
// Threads, as in Link's own header:
// - dueUs(): the clock thread, and the window thread when the Player switches timelines; always
//   under the engine lock, which keeps captureAudioSessionState (not thread-safe) to one caller
//   at a time. Real-time safe: no allocation, no blocking.
// - begin(), end(), resume(), retime(): the window thread with the engine lock held. Thread-safe,
//   not real-time safe (they capture and commit the application's session state).
// - setEnabled(), setTempo(), tempo(), isPlaying(): window thread. Thread-safe, not real-time safe.
// - peerCount(), isEnabled(): any thread. Thread-safe and real-time safe.
// - The Listener's functions run on Link's own thread: they must only post to the window thread.
class LinkSession : public StepTimeline {
public:
    // One measure: 16 sixteenth-note steps, 4 beats.
    static constexpr double kQuantum = 4.0;
    static constexpr double kStepsPerBeat = 4.0;
    // Link's tempo range; the session refuses anything outside it.
    static constexpr double kMinBpm = 20.0;
    static constexpr double kMaxBpm = 999.0;

    struct Listener {
        std::function<void(std::size_t peers)> peersChanged;
        std::function<void(double bpm)> tempoChanged;
        std::function<void(bool playing)> playingChanged;
    };

    // clock: the engine's time base that every time given to or returned from the timeline is
    // on. The session starts disabled at bpm (clamped to Link's range).
    LinkSession(const StepTimer& clock, double bpm);
    ~LinkSession() override;
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // Set before enabling; replaced listeners take effect for the next change.
    void setListener(Listener listener);
    // Joins (true) or leaves the session; start/stop sync is on whenever Link is.
    void setEnabled(bool enabled);
    bool isEnabled() const;
    std::size_t peerCount() const;
    double tempo() const;
    // A tempo change made here, for every peer (clamped to Link's range).
    void setTempo(double bpm);
    bool isPlaying() const;
    // When the session plays here, says so again for peers that joined since: Link keeps a
    // joining peer's own start/stop state and forgets the session's on a join, so without this
    // a newcomer would never hear that the session plays. Window thread.
    void announcePlaying();
    // Just joined: when the session already played before this copy came (so Link never told
    // us, see LinkSessionWatch), it plays here too from now, and true is returned; the next
    // begin() then comes in on the session's next bar. Window thread.
    bool adoptSessionPlaying();
    // A bridge from an external clock: the session plays (or stops) from atUs, where its beat
    // is `beat`, at bpm. Link moves the session's beat for every peer to that of the clock
    // (forceBeatAtTime), which only a bridge from an outside clock may do. Window thread.
    void followClock(bool playing, double bpm, double beat, std::int64_t atUs);
    // Session beat at time nowUs (engine time base), for diagnosis and the benchmark.
    double beatAt(std::int64_t nowUs) const;

    // StepTimeline.
    std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) override;
    void end(bool alone) override;
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) override;
    void retime(std::int64_t lastStep, double periodMs) override;
    std::int64_t dueUs(std::int64_t step) override;
    bool sharedClock() const override { return true; }
    // The session's sixteenth: four per beat, from the session's beat 0.
    std::int64_t songPosition(std::int64_t step) override;

private:
    struct State;
    std::unique_ptr<State> state_;
    const StepTimer& clock_;
    // While enabled: what the peers on the network announce.
    std::unique_ptr<LinkSessionWatch> watch_;
    // Session beat of step 0 of the current pass.
    double firstBeat_ = 0.0;
};
