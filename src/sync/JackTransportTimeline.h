#pragma once

#include <jack/jack.h>
#include <jack/transport.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/FixedPeriodTimeline.h"
#include "core/StepTimeline.h"
#include "sync/BeatTracker.h"
#include "sync/SeqlockSlot.h"
#include "sync/TempoMap.h"
#include "sync/TransportSnapshot.h"

class StepTimer;

// The JACK transport as the engine's timeline: steps fall on the transport's sixteenth-note
// grid, bar 1, beat 1 being sixteenth 0. A JACK client of its own, without ports.
//
// Every process cycle the client notes the transport's state, the cycle's place on JACK's frame
// and microsecond clocks, and the beat: the timebase master's bar, beat and tick (and
// bar_start_tick), or without a master the frame at the program's tempo. The engine's due times
// come from the latest cycle alone, extrapolated at its tempo, so a master's tempo change
// counts from the cycle it shows up in and the steps stay on the master's beats. The clock
// thread is woken when the state, the tempo or the place changes.
//
// Following: while the transport rolls, step k of a pass is due when the transport reaches its
// sixteenth; stopped, no step is due (the window's follower then stops the engine). A pass
// goes on from the first sixteenth at or after the place where the transport started or was
// relocated to (a pass begun while rolling: from now), playing the step of the measure that
// sixteenth implies. A start from a bar line thus plays step 0 on the bar's frame: while
// following, the client holds a starting transport (JACK's slow sync, at most kHoldUs) until the
// engine has begun its pass and picked the frame, kStartLeadUs ahead, on which to roll.
//
// Driving: a pass begun for everyone starts the transport, and its end stops it; a pass begun
// alone plays on the program's own fixed-period schedule and leaves the transport alone.
//
// Leading: when no timebase master exists, the client becomes a conditional master and gives
// 4/4 at 1920 ticks per beat, the beats following a tempo map of the engine's tempo (setTempo),
// so that a tempo change bends the grid from where it is made on.
//
// The server going away: no step is due and rolling() is false. A thread of the timeline looks
// for a server of the same name once every kLookEveryMs, without starting one, and follows the
// transport again as soon as it is back; it also takes the lead there, outside the engine lock.
//
// Latency: due times are the grid's own; the engine hands events over early by the port's
// output latency (sharedClock()).
//
// Threads: as StepTimeline; rolling(), setTempo(), setFollowing() and leading() from any thread,
// setRolling() from the window thread. The process, sync and timebase callbacks run on JACK's
// process thread, never block and never allocate.
class JackTransportTimeline : public StepTimeline {
public:
    static constexpr std::int64_t kAskedHoldUs = 1'000'000;
    static constexpr std::int64_t kStartLeadUs = 40'000;
    static constexpr std::int64_t kHoldUs = 1'000'000;
    static constexpr int kLookEveryMs = 1000;

    // nullptr when no JACK server answers.
    static std::unique_ptr<JackTransportTimeline> open(StepTimer& clock,
                                                       const std::string& clientName);
    JackTransportTimeline(const JackTransportTimeline&) = delete;
    JackTransportTimeline& operator=(const JackTransportTimeline&) = delete;
    ~JackTransportTimeline() override;

    // Whether the transport rolls now, or is starting to (false while the server is gone).
    bool rolling() const;
    // The same, except that a start or stop this copy asked for counts as done until the
    // transport has taken it up (a cycle or two; at most kAskedHoldUs), so that a follower does
    // not undo it meanwhile.
    bool rollingAsAsked() const;
    // Whether the client is connected to a running server.
    bool connected() const { return serverAlive_.load(std::memory_order_acquire); }
    // Whether the server went away and its client is closed: the timeline looks for it again.
    bool lookingForServer();
    // Whether this timeline is the timebase master.
    bool leading() const { return leading_.load(std::memory_order_acquire); }
    // Whether the current pass plays alone, on the fixed schedule. Engine lock or window thread.
    bool playingAlone() const { return alone_; }
    // The tempo supplied while leading.
    void setTempo(double beatsPerMinute);
    // Whether the engine follows this transport: a starting transport then waits for the
    // engine's pass (see above). Off, a start is never held.
    void setFollowing(bool following);
    // Starts (taking the lead first when no master exists) or stops the transport, outside any
    // pass: for a follower that drives the transport while another timeline leads the engine.
    // Window thread, never with the engine lock held.
    void setRolling(bool roll);

