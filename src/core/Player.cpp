#include "Player.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <mutex>

#include "Messages.h"
#include "MidiOut.h"
#include "PlayerHost.h"
#include "Setup.h"
#include "StepTimeline.h"
#include "StepTimer.h"

namespace {

constexpr int kNoteOn = 0x90;
constexpr int kControlChange = 0xB0;
constexpr int kProgramChange = 0xC0;
constexpr int kPanController = 10;
constexpr int kAllNotesOff = 123;
constexpr int kNoProgram = -1;
// MIDI clock: system real-time bytes, without a channel.
constexpr int kTimingClock = 0xF8;
constexpr int kClockStart = 0xFA;
constexpr int kClockStop = 0xFC;
constexpr int kClockContinue = 0xFB;
constexpr int kSongPosition = 0xF2;
// Song Position Pointer counts sixteenths in 14 bits.
constexpr std::int64_t kSongPositionRange = 1 << 14;
// A shared clock's first step of a pass may come later than the others and still play: a start
// made by another peer arrives here after its own time, and the downbeat must not be lost.
constexpr std::int64_t kLateFirstStepUs = 30'000;
// At most this many late steps are passed over in one tick, so that a clock thread woken after
// a jump far ahead never spins long under the engine lock; the next tick goes on.
constexpr int kMaxSkippedSteps = 256;
// How much earlier than the port's latency what falls on a settled tick is handed to a port that
// places messages in time. On a busy or virtual machine the clock thread wakes more than a
// period late (5 ms at 256 frames) a few times a minute, and JACK runs its cycles in a burst
// after such a stall, sooner than its own estimate of their times says. The cost: what is sent
// at once (the All Notes Off of a stop) waits behind what is queued ahead, this much longer.
constexpr std::int64_t kSettledMarginUs = 10'000;
constexpr std::int64_t kTicksPerStep = 6;
// Sounding notes are stored less 60 and clamped so that the list never exceeds 127 records.
constexpr std::int32_t kLowestSoundingNote = -59;
constexpr std::int32_t kHighestSoundingNote = 67;

constexpr std::int64_t kNever = StepTimeline::kNever;

int clampMeasureIndex(int index) {
    return std::clamp(index, 0, Setup::kMeasureCount - 1);
}

}  // namespace

double Player::periodForBpm(double bpm) {
    // Kept in single precision on purpose: the original tempo maths, bit for bit.
    const float millisecondsPerSecond = 1000.0f;
    const float stepsPerBeatPerMs = 0.06666667f;  // 0x3D888889
    return static_cast<double>(millisecondsPerSecond) /
           (static_cast<double>(static_cast<float>(bpm)) * static_cast<double>(stepsPerBeatPerMs));
}

Player::Player() {
    soundingNotes_.reserve(kMaxSoundingNotes);
}

Player::~Player() = default;

void Player::init(PlayerHost& host, Setup& setup, StepTimer& clock, MidiOut& port) {
    host_ = &host;
    setup_ = &setup;
    clock_ = &clock;
    port_ = &port;
    port.setDueTimeline(timeline_);
    setup.cpuCyclesPerMs = clock.cyclesPerMs();
    port.enumeratePorts();
    clock.startTimer();
    clock.stopTimer();
    host.broadcastToInstances(Messages::UM_REOPEN_PORT, 0, 0);
}

void Player::setTimeline(StepTimeline* timeline) {
    StepTimeline* next = timeline != nullptr ? timeline : &fixedTimeline_;
    {
        std::lock_guard guard(engineLock_);
        if (next == timeline_) {
            return;
        }
        if (isRunning()) {
            const std::int64_t now = clock_->nowUs();
            if (nextStep_ == 0) {
                // Still waiting for the first step: it comes at once on the new timeline.
                next->resume(0, now, period_);
            } else {
                const std::int64_t lastDue = timeline_->dueUs(nextStep_ - 1);
                next->resume(nextStep_ - 1, lastDue == StepTimeline::kNever ? now : lastDue,
                             period_);
            }
        }
        timeline_ = next;
        if (port_ != nullptr) {
            port_->setDueTimeline(next);
        }
    }
    clock_->wake();
}

