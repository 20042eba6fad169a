#include "midi/JackFrameTimeline.h"

#include <cmath>
#include <limits>

namespace {

// A frame counted from the pass's origin, to the server's wrapping 32-bit frame time.
jack_nframes_t toServerFrame(jack_nframes_t origin, double frame) {
    return origin + static_cast<jack_nframes_t>(static_cast<std::int64_t>(std::llround(frame)));
}

// Beyond this many microseconds from the anchor (about 285 years) a due time is as good as
// never, and sums cannot overflow.
constexpr double kFarestUs = 9.0e15;
// MIDI clock's ticks per step (24 per quarter note).
constexpr double kTicksPerStep = 6.0;

}  // namespace

std::int64_t JackFrameTimeline::begin(std::int64_t nowUs, double periodMs, bool /*alone*/) {
    forgetFrom(std::numeric_limits<std::int64_t>::min());
    anchorAt(0, nowUs, periodMs);
    return dueUs(0);
}

void JackFrameTimeline::end(bool /*alone*/) {}

void JackFrameTimeline::resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) {
    forgetFrom(std::numeric_limits<std::int64_t>::min());
    anchorAt(lastStep, lastDueUs, periodMs);
    publish(Known{lastStep, lastDueUs, anchorFrame_, anchored_});
}

void JackFrameTimeline::retime(std::int64_t lastStep, double periodMs) {
    Known last;
    if (!lookUp(lastStep, last)) {
        last = compute(lastStep);
        publish(last);
    }
    forgetFrom(lastStep + 1);
    periodMs_ = periodMs;
    anchorStep_ = lastStep;
    anchorUs_ = last.dueUs;
    double rate = 0.0;
    anchored_ = last.hasFrame && clock_.sampleRate(rate);
    if (anchored_) {
        anchorFrame_ = last.frame;
        framesPerStep_ = periodMs * rate / 1000.0;
    }
}

std::int64_t JackFrameTimeline::dueUs(std::int64_t step) {
    Known known;
    if (lookUp(step, known)) {
        return known.dueUs;
    }
    known = compute(step);
    if (known.dueUs != kNever) {
        publish(known);
    }
    return known.dueUs;
}

void JackFrameTimeline::anchorAt(std::int64_t step, std::int64_t timeUs, double periodMs) {
    periodMs_ = periodMs;
    anchorStep_ = step;
    anchorUs_ = timeUs;
    anchorFrame_ = 0.0;
    double rate = 0.0;
    jack_nframes_t frame = 0;
    anchored_ = clock_.sampleRate(rate) && clock_.frameAt(timeUs, frame);
    if (anchored_) {
        origin_.store(frame, std::memory_order_release);
        framesPerStep_ = periodMs * rate / 1000.0;
    }
}

JackFrameTimeline::Known JackFrameTimeline::compute(std::int64_t step) {
    Known known;
    known.step = step;
    known.dueUs = kNever;
    const double offsetUs = static_cast<double>(step - anchorStep_) * periodMs_ * 1000.0;
    if (!std::isfinite(offsetUs) || periodMs_ <= 0.0 || std::fabs(offsetUs) > kFarestUs) {
        return known;
    }
    if (!anchored_) {
        // The server was not there: the frames start afresh from the server that answers now,
        // and the steps before that go by the system clock.
        const auto estimateUs = anchorUs_ + static_cast<std::int64_t>(std::ceil(offsetUs));
        forgetFrom(std::numeric_limits<std::int64_t>::min());
        anchorAt(step, estimateUs, periodMs_);
        if (!anchored_) {
            known.dueUs = estimateUs;
            return known;
        }
    }
    const double frame = anchorFrame_ + static_cast<double>(step - anchorStep_) * framesPerStep_;
    std::int64_t timeUs = 0;
    double rate = 0.0;
    if (!clock_.sampleRate(rate) ||
        !clock_.timeOf(toServerFrame(origin_.load(std::memory_order_relaxed), frame), timeUs)) {
        anchored_ = false;
        known.dueUs = anchorUs_ + static_cast<std::int64_t>(std::ceil(offsetUs));
        return known;
    }
    // The frame is whole; the part of a frame that the step lies beyond it is added back, so
    // that the due times keep the step period's proportions.
    const double fraction = frame - std::round(frame);
    known.dueUs = timeUs + static_cast<std::int64_t>(std::ceil(fraction * 1e6 / rate));
    known.frame = frame;
    known.hasFrame = true;
    return known;
}

