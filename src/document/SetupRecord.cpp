#include "SetupRecord.h"

#include <bit>
#include <utility>

SetupRecord::SetupRecord() {
    for (int index = 0; index < Setup::kMeasureCount; ++index) {
        measures[static_cast<std::size_t>(index)].next = static_cast<std::int16_t>(index);
    }
}

SetupRecord SetupRecord::fromSetup(const Setup& setup, std::int32_t baseColor,
                                   std::int32_t windowLeft, std::int32_t windowTop) {
    SetupRecord record;
    record.fileVersion = setup.fileVersion;
    record.tempoEditMode = setup.tempoEditMode;
    record.bpm = setup.bpm;
    record.portId = setup.port.portId;
    record.channel = setup.port.channel;
    record.selectedMeasure = setup.selectedMeasure;
    record.mute = setup.mute;
    record.baseColor = baseColor;
    record.measures = setup.measures;
    record.windowLeft = windowLeft;
    record.windowTop = windowTop;
    record.stepsPerMeasure = setup.stepsPerMeasure;
    record.polyphonic = setup.polyphonic;
    record.volume = setup.volume;
    record.transpose = setup.transpose;
    record.portName = setup.port.portName;
    return record;
}

void SetupRecord::applyTo(Setup& setup) const {
    SetupRecord staged(*this);
    staged.moveInto(setup);
}

void SetupRecord::moveInto(Setup& setup) noexcept {
    setup.fileVersion = fileVersion;
    setup.tempoEditMode = tempoEditMode;
    setup.bpm = bpm;
    setup.port.portId = portId;
    setup.port.channel = channel;
    if (portName) {
        setup.port.portName.swap(*portName);
    }
    setup.selectedMeasure = selectedMeasure;
    setup.mute = mute;
    for (std::size_t m = 0; m < measures.size(); ++m) {
        Measure& from = measures[m];
        Measure& to = setup.measures[m];
        to.next = from.next;
        to.repeats = from.repeats;
        for (std::size_t s = 0; s < from.steps.size(); ++s) {
            Step& source = from.steps[s];
            Step& target = to.steps[s];
            target.on = source.on;
            target.program = source.program;
            target.velocity = source.velocity;
            target.pan = source.pan;
            target.duration = source.duration;
            std::swap(target.notes, source.notes);
        }
    }
    setup.stepsPerMeasure = stepsPerMeasure;
    setup.polyphonic = polyphonic;
    if (volume) {
        setup.volume = *volume;
    }
    if (transpose) {
        setup.transpose = *transpose;
    }
}

namespace {

bool sameStep(const Step& a, const Step& b) {
    return a.on == b.on && a.notes == b.notes && a.program == b.program &&
           a.velocity == b.velocity && a.pan == b.pan && a.duration == b.duration;
}

bool sameMeasure(const Measure& a, const Measure& b) {
    if (a.next != b.next || a.repeats != b.repeats) {
        return false;
    }
    for (std::size_t i = 0; i < a.steps.size(); ++i) {
        if (!sameStep(a.steps[i], b.steps[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SetupRecord::operator==(const SetupRecord& other) const {
    // Floats compare by their bits, so a record holding NaN still equals its copy.
    if (std::bit_cast<std::uint32_t>(fileVersion) !=
            std::bit_cast<std::uint32_t>(other.fileVersion) ||
        std::bit_cast<std::uint64_t>(bpm) != std::bit_cast<std::uint64_t>(other.bpm)) {
        return false;
    }
    for (std::size_t i = 0; i < measures.size(); ++i) {
        if (!sameMeasure(measures[i], other.measures[i])) {
            return false;
        }
    }
    return tempoEditMode == other.tempoEditMode && portId == other.portId &&
           channel == other.channel && selectedMeasure == other.selectedMeasure &&
           mute == other.mute && baseColor == other.baseColor && windowLeft == other.windowLeft &&
           windowTop == other.windowTop && stepsPerMeasure == other.stepsPerMeasure &&
           polyphonic == other.polyphonic && volume == other.volume &&
           transpose == other.transpose && portName == other.portName;
}