void Player::start(bool alone) {
    updatePositionDisplay(true);
    {
        std::lock_guard guard(engineLock_);
        const std::int64_t begun = restartLocked(alone);
        const std::int64_t now = clock_->nowUs();
        setup_->playingMeasure = setup_->selectedMeasure;
        leadUs_ = leadUsLocked();
        std::int64_t due = begun == kNever ? kNever : begun - leadUs_;
        if (due != kNever && timeline_->sharedClock() && now - due > kLateFirstStepUs) {
            // A shared clock whose bar lies well in the past: the pass comes in at the step of
            // the clock's phase, on time, rather than with the missed steps played late.
            setup_->port.currentStep = 0;
            setup_->repeatCount = 0;
            skipLateStepsLocked(now);
            due = handOverUsLocked(nextStep_);
            if (due <= now) {
                playDueStepLocked(due, now);
            }
        } else if (due <= now) {
            playDueStepLocked(due, now);
            // The pass just begun counts as the first.
            setup_->repeatCount = 1;
        } else {
            // Step 0 plays when the timeline says (e.g. the next bar of a shared session); it
            // counts the first pass itself.
            setup_->port.currentStep = 0;
            setup_->repeatCount = 0;
        }
        host_->postMessage(Messages::UM_MEASURE_PLAYING, setup_->selectedMeasure,
                           setup_->playingMeasure);
    }
    if (!alone) {
        host_->broadcastToInstances(Messages::UM_START, 0, 0);
    }
}

void Player::stop(bool alone) {
    {
        std::lock_guard guard(engineLock_);
        if (isRunning()) {
            timeline_->end(alone || passAlone_);
        }
        passAlone_ = false;
        haltLocked();
        if (clockRunning_) {
            sendClockLocked(kClockStop, kNever, 0);
            clockRunning_ = false;
        }
        sendOnChannel(kControlChange, kAllNotesOff, 0);
        setup_->port.currentStep = 0;
        host_->postMessage(Messages::UM_MEASURE_PLAYING, setup_->playingMeasure, -1);
        // No note-offs: the All Notes Off above silences them.
        soundingNotes_.clear();
    }
    updatePositionDisplay(false);
    host_->showPlayReleased();
}

void Player::toggle(bool alone) {
    int message = 0;
    if (isRunning()) {
        // A pass begun for this copy alone ends for it alone.
        alone = alone || passAlone();
        stop(alone);
        message = Messages::UM_STOP;
    } else {
        start(alone);
        message = Messages::UM_START;
    }
    if (!alone) {
        host_->broadcastToInstances(message, 0, 0);
    }
}

bool Player::passAlone() {
    std::lock_guard guard(engineLock_);
    return isRunning() && passAlone_;
}

void Player::playStep() {
    std::lock_guard guard(engineLock_);
    playStepLocked();
}

bool Player::tick(std::int64_t nowUs) {
    std::lock_guard guard(engineLock_);
    if (!isRunning()) {
        return false;
    }
    leadUs_ = leadUsLocked();
    std::int64_t due = handOverUsLocked(nextStep_);
    if (due != kNever && nowUs >= due && timeline_->sharedClock()) {
        skipLateStepsLocked(nowUs);
        due = handOverUsLocked(nextStep_);
    }
    if (due == kNever || nowUs < releaseUsLocked(due, nextStep_ * kTicksPerStep)) {
        sendDueTicksLocked(nowUs);
        return false;
    }
    playDueStepLocked(due, nowUs);
    return true;
}

std::int64_t Player::leadUsLocked() {
    return timeline_->sharedClock() ? std::max<std::int64_t>(port_->outputLatencyUs(), 0) : 0;
}

