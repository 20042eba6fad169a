#pragma once

#include <jack/jack.h>
#include <jack/transport.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/FixedPeriodTimeline.h"
#include "core/StepTimeline.h"

class StepTimer;

// The JACK transport as the engine's timeline: steps fall on the transport's sixteenth-note
// grid, frame 0 being bar 1, beat 1, at the tempo of the timebase master's BBT. A JACK client of
// its own, without ports.
//
// Following: while the transport rolls, step k of a pass is due when the transport reaches its
// sixteenth; stopped, no step is due (the window's follower then stops the engine). A pass
// begins on the next sixteenth, playing the step of the measure that sixteenth implies: the
// sixteenths since its bar's start, modulo the visible steps. A relocation is seen as a jump of
// the transport frame against JACK's frame clock; the pass goes on from the next sixteenth
// after the new position, at the step it implies. A tempo change of the master counts at once:
// every due time is worked out afresh from the latest position.
//
// Driving: a pass begun for everyone starts the transport (the engine then waits for it to
// roll), and its end stops the transport; a pass begun alone plays on the program's own
// fixed-period schedule and leaves the transport alone.
//
// Leading: when no timebase master exists, the timeline registers as a conditional master and
// supplies BBT in 4/4 at 1920 ticks per beat, at the engine's tempo (retime and setTempo).
//
// Latency: JACK output leaves the port one period after its due frame (JackConnection), so due
// times here are one period early, and what leaves the port lands on the transport's grid.
//
// Threads: as StepTimeline; rolling(), setTempo() and leading() from any thread. The timebase
// callback runs on JACK's process thread.
class JackTransportTimeline : public StepTimeline {
public:
    // nullptr when no JACK server answers.
    static std::unique_ptr<JackTransportTimeline> open(StepTimer& clock,
                                                       const std::string& clientName);
    JackTransportTimeline(const JackTransportTimeline&) = delete;
    JackTransportTimeline& operator=(const JackTransportTimeline&) = delete;
    ~JackTransportTimeline() override;

    // Whether the transport rolls now, or is starting to (false once the server is gone).
    bool rolling() const;
    // The same, except that a start or stop this copy asked for counts as done until the
    // transport has taken it up (a cycle or two; at most kAskedHoldUs), so that a follower does
    // not undo it meanwhile.
    bool rollingAsAsked() const;
    static constexpr std::int64_t kAskedHoldUs = 1'000'000;
    // Whether this timeline is the timebase master.
    bool leading() const { return leading_.load(std::memory_order_acquire); }
    // Whether the current pass plays alone, on the fixed schedule. Engine lock or window thread.
    bool playingAlone() const { return alone_; }
    // The tempo supplied while leading.
    void setTempo(double beatsPerMinute);
    // Starts (taking the lead first when no master exists) or stops the transport, outside any
    // pass: for a follower that drives the transport while another timeline leads the engine.
    // Window thread.
    void setRolling(bool roll);

    std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) override;
    void end(bool alone) override;
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) override;
    void retime(std::int64_t lastStep, double periodMs) override;
    std::int64_t dueUs(std::int64_t step) override;
    int stepInMeasure(std::int64_t step, int visibleSteps) override;

private:
    JackTransportTimeline(jack_client_t* client, StepTimer& clock);

    // Registers as conditional timebase master unless one exists.
    void tryToLead();
    static void supplyPosition(jack_transport_state_t state, jack_nframes_t nframes,
                               jack_position_t* position, int newPosition, void* arg);
    static void serverGone(void* arg);

    jack_client_t* client_;
    StepTimer& clock_;
    std::atomic<bool> serverAlive_{true};
    std::atomic<bool> leading_{false};
    std::atomic<double> tempo_{120.0};
    enum Asked { kNothingAsked, kStartAsked, kStopAsked };
    mutable std::atomic<int> asked_{kNothingAsked};
    std::atomic<std::int64_t> askedAtUs_{0};

    // The pass; engine lock.
    FixedPeriodTimeline fixed_;
    bool alone_ = false;
    bool anchored_ = false;
    // Step k of the pass falls on sixteenth firstSixteenth_ + k.
    std::int64_t firstSixteenth_ = 0;
    // The highest step asked for: the engine's next step.
    std::int64_t nextStep_ = 0;
    // The step whose place in the measure the transport sets, and the bar's length then.
    std::int64_t placedStep_ = -1;
    double sixteenthsPerBar_ = 16.0;
    // JACK's frame clock less the transport frame, while rolling; a change is a relocation.
    std::int64_t transportOffset_ = 0;

    // The BBT supplied while leading; process thread.
    bool haveBeats_ = false;
    double lastBeats_ = 0.0;
    jack_nframes_t lastFrame_ = 0;
};