bool JackFrameTimeline::frameForDue(std::int64_t dueUs, jack_nframes_t& frame) const {
    Known before;
    before.step = -1;
    Known known;
    for (const Slot& slot : slots_) {
        if (read(slot, known) && known.hasFrame && known.dueUs <= dueUs &&
            (before.step < 0 || known.dueUs > before.dueUs)) {
            before = known;
        }
    }
    if (before.step < 0) {
        return false;
    }
    const jack_nframes_t origin = origin_.load(std::memory_order_acquire);
    if (before.dueUs == dueUs) {
        frame = toServerFrame(origin, before.frame);
        return true;
    }
    Known after;
    if (!lookUp(before.step + 1, after) || !after.hasFrame || after.dueUs <= dueUs) {
        return false;
    }
    // Between two steps (a clock tick): as far between their frames as between their times.
    // A tick's due time is the sixth of the step's span cut to whole microseconds (see
    // StepTimeline): a sixth within that microsecond is taken as meant.
    const auto span = static_cast<double>(after.dueUs - before.dueUs);
    const double low = static_cast<double>(dueUs - before.dueUs) / span;
    const double high = static_cast<double>(dueUs + 1 - before.dueUs) / span;
    const double sixth = std::ceil(low * kTicksPerStep) / kTicksPerStep;
    const double share = sixth < high ? sixth : low;
    frame = toServerFrame(origin, before.frame + share * (after.frame - before.frame));
    return true;
}

bool JackFrameTimeline::lookUp(std::int64_t step, Known& known) const {
    if (step < 0) {
        return false;
    }
    return read(slots_[static_cast<std::size_t>(step) % kSlots], known) && known.step == step;
}

bool JackFrameTimeline::read(const Slot& slot, Known& known) const {
    const std::uint32_t before = slot.seq.load(std::memory_order_acquire);
    if (before % 2 != 0) {
        return false;
    }
    known.step = slot.step.load(std::memory_order_relaxed);
    known.dueUs = slot.dueUs.load(std::memory_order_relaxed);
    known.frame = slot.frame.load(std::memory_order_relaxed);
    known.hasFrame = slot.hasFrame.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    return slot.seq.load(std::memory_order_relaxed) == before && known.step >= 0;
}

void JackFrameTimeline::publish(const Known& known) {
    if (known.step < 0) {
        return;
    }
    Slot& slot = slots_[static_cast<std::size_t>(known.step) % kSlots];
    const std::uint32_t seq = slot.seq.load(std::memory_order_relaxed);
    slot.seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.step.store(known.step, std::memory_order_relaxed);
    slot.dueUs.store(known.dueUs, std::memory_order_relaxed);
    slot.frame.store(known.frame, std::memory_order_relaxed);
    slot.hasFrame.store(known.hasFrame, std::memory_order_relaxed);
    slot.seq.store(seq + 2, std::memory_order_release);
}

void JackFrameTimeline::forgetFrom(std::int64_t step) {
    for (Slot& slot : slots_) {
        if (slot.step.load(std::memory_order_relaxed) >= step) {
            const std::uint32_t seq = slot.seq.load(std::memory_order_relaxed);
            slot.seq.store(seq + 1, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_release);
            slot.step.store(-1, std::memory_order_relaxed);
            slot.seq.store(seq + 2, std::memory_order_release);
        }
    }
}