std::int64_t Player::releaseUsLocked(std::int64_t dueUs, std::int64_t tick) {
    const std::int64_t latencyUs = port_->outputLatencyUs();
    if (dueUs == kNever || latencyUs <= 0 || !timeline_->tickSettled(tick)) {
        return dueUs;
    }
    // The port holds it and places it on its due time: handing it over ahead of a wake-up on
    // the due time keeps it clear of the cycle that takes it, even after a late wake-up.
    return dueUs - latencyUs - kSettledMarginUs;
}

std::int64_t Player::handOverUsLocked(std::int64_t step) {
    const std::int64_t due = timeline_->dueUs(step);
    return due == kNever ? kNever : due - leadUs_;
}

void Player::skipLateStepsLocked(std::int64_t nowUs) {
    for (int skipped = 0; skipped < kMaxSkippedSteps; ++skipped) {
        const std::int64_t due = handOverUsLocked(nextStep_);
        const std::int64_t tolerance =
            nextStep_ == 0 ? kLateFirstStepUs : StepTimeline::kLateSkipUs;
        if (due == kNever || nowUs - due <= tolerance) {
            return;
        }
        const int placed = timeline_->stepInMeasure(nextStep_, setup_->stepsPerMeasure);
        if (placed >= 0) {
            setup_->port.currentStep = placed;
        }
        // Silent, but the measure position, repeats and chains move on as if it had played.
        releaseNotesLocked(false);
        if (setup_->port.currentStep == 0) {
            ++setup_->repeatCount;
        }
        advanceLocked();
        ++nextStep_;
        nextTick_ = nextStep_ * kTicksPerStep;
        clockResync_ = clockRunning_ || clockResync_;
    }
}

std::int64_t Player::nextDueUs() {
    std::lock_guard guard(engineLock_);
    if (!isRunning()) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const std::int64_t stepDue =
        releaseUsLocked(handOverUsLocked(nextStep_), nextStep_ * kTicksPerStep);
    if (clockRunning_ && nextTick_ < nextStep_ * kTicksPerStep) {
        return std::min(stepDue, releaseUsLocked(tickDueUsLocked(nextTick_), nextTick_));
    }
    return stepDue;
}

void Player::setMidiClock(bool on) {
    std::lock_guard guard(engineLock_);
    midiClock_ = on;
    if (!on && clockRunning_) {
        // Followers must not wait for ticks that no longer come.
        sendClockLocked(kClockStop, kNever, 0);
        clockRunning_ = false;
    }
}

bool Player::midiClock() {
    std::lock_guard guard(engineLock_);
    return midiClock_;
}

void Player::onTempoChanged() {
    {
        std::lock_guard guard(engineLock_);
        if (!isRunning()) {
            return;
        }
        period_ = periodForBpm(setup_->bpm);
        // The schedule goes on from the step that played last, so a late wake-up at a tempo
        // change does not shift every later step.
        timeline_->retime(nextStep_ > 0 ? nextStep_ - 1 : 0, period_);
    }
    clock_->wake();
}

void Player::onMeasureSelected(int index, bool keepPlaying) {
    if (!isRunning() || keepPlaying) {
        return;
    }
    {
        std::lock_guard guard(engineLock_);
        if (setup_->selectedMeasure != setup_->playingMeasure) {
            setup_->repeatCount = 0;
        }
        setup_->playingMeasure =
            static_cast<std::int16_t>(clampMeasureIndex(setup_->selectedMeasure));
    }
    markPlaying(index);
}

void Player::jumpToMeasure(int index) {
    if (!isRunning()) {
        return;
    }
    {
        std::lock_guard guard(engineLock_);
        setup_->playingMeasure = static_cast<std::int16_t>(clampMeasureIndex(index));
        setup_->repeatCount = 0;
    }
    markPlaying(index);
}

