#include "sync/JackTransportTimeline.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>

#include "core/StepTimer.h"
#include "sync/TransportGrid.h"

namespace {

void ignoreJackText(const char*) {}

// Rounding slack for a position that lies on a sixteenth: it plays that sixteenth.
constexpr double kOnTheGrid = 1e-6;

}  // namespace

std::unique_ptr<JackTransportTimeline> JackTransportTimeline::open(StepTimer& clock,
                                                                   const std::string& clientName) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        jack_set_error_function(ignoreJackText);
        jack_set_info_function(ignoreJackText);
    });
    jack_status_t status{};
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        return nullptr;
    }
    std::unique_ptr<JackTransportTimeline> timeline(new JackTransportTimeline(client, clock));
    jack_on_shutdown(client, &JackTransportTimeline::serverGone, timeline.get());
    if (jack_activate(client) != 0) {
        return nullptr;
    }
    timeline->tryToLead();
    return timeline;
}

JackTransportTimeline::JackTransportTimeline(jack_client_t* client, StepTimer& clock)
    : client_(client), clock_(clock) {}

JackTransportTimeline::~JackTransportTimeline() {
    // Closing also gives up the timebase.
    jack_deactivate(client_);
    jack_client_close(client_);
}

bool JackTransportTimeline::rolling() const {
    if (!serverAlive_.load(std::memory_order_acquire)) {
        return false;
    }
    // A relocation while rolling passes through Starting for a cycle or more: still rolling.
    const jack_transport_state_t state = jack_transport_query(client_, nullptr);
    return state == JackTransportRolling || state == JackTransportStarting;
}

bool JackTransportTimeline::rollingAsAsked() const {
    const bool now = rolling();
    const int asked = asked_.load(std::memory_order_acquire);
    if (asked == kNothingAsked) {
        return now;
    }
    if ((asked == kStartAsked) == now ||
        clock_.nowUs() - askedAtUs_.load(std::memory_order_acquire) > kAskedHoldUs) {
        asked_.store(kNothingAsked, std::memory_order_release);
        return now;
    }
    return asked == kStartAsked;
}

void JackTransportTimeline::setTempo(double beatsPerMinute) {
    if (beatsPerMinute > 0.0 && std::isfinite(beatsPerMinute)) {
        tempo_.store(beatsPerMinute, std::memory_order_release);
    }
}

void JackTransportTimeline::tryToLead() {
    if (leading() || !serverAlive_.load(std::memory_order_acquire)) {
        return;
    }
    // Conditional: refused (EBUSY) while another client is the master.
    if (jack_set_timebase_callback(client_, 1, &JackTransportTimeline::supplyPosition, this) == 0) {
        leading_.store(true, std::memory_order_release);
    }
}

void JackTransportTimeline::setRolling(bool roll) {
    if (!serverAlive_.load(std::memory_order_acquire)) {
        return;
    }
    if (roll) {
        tryToLead();
    }
    askedAtUs_.store(clock_.nowUs(), std::memory_order_release);
    asked_.store(roll ? kStartAsked : kStopAsked, std::memory_order_release);
    if (roll) {
        jack_transport_start(client_);
    } else {
        jack_transport_stop(client_);
    }
}

std::int64_t JackTransportTimeline::begin(std::int64_t nowUs, double periodMs, bool alone) {
    alone_ = alone;
    anchored_ = false;
    nextStep_ = 0;
    placedStep_ = -1;
    if (periodMs > 0.0) {
        setTempo(15000.0 / periodMs);
    }
    if (alone) {
        return fixed_.begin(nowUs, periodMs, alone);
    }
    if (!rolling()) {
        setRolling(true);
    }
    return dueUs(0);
}

void JackTransportTimeline::end(bool alone) {
    if (!alone_ && !alone && rollingAsAsked()) {
        setRolling(false);
    }
    alone_ = false;
    anchored_ = false;
}

void JackTransportTimeline::resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) {
    // A pass that was playing goes on on the transport's grid from its next sixteenth.
    alone_ = false;
    anchored_ = false;
    nextStep_ = lastStep + 1;
    placedStep_ = -1;
    fixed_.resume(lastStep, lastDueUs, periodMs);
    if (periodMs > 0.0) {
        setTempo(15000.0 / periodMs);
    }
}

void JackTransportTimeline::retime(std::int64_t lastStep, double periodMs) {
    if (periodMs > 0.0) {
        setTempo(15000.0 / periodMs);
    }
    if (alone_) {
        fixed_.retime(lastStep, periodMs);
    }
}

