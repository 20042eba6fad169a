#include "sync/MidiClockTimeline.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cmath>

#include "core/StepTimer.h"

namespace {

constexpr std::uint8_t kTimingClock = 0xF8;
constexpr std::uint8_t kStart = 0xFA;
constexpr std::uint8_t kContinue = 0xFB;
constexpr std::uint8_t kStop = 0xFC;
constexpr std::uint8_t kSongPosition = 0xF2;

// 120 BPM until the first ticks tell otherwise.
constexpr double kDefaultPeriodUs = 60.0e6 / (120.0 * MidiClockTimeline::kTicksPerBeat);

std::int64_t firstStepTickFrom(std::int64_t tick) {
    const std::int64_t perStep = MidiClockTimeline::kTicksPerStep;
    return (tick + perStep - 1) / perStep * perStep;
}

// Holds the input side for one message; two inputs never write at once.
class InputTurn {
public:
    explicit InputTurn(std::atomic_flag& busy) : busy_(busy) {
        while (busy_.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~InputTurn() { busy_.clear(std::memory_order_release); }
    InputTurn(const InputTurn&) = delete;
    InputTurn& operator=(const InputTurn&) = delete;

private:
    std::atomic_flag& busy_;
};

}  // namespace

MidiClockTimeline::MidiClockTimeline(StepTimer& clock)
    : clock_(clock), eventFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    fit_.reset(kDefaultPeriodUs);
    written_.periodUs = kDefaultPeriodUs;
    shared_.write(written_);
}

MidiClockTimeline::~MidiClockTimeline() {
    if (eventFd_ >= 0) {
        ::close(eventFd_);
    }
}

// ---- The input side ------------------------------------------------------------------------

void MidiClockTimeline::onMidiMessage(const std::uint8_t* bytes, int length,
                                      std::int64_t monotonicUs) {
    receive(bytes, length, monotonicUs, nullptr);
}

void MidiClockTimeline::onMidiMessageAtFrame(const std::uint8_t* bytes, int length,
                                             std::int64_t monotonicUs, std::uint32_t frame) {
    receive(bytes, length, monotonicUs, &frame);
}

void MidiClockTimeline::receive(const std::uint8_t* bytes, int length, std::int64_t monotonicUs,
                                const std::uint32_t* frame) {
    if (length < 1) {
        return;
    }
    const std::int64_t timeUs = clock_.fromMonotonicUs(monotonicUs);
    bool runChanged = false;
    bool stepsMayBeDue = false;
    {
        InputTurn turn(inputBusy_);
        switch (bytes[0]) {
            case kTimingClock:
                runChanged = onTick(timeUs, frame);
                stepsMayBeDue = written_.running;
                break;
            case kStart:
                resumeTick_ = 0;
                beginRun(0);
                runChanged = true;
                break;
            case kContinue:
                beginRun(resumeTick_);
                runChanged = true;
                break;
            case kStop:
                if (written_.running) {
                    resumeTick_ = written_.ticked ? written_.lastTick + 1 : written_.runStartTick;
                    written_.running = false;
                    runChanged = true;
                }
                break;
            case kSongPosition:
                if (length >= 3) {
                    const int sixteenths = (bytes[1] & 0x7F) | ((bytes[2] & 0x7F) << 7);
                    resumeTick_ = std::int64_t{sixteenths} * kTicksPerStep;
                }
                break;
            default:
                return;
        }
        publish();
    }
    if (runChanged) {
        signalWindow();
    }
    if (stepsMayBeDue) {
        clock_.wake();
    }
}

bool MidiClockTimeline::onTick(std::int64_t timeUs, const std::uint32_t* frame) {
    const bool back = written_.running && written_.ticked && silentAt(written_, timeUs);
    if (back) {
        // The clock was lost and is back: the run goes on where it stopped.
        beginRun(written_.lastTick + 1);
    }
    // After a pause (a source that sends clock only while it plays, a lost clock) the line of
    // the ticks before says nothing of where the new ones fall.
    const double pauseUs = kPauseTicks * written_.periodUs;
    const bool paused =
        written_.heard && static_cast<double>(timeUs - written_.lastArrivalUs) > pauseUs;
    if (paused) {
        fit_.reset(written_.periodUs);
    }
    ++fitTick_;
    fit_.add(fitTick_, timeUs);
    fitFrame(frame, paused);
    written_.heard = true;
    written_.lastArrivalUs = timeUs;
    written_.periodUs = fit_.periodUs();
    if (written_.running) {
        written_.lastTick = written_.ticked ? written_.lastTick + 1 : written_.runStartTick;
        written_.ticked = true;
        written_.lastTickUs = fit_.timeOf(fitTick_);
        written_.lastTickFrame = static_cast<double>(frameFit_.timeOf(fitTick_));
    }
    return back;
}

void MidiClockTimeline::fitFrame(const std::uint32_t* frame, bool fitBegan) {
    if (frame == nullptr) {
        // A tick without a frame (an ALSA input): the frames of the others say nothing of it.
        framedTicks_ = 0;
        written_.framed = false;
        return;
    }
    if (fitBegan || framedTicks_ == 0) {
        // Frames are counted from the first tick's, so that the fit's sums stay small; the
        // period is the fit's own from the second tick on.
        framedTicks_ = 0;
        frameBase_ = *frame;
        frameFit_.reset(written_.periodFrames > 0.0 ? written_.periodFrames : 1.0);
    }
    frameFit_.add(fitTick_, static_cast<std::int32_t>(*frame - frameBase_));
    ++framedTicks_;
    written_.framed = framedTicks_ >= 2;
    written_.frameBase = frameBase_;
    written_.periodFrames = frameFit_.periodUs();
}

void MidiClockTimeline::beginRun(std::int64_t firstTick) {
    written_.running = true;
    ++written_.run;
    written_.runStartTick = firstTick;
    written_.ticked = false;
    written_.lastTick = firstTick - 1;
}

void MidiClockTimeline::publish() {
    shared_.write(written_);
}

void MidiClockTimeline::signalWindow() {
    if (eventFd_ < 0) {
        return;
    }
    const std::uint64_t one = 1;
    // Never blocks (non-blocking descriptor); a full count already says enough.
    [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof one);
}

// ---- What the window reads -----------------------------------------------------------------

MidiClockTimeline::State MidiClockTimeline::state() const {
    State state;
    if (!shared_.read(state)) {
        // The writer was caught mid-write every time: nothing is due until it has finished.
        return State{};
    }
    return state;
}

double MidiClockTimeline::bpmOf(const State& state) {
    if (!state.heard || !(state.periodUs > 0.0)) {
        return 0.0;
    }
    return 60.0e6 / (state.periodUs * kTicksPerBeat);
}

bool MidiClockTimeline::silentAt(const State& state, std::int64_t nowUs) {
    const double lostAfterUs = kLostBeats * kTicksPerBeat * state.periodUs;
    return static_cast<double>(nowUs - state.lastArrivalUs) > lostAfterUs;
}

void MidiClockTimeline::drainEvents() {
    if (eventFd_ < 0) {
        return;
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(eventFd_, &count, sizeof count);
}

// ---- The engine side -----------------------------------------------------------------------

std::int64_t MidiClockTimeline::begin(std::int64_t nowUs, double /*periodMs*/, bool /*alone*/) {
    const State now = state();
    passRun_ = now.run;
    // A run that goes on mid-step (stopped between ticks) plays from the next step's tick.
    passFirstTick_ = firstStepTickFrom(now.runStartTick);
    const std::int64_t firstDue = dueUs(0);
    if (firstDue != kNever && nowUs - firstDue > kLateBeginUs) {
        // Begun long after the run's first step: the pass comes in at the run's next step.
        passFirstTick_ = firstStepTickFrom(now.lastTick + 1);
    }
    return dueUs(0);
}

void MidiClockTimeline::end(bool /*alone*/) {
    // The source starts and stops the clock; there is nothing here to stop.
}

void MidiClockTimeline::resume(std::int64_t lastStep, std::int64_t /*lastDueUs*/,
                               double /*periodMs*/) {
    // A pass that comes over from another timeline goes on with the run under way: its next
    // step on the run's next step.
    const State now = state();
    passRun_ = now.run;
    const std::int64_t nextStepTick =
        firstStepTickFrom(now.ticked ? now.lastTick + 1 : now.runStartTick);
    passFirstTick_ = nextStepTick - (lastStep + 1) * kTicksPerStep;
}

void MidiClockTimeline::retime(std::int64_t /*lastStep*/, double /*periodMs*/) {
    // The ticks are the tempo.
}

std::int64_t MidiClockTimeline::dueUs(std::int64_t step) {
    return tickDueUs(step * kTicksPerStep);
}

std::int64_t MidiClockTimeline::tickDueUs(std::int64_t tick) {
    const State now = state();
    if (!now.running || now.run != passRun_ || !now.ticked) {
        return kNever;
    }
    const std::int64_t songTick = passFirstTick_ + tick;
    if (songTick > now.lastTick + 1) {
        return kNever;
    }
    return now.lastTickUs +
           std::llround(static_cast<double>(songTick - now.lastTick) * now.periodUs);
}

bool MidiClockTimeline::tickSettled(std::int64_t tick) {
    const State now = state();
    return now.running && now.run == passRun_ && now.ticked &&
           passFirstTick_ + tick <= now.lastTick;
}

int MidiClockTimeline::stepInMeasure(std::int64_t step, int visibleSteps) {
    if (step != 0 || visibleSteps <= 0) {
        return -1;
    }
    const std::int64_t sixteenth = passFirstTick_ / kTicksPerStep;
    return static_cast<int>(((sixteenth % visibleSteps) + visibleSteps) % visibleSteps);
}

bool MidiClockTimeline::deviceFrameOf(std::int64_t dueUs, std::uint32_t& frame) {
    const State now = state();
    if (!now.framed || !now.running || now.run != passRun_ || !now.ticked ||
        !(now.periodUs > 0.0) || dueUs == kNever) {
        return false;
    }
    double ticks = static_cast<double>(dueUs - now.lastTickUs) / now.periodUs;
    if (std::fabs(ticks) > TickFit::kWindow) {
        return false;
    }
    if (std::fabs(ticks - std::round(ticks)) <= kSameTickShare) {
        ticks = std::round(ticks);
    }
    const double offset = now.lastTickFrame + ticks * now.periodFrames;
    frame = now.frameBase + static_cast<std::uint32_t>(std::llround(offset));
    return true;
}

std::int64_t MidiClockTimeline::songPosition(std::int64_t step) {
    return passFirstTick_ / kTicksPerStep + step;
}
