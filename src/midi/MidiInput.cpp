#include "midi/MidiInput.h"

#include "midi/AlsaMidiInput.h"
#include "midi/AlsaSeqDriver.h"
#include "midi/JackMidiDriver.h"
#include "midi/JackMidiInput.h"

namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

MidiInput::MidiInput() = default;

// The inputs' threads stop in their destructors; JACK first, the later one to open.
MidiInput::~MidiInput() {
    jack_.reset();
    alsa_.reset();
}

void MidiInput::setSink(MidiInputSink* sink) {
    sink_ = sink;
}

void MidiInput::open() {
    if (alsa_ != nullptr) {
        return;
    }
    alsa_ = std::make_unique<AlsaMidiInput>(sink_);
    alsa_->open();
    jack_ = std::make_unique<JackMidiInput>(sink_);
    jack_->open();
    applySource();
}

std::vector<std::string> MidiInput::listSources() {
    std::vector<std::string> names = AlsaMidiInput::listSources();
    for (std::string& name : JackMidiInput::listSources()) {
        names.push_back(std::move(name));
    }
    return names;
}

void MidiInput::setSource(const std::string& name) {
    source_ = name;
    if (alsa_ != nullptr) {
        applySource();
    }
}

bool MidiInput::sourceConnected() const {
    switch (kindOf(source_)) {
        case Kind::Alsa:
            return alsa_ != nullptr && alsa_->sourceConnected();
        case Kind::Jack:
            return jack_ != nullptr && jack_->sourceConnected();
        case Kind::None:
            break;
    }
    return false;
}

MidiInput::Kind MidiInput::kindOf(const std::string& name) {
    if (endsWith(name, AlsaSeqDriver::kNameSuffix)) {
        return Kind::Alsa;
    }
    if (endsWith(name, JackMidiDriver::kNameSuffix)) {
        return Kind::Jack;
    }
    return Kind::None;
}

// One source at a time: the other input lets go of whatever it had. The ALSA input matches
// the whole name; JACK knows its ports without the suffix. Of several ALSA ports of one
// name, the first is taken.
void MidiInput::applySource() {
    const Kind kind = kindOf(source_);
    alsa_->setSource(kind == Kind::Alsa ? source_ : std::string());
    const std::string suffix = JackMidiDriver::kNameSuffix;
    jack_->setSource(kind == Kind::Jack ? source_.substr(0, source_.size() - suffix.size())
                                        : std::string());
}
