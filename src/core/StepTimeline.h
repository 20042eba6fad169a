#pragma once

#include <cstdint>
#include <limits>

// Where each step of a pass falls in time: the engine's only source of due times. The fixed-period
// schedule (FixedPeriodTimeline) is the default; a shared clock (a network session, a transport)
// supplies its own by implementing this interface outside the core, and the engine never knows
// which one it plays to. Owned by whoever hands it to Player::setTimeline; the Player only uses it.
//
// Steps are numbered from 0 for each pass (begin() starts a pass). Times are in the engine's time
// base, StepTimer::nowUs (microseconds, monotonic).
//
// Threads: every call comes with the engine lock held. begin(), end(), retime() and resume() come
// from the window thread; dueUs() from the clock thread as well, so it must be real-time safe: no
// allocation, no I/O, no blocking.
//
// Building on it: anything that must follow the steps derives its times from dueUs() rather than
// from the tempo. MIDI clock, for one, sends 6 ticks per step (24 per quarter note): tick j of
// step k is due at dueUs(k) + j * (dueUs(k + 1) - dueUs(k)) / 6, j = 0..5, which keeps the ticks
// on whatever grid the timeline follows, tempo changes and shared sessions included. Frame-exact
// output (JACK) places an event at dueUs(k) converted to a frame time the same way.
class StepTimeline {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    virtual ~StepTimeline() = default;

    // A pass begins, asked for at nowUs, with the local step period in milliseconds. Returns the
    // due time of step 0: nowUs (or earlier) to play it at once, a later time to wait for it
    // (a shared clock's next bar), kNever when it will never come. alone: the user asked for
    // this copy only, so a shared clock must not be started for everyone.
    virtual std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) = 0;
    // The pass ended here; alone as for begin(): a shared clock is stopped for everyone unless set.
    virtual void end(bool alone) = 0;
    // A pass that was playing on another timeline goes on on this one: step lastStep was due at
    // lastDueUs and the step period is periodMs; the steps after it follow from there.
    virtual void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) = 0;
    // The local tempo changed to periodMs after step lastStep had played; later steps follow it.
    virtual void retime(std::int64_t lastStep, double periodMs) = 0;
    // The due time of step (>= 0) of the current pass; kNever when it will never come.
    virtual std::int64_t dueUs(std::int64_t step) = 0;
    // The step of the measure that step (>= 0) of the pass plays, where the timeline decides it
    // (a transport's position does, at a start and after a relocation); -1 leaves the engine's
    // own order. Asked from the clock thread just before the step plays: real-time safe.
    virtual int stepInMeasure(std::int64_t step, int visibleSteps) {
        static_cast<void>(step);
        static_cast<void>(visibleSteps);
        return -1;
    }
    // Whether the timeline is a clock shared with others (a network session, a transport). On a
    // shared clock a step more than kLateSkipUs late is skipped rather than played late, and
    // events are handed to the port early by its output latency, so that what sounds lands on
    // the shared grid. The program's own schedule catches up after a late wake-up instead.
    virtual bool sharedClock() const { return false; }
    static constexpr std::int64_t kLateSkipUs = 5000;
    // When MIDI clock tick `tick` (>= 0, 6 per step) of the pass is due; kNever when it will
    // not come. By default the sixths of each step's span, from the steps' own due times and
    // never summed up, so the ticks keep to the step grid; a timeline that hears ticks itself
    // gives their times. Real-time safe.
    virtual std::int64_t tickDueUs(std::int64_t tick) {
        constexpr std::int64_t kTicksPerStep = 6;
        const std::int64_t step = tick / kTicksPerStep;
        const std::int64_t sixth = tick % kTicksPerStep;
        const std::int64_t stepDue = dueUs(step);
        if (sixth == 0 || stepDue == kNever) {
            return stepDue;
        }
        const std::int64_t nextDue = dueUs(step + 1);
        if (nextDue == kNever) {
            return kNever;
        }
        return stepDue + (nextDue - stepDue) * sixth / kTicksPerStep;
    }
    // Whether the time of tick `tick` (>= 0) of the pass is settled before it comes: a tick
    // heard already (a JACK input stamps each message with a frame of the cycle it arrives in,
    // before that frame's time), or any tick of a schedule kept in a server's frames. What falls
    // on a settled tick may go to a port that places messages in time ahead of its due time, by
    // the port's latency and a margin: a wake-up on the due time itself could miss the cycle
    // that takes it. A tick only foreseen is not settled. Real-time safe.
    virtual bool tickSettled(std::int64_t tick) {
        static_cast<void>(tick);
        return false;
    }
    // The song position, in sixteenths of the leading clock, at which step (>= 0) of the pass
    // plays: what MIDI clock followers are told when a pass begins anywhere but at the start or
    // after a relocation. Asked from the clock thread: real-time safe.
    virtual std::int64_t songPosition(std::int64_t step) { return step; }
    // Where the timeline keeps its time in the frames of an audio server's clock (a JACK
    // server's): the frame that a message due at dueUs belongs on, so that an output on that
    // server places it there without converting times to frames, whose estimate wanders. False
    // where the timeline keeps no such frames, or not for that time. Real-time safe.
    virtual bool deviceFrameOf(std::int64_t dueUs, std::uint32_t& frame) {
        static_cast<void>(dueUs);
        static_cast<void>(frame);
        return false;
    }
};
