#pragma once

#include <atomic>
#include <cstdint>

#include "core/StepTimeline.h"
#include "midi/MidiInputSink.h"
#include "sync/SeqlockSlot.h"
#include "sync/TickFit.h"

class StepTimer;

// An external MIDI clock as the engine's timeline: 24 Timing Clocks a quarter note, so step n
// of a run falls on tick 6n. It listens on the MIDI input (MidiInputSink) and answers the
// engine's questions (StepTimeline) from what it heard.
//
// The source's run: Start makes the next Timing Clock tick 0; Continue goes on at the position
// a Song Position Pointer gave while stopped (in sixteenths: six ticks each), or where the run
// stopped; Stop ends the run. A run whose ticks stop arriving for kLostBeats beats is lost; a
// tick that comes after that goes on where it stopped, as a Continue would.
//
// Due times: a tick's time is read off a running fit of the ticks heard (TickFit), so that a
// clock that wobbles does not make the steps wobble more. A step is due at its tick's fitted
// time: one that has arrived, or the very next one, foreseen from the last. Further ahead
// nothing is due, so a source that stops takes at most one more step with it. The latency after
// the tick is then only the output's own (one JACK period for a JACK port, where the tick's
// frame becomes the step's frame one period later).
//
// Not a shared clock for the engine: a step whose tick was heard late (a JACK cycle that came
// late on a loaded machine) still plays, late, rather than being skipped: at most the steps
// whose ticks have come can be due, so there is no burst. A JACK input hears a tick at the start
// of the cycle its frame lies in, before the tick's time: what falls on a heard tick goes to a
// port that places messages in time at once (tickSettled), so that the clock thread's wake-up
// never makes it miss the cycle that takes it. A run that the engine begins well after its
// first step's tick (the window thread held up) begins at the next step instead.
//
// Threads: onMidiMessage on the input threads (JACK's process thread, the ALSA input thread):
// real-time safe, and it wakes the step clock at each tick while a run is under way. The
// StepTimeline calls come with the engine lock held, as always. state() and the event
// descriptor from any thread. What the input writes is handed over through a seqlock; two
// inputs writing at once take turns on a spin flag held for a few instructions.
class MidiClockTimeline : public StepTimeline, public MidiInputSink {
public:
    static constexpr int kTicksPerStep = 6;
    static constexpr int kTicksPerBeat = 24;
    static constexpr double kLostBeats = 2.0;
    // Ticks this many periods apart or more are a pause: the fit begins again.
    static constexpr double kPauseTicks = 4.0;
    // How late the engine may begin a run and still play its first step.
    static constexpr std::int64_t kLateBeginUs = 30'000;

    // What the window thread needs to know of the source.
    struct State {
        // Between Start (or Continue) and Stop, and not lost.
        bool running = false;
        // Counts runs begun (Start, Continue, a lost clock coming back).
        std::uint32_t run = 0;
        // The run's first tick, in the source's song position (ticks).
        std::int64_t runStartTick = 0;
        // Whether a tick has come since the run began; the last one's song position and its
        // fitted time (engine time base).
        bool ticked = false;
        std::int64_t lastTick = -1;
        std::int64_t lastTickUs = 0;
        // When the last tick really arrived; the fitted tick period.
        std::int64_t lastArrivalUs = 0;
        double periodUs = 0.0;
        // Whether any tick was ever heard (the tempo means something).
        bool heard = false;
        // Whether the ticks since the fit began came with the frames of a JACK server (a JACK
        // input), at least two of them: then the last tick's fitted frame (counted from
        // frameBase) and the fitted period in frames, read off a fit of their own.
        bool framed = false;
        std::uint32_t frameBase = 0;
        double lastTickFrame = 0.0;
        double periodFrames = 0.0;
    };

    // clock: woken when a tick makes a step due; its time base is the input's too.
    explicit MidiClockTimeline(StepTimer& clock);
    ~MidiClockTimeline() override;
    MidiClockTimeline(const MidiClockTimeline&) = delete;
    MidiClockTimeline& operator=(const MidiClockTimeline&) = delete;

    // MidiInputSink: Timing Clock, Start, Continue, Stop and Song Position Pointer count;
    // everything else is left to others.
    void onMidiMessage(const std::uint8_t* bytes, int length, std::int64_t monotonicUs) override;
    // From a JACK input: the ticks' frames are fitted too, so that an output on that server
    // places the steps on frames taken from the ticks' own, not converted from times.
    void onMidiMessageAtFrame(const std::uint8_t* bytes, int length, std::int64_t monotonicUs,
                              std::uint32_t frame) override;

    State state() const;
    // The tempo the ticks give, in beats per minute; 0 before any tick.
    static double bpmOf(const State& state);
    // Whether the run has gone without ticks for kLostBeats beats at nowUs.
    static bool silentAt(const State& state, std::int64_t nowUs);
    // Readable (one 8-byte count) whenever a run begins or ends or the clock is lost: the
    // window thread watches it instead of polling. -1 when it could not be made.
    int eventFd() const { return eventFd_; }
    // Empties the count; the window thread, after reading state().
    void drainEvents();

    // StepTimeline.
    std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) override;
    void end(bool alone) override;
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) override;
    void retime(std::int64_t lastStep, double periodMs) override;
    std::int64_t dueUs(std::int64_t step) override;
    std::int64_t tickDueUs(std::int64_t tick) override;
    bool tickSettled(std::int64_t tick) override;
    int stepInMeasure(std::int64_t step, int visibleSteps) override;
    std::int64_t songPosition(std::int64_t step) override;
    // The fitted frame of the tick whose due time this is (a due time handed out a little
    // before a tick moved the line still finds its tick); between ticks, as far between.
    bool deviceFrameOf(std::int64_t dueUs, std::uint32_t& frame) override;
    // A due time this near a tick's (in ticks) is that tick's.
    static constexpr double kSameTickShare = 0.05;

private:
    void receive(const std::uint8_t* bytes, int length, std::int64_t monotonicUs,
                 const std::uint32_t* frame);
    // Returns whether a lost run came back with this tick. frame: nullptr when not known.
    bool onTick(std::int64_t timeUs, const std::uint32_t* frame);
    // The tick's frame goes into the frame fit, which begins again with the time fit.
    void fitFrame(const std::uint32_t* frame, bool fitBegan);
    void beginRun(std::int64_t firstTick);
    void publish();
    void signalWindow();

    StepTimer& clock_;
    int eventFd_ = -1;

    // The input side: written under inputBusy_ only.
    std::atomic_flag inputBusy_ = ATOMIC_FLAG_INIT;
    TickFit fit_;
    std::int64_t fitTick_ = 0;
    TickFit frameFit_;
    int framedTicks_ = 0;
    std::uint32_t frameBase_ = 0;
    State written_;
    // The song position (ticks) the next run goes on from: where the last one stopped, or
    // what a Song Position Pointer said since.
    std::int64_t resumeTick_ = 0;
    SeqlockSlot<State> shared_;

    // The engine side (engine lock): the run the pass plays and its first step's tick.
    std::uint32_t passRun_ = 0;
    std::int64_t passFirstTick_ = 0;
};
