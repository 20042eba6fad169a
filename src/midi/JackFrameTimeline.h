#pragma once

#include <jack/types.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "core/StepTimeline.h"

// The program's own schedule kept in a JACK server's frames: step k of a pass falls on frame
// F0 + k x (step period in frames), counted from the frame of the pass's start, so that the
// steps keep to the sound card's clock rather than the system's. Due times in the engine's time
// base only wake the clock thread up; they are worked out from JACK's current estimate of when
// each step's frame comes, once per step, and remembered, so that every message handed over
// with one of them (or with a time between two steps', as MIDI clock ticks are) converts back
// to its exact frame: frameForDue(). Made and owned by the JackConnection that plays it.
//
// Threads: the StepTimeline calls come with the engine lock held, as that interface says.
// frameForDue() may come from any thread at the same time: the steps it reads are published
// lock-free.
class JackFrameTimeline : public StepTimeline {
public:
    // What the timeline needs from the server: frames and the engine's time base (StepTimer
    // microseconds) converted both ways by JACK's current estimate. Each returns false when
    // the server cannot be asked (gone, or the client being replaced). Real-time safe.
    class FrameClock {
    public:
        virtual ~FrameClock() = default;
        virtual bool sampleRate(double& rate) = 0;
        virtual bool frameAt(std::int64_t timeUs, jack_nframes_t& frame) = 0;
        virtual bool timeOf(jack_nframes_t frame, std::int64_t& timeUs) = 0;
    };

    explicit JackFrameTimeline(FrameClock& clock) : clock_(clock) {}

    std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) override;
    void end(bool alone) override;
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) override;
    void retime(std::int64_t lastStep, double periodMs) override;
    std::int64_t dueUs(std::int64_t step) override;

    // The frame that a message due at dueUs belongs on: a step's own due time gives the step's
    // frame, a time between two steps' the frame as far between theirs (rounded to the
    // nearest). False for a time this timeline did not give out lately.
    bool frameForDue(std::int64_t dueUs, jack_nframes_t& frame) const;
    bool deviceFrameOf(std::int64_t dueUs, std::uint32_t& frame) override {
        return frameForDue(dueUs, frame);
    }
    // The frames are the schedule: every tick's is known ahead while the server answers.
    bool tickSettled(std::int64_t /*tick*/) override { return anchored_; }

private:
    // A step whose due time was given out: its exact frame (fractional) counted from origin_.
    struct Known {
        std::int64_t step = -1;
        std::int64_t dueUs = 0;
        double frame = 0.0;
        bool hasFrame = false;
    };
    // One published step; seq is odd while it is written.
    struct Slot {
        std::atomic<std::uint32_t> seq{0};
        std::atomic<std::int64_t> step{-1};
        std::atomic<std::int64_t> dueUs{0};
        std::atomic<double> frame{0.0};
        std::atomic<bool> hasFrame{false};
    };
    static constexpr std::size_t kSlots = 16;

    bool lookUp(std::int64_t step, Known& known) const;
    bool read(const Slot& slot, Known& known) const;
    void publish(const Known& known);
    void forgetFrom(std::int64_t step);
    // Sets the anchor: step `step` falls on the frame of timeUs (when the server answers).
    void anchorAt(std::int64_t step, std::int64_t timeUs, double periodMs);
    Known compute(std::int64_t step);

    FrameClock& clock_;
    // The pass's frames are counted from origin_, in the pass's first frame.
    std::atomic<jack_nframes_t> origin_{0};
    std::int64_t anchorStep_ = 0;
    double anchorFrame_ = 0.0;  // from origin_
    std::int64_t anchorUs_ = 0;
    bool anchored_ = false;  // anchorFrame_ holds a frame of the server that answers now
    double periodMs_ = 0.0;
    double framesPerStep_ = 0.0;
    std::array<Slot, kSlots> slots_;
};
