#include "toolkit/MTempoDial.h"

#include <cmath>

#include "core/TextFormat.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/InputState.h"

namespace {

constexpr double kSemitone = 1.0594630943592953;

}  // namespace

void MTempoDial::Create(const DialParams& params) {
    MDial::Create(params);
    tempo_ = 126.0;
    mode_ = 0;
    Display();
}

std::string MTempoDial::FormatTempo() const {
    // Shown in single precision: 126 bpm one semitone up reads 133.492.
    const float shown =
        static_cast<float>(mode_ == 1 ? kSamplesPerMeasureAtOneBpm / tempo_ : tempo_);
    return TextFormat::formatReal(static_cast<double>(shown));
}

void MTempoDial::Display() {
    display_ = FormatTempo();
    WriteField(display_);
    committedNumber_ = static_cast<float>(TextFormat::parseReal(ReadField()));
    ControlAccessibility::NotifyValue(this);
}

void MTempoDial::SetTempo(double t) {
    tempo_ = t;
    Display();
}

void MTempoDial::SetMode(int m) {
    mode_ = m;
    Display();
}

void MTempoDial::SetValueText(const std::string& /*text*/) {
    // Typed text counts only once the field is left (CommitEdit).
}

void MTempoDial::StepBy(int delta) {
    const double factor = InputState::Current().IsControlHeld() ? 2.0 : kSemitone;
    if (delta == 1) {
        tempo_ *= factor;
    } else if (delta == -1) {
        tempo_ /= factor;
    }
    if (tempo_ > kMaxTempo) {
        tempo_ = kMaxTempo;
    }
    if (tempo_ < kMinTempo) {
        tempo_ = kMinTempo;
    }
    Display();
}

void MTempoDial::CommitEdit() {
    double t = static_cast<float>(TextFormat::parseReal(ReadField()));
    if (t == committedNumber_) {
        return;
    }
    // A tempo of zero, a negative one or text that is no number would stop or break the
    // step clock: such input is refused and the field shows the tempo in force again.
    if (!std::isfinite(t) || t <= 0.0) {
        Display();
        return;
    }
    if (mode_ == 1) {
        t = kSamplesPerMeasureAtOneBpm / t;
    }
    if (t < kMinTempo || t > kMaxTempo) {
        // Typed tempos obey the same bounds as stepped ones.
        tempo_ = t < kMinTempo ? kMinTempo : kMaxTempo;
        Display();
        return;
    }
    tempo_ = t;
    committedNumber_ = t;
    // The field keeps the text as typed; what the dial reports (its tooltip) is the tempo
    // now in force.
    display_ = FormatTempo();
}