void Player::handleMessage(int message, std::intptr_t wParam, std::intptr_t lParam) {
    switch (message) {
        case Messages::UM_STEP_PLAYED:
            // One posted just before a stop arrives after it: nothing plays, nothing lights.
            if (isRunning()) {
                updatePositionDisplay(true);
            }
            return;
        case Messages::UM_START:
            if (!isRunning()) {
                start(false);
            }
            return;
        case Messages::UM_STOP:
            if (isRunning()) {
                stop(false);
            }
            return;
        case Messages::UM_MEASURE_PLAYING:
            markPlaying(lParam == -1 ? -1 : static_cast<int>(wParam));
            return;
        case Messages::UM_STATUS_CHANGED:
            host_->showStatus(statusText());
            return;
        case Messages::UM_PORT_BUSY:
        case Messages::UM_PORT_HANDLE:
        case Messages::UM_SHARE_COUNT:
        case Messages::UM_REOPEN_PORT:
            port_->handlePortMessage(message, wParam, lParam);
            return;
        default:
            return;
    }
}

void Player::silencePortLocked() {
    if (clockRunning_) {
        sendClockLocked(kClockStop, kNever, 0);
        clockRunning_ = false;
        clockResync_ = isRunning() && midiClock_;
    }
    killAllSound();
}

void Player::killAllSound() {
    for (int channelStatus = 0xB0; channelStatus <= 0xBF; ++channelStatus) {
        port_->sendShort(channelStatus, kAllNotesOff, 0);
    }
}

std::string Player::statusText() {
    std::lock_guard guard(engineLock_);
    return std::string(statusBuffer_.data());
}

std::vector<SoundingNote> Player::soundingNotes() {
    std::lock_guard guard(engineLock_);
    return soundingNotes_;
}

double Player::period() {
    std::lock_guard guard(engineLock_);
    return period_;
}

void Player::playStepLocked() {
    Setup& setup = *setup_;
    PortState& port = setup.port;
    if (port.currentStep < 0 || port.currentStep >= Measure::kStepCount) {
        port.currentStep = 0;
    }
    const Measure& measure =
        setup.measures[static_cast<std::size_t>(clampMeasureIndex(setup.playingMeasure))];
    const Step& step = measure.steps[static_cast<std::size_t>(port.currentStep)];
    const bool stepIsActive = setup.mute == 0 && step.on != 0;

    releaseNotesLocked(stepIsActive);
    strikeNotesLocked(step, stepIsActive);
    if (stepIsActive) {
        recordSoundingNotesLocked(step);
        refreshStatusLocked();
    }
    host_->postMessage(Messages::UM_STEP_PLAYED, 0, 0);
    if (port.currentStep == 0) {
        ++setup.repeatCount;
        host_->postMessage(Messages::UM_MEASURE_PLAYING, setup.playingMeasure, 0);
    }
    advanceLocked();
}

void Player::playDueStepLocked(std::int64_t dueUs, std::int64_t nowUs) {
    const int placed = timeline_->stepInMeasure(nextStep_, setup_->stepsPerMeasure);
    // A step placed by the timeline after the first is a jump (a relocation).
    const bool jumped = placed >= 0 && nextStep_ > 0;
    if (midiClock_ && (nextStep_ == 0 || jumped || clockResync_)) {
        startClockLocked(dueUs, nowUs);
    } else if (clockRunning_) {
        // A late wake-up may have skipped the last ticks of the step before: none goes missing.
        while (nextTick_ < nextStep_ * kTicksPerStep) {
            sendClockLocked(kTimingClock, tickDueUsLocked(nextTick_), nowUs);
            ++nextTick_;
        }
    }
    if (clockRunning_) {
        sendClockLocked(kTimingClock, dueUs, nowUs);
        nextTick_ = nextStep_ * kTicksPerStep + 1;
    }
    if (placed >= 0) {
        setup_->port.currentStep = placed;
    }
    sendDueUs_ = dueUs;
    playStepLocked();
    sendDueUs_ = kNever;
    ++nextStep_;
}