std::int64_t JackTransportTimeline::dueUs(std::int64_t step) {
    if (alone_) {
        return fixed_.dueUs(step);
    }
    nextStep_ = std::max(nextStep_, step);
    if (!serverAlive_.load(std::memory_order_acquire)) {
        return kNever;
    }
    jack_position_t position{};
    if (jack_transport_query(client_, &position) != JackTransportRolling ||
        position.frame_rate == 0) {
        return kNever;
    }
    // How long a sixteenth lasts now, at the master's tempo (else the program's own), and where
    // the transport is on that grid, frame 0 being bar 1, beat 1. From the frame rather than
    // the master's bar, beat and tick, whose tick is a whole number: 10 frames at 150 BPM.
    TransportGrid::Bbt bbt;
    const bool master = (position.valid & JackPositionBBT) != 0;
    if (master) {
        bbt.beatsPerBar = position.beats_per_bar;
        bbt.beatType = position.beat_type;
        bbt.beatsPerMinute = position.beats_per_minute;
    } else {
        bbt.beatsPerMinute = tempo_.load(std::memory_order_acquire);
    }
    const double frames =
        TransportGrid::framesPerSixteenth(bbt.beatsPerMinute, bbt.beatType, position.frame_rate);
    if (!(frames > 0.0)) {
        return kNever;
    }
    const double sixteenths = static_cast<double>(position.frame) / frames;
    // The cycle that the position belongs to begins on a multiple of the period on JACK's
    // frame clock; rounding to it removes the jitter of the cycle's time stamp.
    const jack_nframes_t period = std::max<jack_nframes_t>(jack_get_buffer_size(client_), 1);
    const jack_nframes_t stamped = jack_time_to_frames(client_, position.usecs);
    const jack_nframes_t cycleFrame = ((stamped + period / 2) / period) * period;
    const auto offset =
        static_cast<std::int64_t>(static_cast<std::int32_t>(cycleFrame - position.frame));
    // The sixteenth of the engine's next step; the transport lies just before it, or just past
    // it while that step is being played. Further off, a tempo change rescaled the grid.
    const double expected = static_cast<double>(firstSixteenth_ + nextStep_);
    const bool offTheGrid = sixteenths > expected + 1.0 || sixteenths < expected - 2.0;
    if (!anchored_ || offTheGrid ||
        std::llabs(offset - transportOffset_) > static_cast<std::int64_t>(period / 2)) {
        // A start, or a relocation: go on from the next sixteenth at the step it implies.
        anchored_ = true;
        transportOffset_ = offset;
        firstSixteenth_ = static_cast<std::int64_t>(std::ceil(sixteenths - kOnTheGrid)) - nextStep_;
        placedStep_ = nextStep_;
        sixteenthsPerBar_ = TransportGrid::sixteenthsPerBar(bbt);
    }
    const double framesAhead = static_cast<double>(firstSixteenth_ + step) - sixteenths;
    // One period early: the output port places it one period after its due frame.
    const double usAhead =
        (framesAhead * frames - static_cast<double>(period)) * 1e6 / position.frame_rate;
    if (!std::isfinite(usAhead) || std::fabs(usAhead) > 9.0e15) {
        return kNever;
    }
    const auto cycleUs = static_cast<std::int64_t>(jack_frames_to_time(client_, cycleFrame));
    const std::int64_t engineLessJack = clock_.nowUs() - static_cast<std::int64_t>(jack_get_time());
    return cycleUs + engineLessJack + static_cast<std::int64_t>(std::llround(usAhead));
}

int JackTransportTimeline::stepInMeasure(std::int64_t step, int visibleSteps) {
    if (alone_ || !anchored_ || step != placedStep_) {
        return -1;
    }
    return TransportGrid::stepInMeasure(firstSixteenth_ + step, sixteenthsPerBar_, visibleSteps);
}

void JackTransportTimeline::supplyPosition(jack_transport_state_t, jack_nframes_t,
                                           jack_position_t* position, int newPosition, void* arg) {
    auto* self = static_cast<JackTransportTimeline*>(arg);
    const double tempo = self->tempo_.load(std::memory_order_acquire);
    const double beatsPerFrame =
        position->frame_rate > 0 ? tempo / 60.0 / position->frame_rate : 0.0;
    // Counted on from the last cycle, so a tempo change bends the grid instead of moving it.
    double beats = static_cast<double>(position->frame) * beatsPerFrame;
    if (newPosition == 0 && self->haveBeats_) {
        beats = self->lastBeats_ +
                static_cast<double>(static_cast<std::int32_t>(position->frame - self->lastFrame_)) *
                    beatsPerFrame;
    }
    self->haveBeats_ = true;
    self->lastBeats_ = beats;
    self->lastFrame_ = position->frame;
    const TransportGrid::Bbt bbt = TransportGrid::bbtForBeats(std::max(beats, 0.0), tempo);
    position->valid = JackPositionBBT;
    position->bar = bbt.bar;
    position->beat = bbt.beat;
    position->tick = bbt.tick;
    position->bar_start_tick =
        static_cast<double>(bbt.bar - 1) * bbt.beatsPerBar * bbt.ticksPerBeat;
    position->beats_per_bar = static_cast<float>(bbt.beatsPerBar);
    position->beat_type = static_cast<float>(bbt.beatType);
    position->ticks_per_beat = bbt.ticksPerBeat;
    position->beats_per_minute = tempo;
}

void JackTransportTimeline::serverGone(void* arg) {
    auto* self = static_cast<JackTransportTimeline*>(arg);
    self->serverAlive_.store(false, std::memory_order_release);
    self->leading_.store(false, std::memory_order_release);
}