    std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) override;
    void end(bool alone) override;
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) override;
    void retime(std::int64_t lastStep, double periodMs) override;
    std::int64_t dueUs(std::int64_t step) override;
    int stepInMeasure(std::int64_t step, int visibleSteps) override;
    bool sharedClock() const override { return !alone_; }
    std::int64_t songPosition(std::int64_t step) override;

private:
    JackTransportTimeline(std::string clientName, StepTimer& clock);

    // Opens a client on the server and starts following through it; false when none answers.
    // clientLock_ held.
    bool connectLocked();
    // Registers as conditional timebase master unless one exists. With clientLock_ held, or
    // from the watcher (which alone changes the client).
    void tryToLead();
    // Asks the transport to start or stop; false when the client is not to be had now.
    bool askTransport(bool roll, bool wait);
    // The thread that looks after the server: reconnects, takes the lead.
    void watch();
    void lookAfterServer();

    // The latest cycle; false when there is none to go by.
    bool latest(TransportSnapshot& snapshot);
    // The JACK frame from which a starting transport will roll, as an offset from the cycle.
    std::int64_t rollOffset(const TransportSnapshot& snapshot, std::int64_t jackNowUs);
    void anchor(const TransportSnapshot& snapshot, std::int64_t jackNowUs);
    // Frames from the cycle's start to where sixteenth `sixteenth` falls, the cycle's beat
    // lying `base` frames after its start.
    static double framesTo(const TransportSnapshot& snapshot, double sixteenth, std::int64_t base);

    // Process thread.
    void observeCycle(jack_client_t* client);
    static int process(jack_nframes_t nframes, void* arg);
    static int sync(jack_transport_state_t state, jack_position_t* position, void* arg);
    static void supplyPosition(jack_transport_state_t state, jack_nframes_t nframes,
                               jack_position_t* position, int newPosition, void* arg);
    static void serverGone(void* arg);

    const std::string clientName_;
    StepTimer& clock_;
    // Changed by the watcher only while no process callback runs (closed, not yet active).
    std::atomic<jack_client_t*> client_{nullptr};
    // Serialises the calls that use the client outside the process thread, and the reconnect.
    std::mutex clientLock_;
    std::atomic<bool> serverAlive_{false};
    std::atomic<bool> leading_{false};
    std::atomic<std::uint64_t> supplied_{0};
    std::atomic<double> tempo_{120.0};
    std::atomic<bool> following_{false};
    std::atomic<bool> aloneNow_{false};
    // The frame a starting transport rolls from, in the low half; the jump it is for above.
    std::atomic<std::uint64_t> rollTarget_{0};
    enum Asked { kNothingAsked, kStartAsked, kStopAsked };
    mutable std::atomic<int> asked_{kNothingAsked};
    std::atomic<std::int64_t> askedAtUs_{0};

    SeqlockSlot<TransportSnapshot> snapshot_;
    // The cycles before, by their count: a step due before the latest cycle (a late wake-up) is
    // placed by the cycle it fell in, not extrapolated back across a tempo change.
    static constexpr std::uint64_t kHistory = 256;
    std::array<SeqlockSlot<TransportSnapshot>, kHistory> history_;

    // The process thread's own: the cycle before, the beat tracking, the tempo map.
    TransportSnapshot cycle_;
    bool haveCycle_ = false;
    static constexpr int kTornCyclesAtMost = 2;
    int tornCycles_ = 0;
    std::uint32_t heldFrames_ = 0;
    BeatTracker tracker_;
    TempoMap tempoMap_;

    // The pass; engine lock.
    FixedPeriodTimeline fixed_;
    bool alone_ = false;
    bool anchored_ = false;
    std::uint32_t anchorJumps_ = 0;
    // Step k of the pass falls on sixteenth firstSixteenth_ + k.
    std::int64_t firstSixteenth_ = 0;
    // The highest step asked for: the engine's next step.
    std::int64_t nextStep_ = 0;
    // The step whose place in the measure the transport sets, and where its bar begins.
    std::int64_t placedStep_ = -1;
    double barStartSixteenth_ = 0.0;
    double sixteenthsPerBar_ = 16.0;
    TransportSnapshot lastRead_;

    // The watcher.
    std::mutex watchLock_;
    std::condition_variable watchWake_;
    bool quitting_ = false;
    std::uint64_t suppliedAtLastLook_ = 0;
    std::thread watcher_;
};