void Player::startClockLocked(std::int64_t dueUs, std::int64_t nowUs) {
    const std::int64_t position = timeline_->songPosition(nextStep_);
    if (clockRunning_) {
        // Song Position Pointer counts only while followers stand still.
        sendClockLocked(kClockStop, dueUs, nowUs);
    }
    if (position == 0) {
        sendClockLocked(kClockStart, dueUs, nowUs);
    } else {
        const std::int64_t wrapped =
            ((position % kSongPositionRange) + kSongPositionRange) % kSongPositionRange;
        port_->sendShortDue(kSongPosition, static_cast<int>(wrapped & 0x7F),
                            static_cast<int>(wrapped >> 7), dueUs == kNever ? 0 : nowUs - dueUs);
        sendClockLocked(kClockContinue, dueUs, nowUs);
    }
    clockRunning_ = true;
    clockResync_ = false;
    nextTick_ = nextStep_ * kTicksPerStep;
}

void Player::sendDueTicksLocked(std::int64_t nowUs) {
    if (!clockRunning_) {
        return;
    }
    while (nextTick_ < nextStep_ * kTicksPerStep) {
        const std::int64_t due = tickDueUsLocked(nextTick_);
        if (due == kNever || releaseUsLocked(due, nextTick_) > nowUs) {
            return;
        }
        sendClockLocked(kTimingClock, due, nowUs);
        ++nextTick_;
    }
}

std::int64_t Player::tickDueUsLocked(std::int64_t tick) {
    const std::int64_t due = timeline_->tickDueUs(tick);
    return due == kNever ? kNever : due - leadUs_;
}

void Player::sendClockLocked(int status, std::int64_t dueUs, std::int64_t nowUs) {
    port_->sendShortAt(status, 0, 0, dueUs, dueUs == kNever ? 0 : nowUs - dueUs);
}

void Player::releaseNotesLocked(bool stepIsActive) {
    if (setup_->polyphonic != 0) {
        for (auto note = soundingNotes_.begin(); note != soundingNotes_.end();) {
            if (note->countdown == SoundingNote::kHeld) {
                ++note;
                continue;
            }
            if (--note->countdown < 1) {
                sendOnChannel(kNoteOn, note->note + 60, 0);
                note = soundingNotes_.erase(note);
            } else {
                ++note;
            }
        }
        refreshStatusLocked();
        return;
    }
    if (stepIsActive) {
        for (const SoundingNote& note : soundingNotes_) {
            sendOnChannel(kNoteOn, note.note + 60, 0);
        }
        soundingNotes_.clear();
    }
}

void Player::strikeNotesLocked(const Step& step, bool stepIsActive) {
    // The historical volume constant, slightly below 0.01 (0x3C23D70A).
    const double volumeScale = static_cast<double>(setup_->volume) * static_cast<double>(0.01f);
    double baseVelocity = step.velocity;
    for (const std::int32_t offset : step.notes) {
        const int sum = static_cast<std::int16_t>(offset) + setup_->transpose + 60;
        const int note = std::clamp<int>(static_cast<std::int16_t>(sum), 1, 127);
        // Each further note of a chord is scaled again from the previous one's velocity.
        // Saturated first: a damaged setup's volume and velocity compound past the int range
        // within a few notes, and the conversion of such a value is undefined.
        const int velocity = static_cast<int>(std::clamp(
            volumeScale * baseVelocity, static_cast<double>(std::numeric_limits<int>::min()),
            static_cast<double>(std::numeric_limits<int>::max())));
        baseVelocity = velocity;
        if (!stepIsActive) {
            continue;
        }
        sendOnChannel(kNoteOn, note, 0);
        if (step.program != kNoProgram) {
            sendOnChannel(kProgramChange, step.program, 0);
        }
        sendOnChannel(kControlChange, kPanController, step.pan);
        sendOnChannel(kNoteOn, note, velocity);
        if (step.duration == 0) {
            sendOnChannel(kNoteOn, note, 0);
        }
    }
}

void Player::recordSoundingNotesLocked(const Step& step) {
    for (const std::int32_t offset : step.notes) {
        // Widened first: a file can hold any 32-bit offset, and the sum must not overflow.
        const auto note = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            std::int64_t{offset} + setup_->transpose, kLowestSoundingNote, kHighestSoundingNote));
        auto existing = std::find_if(soundingNotes_.begin(), soundingNotes_.end(),
                                     [note](const SoundingNote& s) { return s.note == note; });
        if (existing != soundingNotes_.end()) {
            existing->countdown = step.duration;
        } else {
            soundingNotes_.push_back(SoundingNote{note, step.duration});
        }
    }
}

void Player::advanceLocked() {
    Setup& setup = *setup_;
    const int justPlayed = setup.port.currentStep;
    ++setup.port.currentStep;
    if (justPlayed < setup.stepsPerMeasure - 1) {
        return;
    }
    const Measure& measure =
        setup.measures[static_cast<std::size_t>(clampMeasureIndex(setup.playingMeasure))];
    if (setup.repeatCount >= measure.repeats) {
        setup.playingMeasure = static_cast<std::int16_t>(clampMeasureIndex(measure.next));
        setup.repeatCount = 0;
    }
    setup.port.currentStep = 0;
}

std::int64_t Player::restartLocked(bool alone) {
    // A start always runs at the current tempo: the timeline's pass begins afresh, so a change
    // still pending from the last run (stopped within its step) cannot carry over.
    period_ = periodForBpm(setup_->bpm);
    nextStep_ = 0;
    nextTick_ = 0;
    clockRunning_ = false;
    clockResync_ = false;
    passAlone_ = alone;
    running_.store(true, std::memory_order_release);
    clock_->startTimer();
    return timeline_->begin(clock_->nowUs(), period_, alone);
}

void Player::haltLocked() {
    clock_->stopTimer();
    running_.store(false, std::memory_order_release);
}

void Player::refreshStatusLocked() {
    char* out = statusBuffer_.data();
    std::size_t left = statusBuffer_.size();
    out[0] = '\0';
    for (const SoundingNote& note : soundingNotes_) {
        const int written = std::snprintf(out, left, "%d:%d  ", note.note, note.countdown);
        if (written < 0 || static_cast<std::size_t>(written) >= left) {
            break;
        }
        out += written;
        left -= static_cast<std::size_t>(written);
    }
    host_->postMessage(Messages::UM_STATUS_CHANGED, 0, 0);
}

void Player::sendOnChannel(int kind, int data1, int data2) {
    // The status byte is the low byte of channel + kind - 1.
    port_->sendShortAt((setup_->port.channel + kind - 1) & 0xFF, data1, data2, sendDueUs_,
                       lateUsLocked());
}

std::int64_t Player::lateUsLocked() const {
    return sendDueUs_ == kNever ? 0 : clock_->nowUs() - sendDueUs_;
}

void Player::updatePositionDisplay(bool show) {
    if (!show) {
        if (litColumn_ >= 0) {
            host_->setStepColumnLit(litColumn_, false);
            litColumn_ = -1;
        }
        return;
    }
    ++updateCounter_;
    // Throttle: at most about 100 column changes per second at any tempo.
    if (setup_->bpm * (1.0 / 1500.0) > updateCounter_) {
        return;
    }
    updateCounter_ = 0;
    int column = 0;
    {
        std::lock_guard guard(engineLock_);
        const int current = setup_->port.currentStep;
        column = current == 0 ? setup_->stepsPerMeasure - 1 : current - 1;
    }
    if (litColumn_ >= 0 && litColumn_ != column) {
        host_->setStepColumnLit(litColumn_, false);
    }
    host_->setStepColumnLit(column, true);
    litColumn_ = column;
}

void Player::markPlaying(int index) {
    host_->markPlayingMeasure(index);
}
