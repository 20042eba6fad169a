#include "app/RemoteControl.h"

#include <algorithm>
#include <cstdio>

#include "app/Preferences.h"
#include "core/Player.h"
#include "core/Setup.h"
#include "editing/SetupController.h"
#include "midi/ChannelMessage.h"
#include "panels/MainPanel.h"
#include "panels/PanelIds.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MWnd.h"

using namespace PanelIds;

namespace {

// A controller at or above the middle turns a toggle on (a sustain pedal's convention).
constexpr int kOnFrom = 64;
constexpr int kLoopCount = 8;

bool inRange(int id, int first, int last) {
    return id >= first && id <= last;
}

int loopIndexOf(RemoteTarget target) {
    return static_cast<int>(target) - static_cast<int>(RemoteTarget::Loop1);
}

}  // namespace

RemoteControl::RemoteControl(MainPanel& panel, SetupController& controller, Setup& setup,
                             Player& player, Actions actions)
    : panel_(panel),
      controller_(controller),
      setup_(setup),
      player_(player),
      actions_(std::move(actions)) {}

void RemoteControl::load() {
    for (const std::string& line : bindings_.readLines(Preferences::midiBindingLines())) {
        std::fprintf(stderr,
                     "glimmerstave: MIDI binding \"%s\" in the preferences cannot be read: "
                     "skipped\n",
                     line.c_str());
    }
}

bool RemoteControl::handle(const ChannelMessage& message) {
    const bool controller = message.isControlChange();
    if (!controller && !message.isNoteOn() && !message.isNoteOff()) {
        return false;
    }
    const MidiTrigger trigger{controller ? MidiTrigger::Kind::Controller : MidiTrigger::Kind::Note,
                              message.channel(), message.data1 & 0x7F};
    if (learning_ && chosen_ != RemoteTarget::None && !message.isNoteOff()) {
        learn(trigger);
        return true;
    }
    const RemoteTarget target = bindings_.targetOf(trigger);
    if (target == RemoteTarget::None) {
        return false;
    }
    // The release of a bound pad is used up too: it belongs to the press, not to the music.
    if (!message.isNoteOff()) {
        act(target, message);
    }
    return true;
}

void RemoteControl::setLearning(bool on) {
    learning_ = on;
    chosen_ = RemoteTarget::None;
    showStatus(on ? "MIDI Learn: click a control" : "");
}

bool RemoteControl::choose(int controlId, bool controlHeld) {
    if (inRange(controlId, ID_MENU_FILE, ID_MENU_MIDI)) {
        return false;
    }
    chosen_ = targetOfControl(controlId, controlHeld);
    showStatus(chosen_ == RemoteTarget::None
                   ? "MIDI Learn: click a control"
                   : "Learn " + MidiBindings::targetName(chosen_) + ": send a note or CC");
    return true;
}

void RemoteControl::clear() {
    bindings_.clear();
    save();
    showStatus("MIDI bindings cleared");
}

std::string RemoteControl::tipFor(int controlId) const {
    const RemoteTarget target = targetOfControl(controlId, false);
    if (target == RemoteTarget::None) {
        return {};
    }
    std::string tip;
    if (const std::optional<MidiTrigger> trigger = bindings_.triggerOf(target)) {
        tip = MidiBindings::triggerText(*trigger);
    }
    if (target == RemoteTarget::Play) {
        if (const std::optional<MidiTrigger> alone = bindings_.triggerOf(RemoteTarget::PlayAlone)) {
            tip += (tip.empty() ? "" : ", ") + MidiBindings::triggerText(*alone) + " alone";
        }
    }
    return tip.empty() ? tip : "MIDI: " + tip;
}

MRect RemoteControl::chosenArea(ControlHost* host) const {
    MRect area;
    if (chosen_ == RemoteTarget::None) {
        return area;
    }
    const bool alone = chosen_ == RemoteTarget::PlayAlone;
    for (const MWnd* control : ControlRegistry::Instance().Controls()) {
        if (control->GetHost() == host && control->IsVisible() &&
            targetOfControl(control->GetId(), alone) == chosen_) {
            area = area.United(control->GetRect());
        }
    }
    return area;
}

RemoteTarget RemoteControl::targetOfControl(int id, bool controlHeld) {
    if (id == ID_PLAY) {
        return controlHeld ? RemoteTarget::PlayAlone : RemoteTarget::Play;
    }
    if (id == ID_MUTE) {
        return RemoteTarget::Mute;
    }
    if (inRange(id, ID_TEMPO, ID_TEMPO_LAST)) {
        return RemoteTarget::Tempo;
    }
    if (inRange(id, ID_VOLUME, ID_VOLUME_LAST)) {
        return RemoteTarget::Volume;
    }
    if (inRange(id, ID_TRANSPOSE, ID_TRANSPOSE_LAST)) {
        return RemoteTarget::Transpose;
    }
    if (inRange(id, ID_LOOPS + 1, ID_LOOPS + kLoopCount)) {
        return static_cast<RemoteTarget>(static_cast<int>(RemoteTarget::Loop1) + id - ID_LOOPS - 1);
    }
    return RemoteTarget::None;
}

int RemoteControl::scaled(int value, int low, int high) {
    constexpr int kTop = 127;
    // Rounded to the nearest: 0 gives low, 127 high, 64 the middle of a 0..100 range (50).
    return low + (std::clamp(value, 0, kTop) * (high - low) + kTop / 2) / kTop;
}

void RemoteControl::learn(const MidiTrigger& trigger) {
    const MidiBindings::Binding binding{trigger, chosen_};
    bindings_.bind(binding);
    save();
    chosen_ = RemoteTarget::None;
    showStatus(MidiBindings::formatLine(binding));
}

void RemoteControl::act(RemoteTarget target, const ChannelMessage& message) {
    const bool isNote = message.isNoteOn();
    const int value = message.data2 & 0x7F;
    const bool wantedOn = value >= kOnFrom;
    switch (target) {
        case RemoteTarget::Play:
            setToggle(player_.isRunning(), wantedOn, isNote, actions_.togglePlay);
            return;
        case RemoteTarget::PlayAlone:
            setToggle(player_.isRunning(), wantedOn, isNote, actions_.togglePlayAlone);
            return;
        case RemoteTarget::Mute:
            setToggle(setup_.mute != 0, wantedOn, isNote, [this] { toggleMute(); });
            return;
        case RemoteTarget::Tempo:
        case RemoteTarget::Volume:
        case RemoteTarget::Transpose:
            // A note sets a dial from its velocity, as a controller would.
            setDial(target, value, message.monotonicUs);
            return;
        case RemoteTarget::None:
            return;
        default:
            if (isNote || wantedOn) {
                selectLoop(loopIndexOf(target));
            }
            return;
    }
}

void RemoteControl::setToggle(bool isOn, bool wantedOn, bool isNote,
                              const std::function<void()>& toggle) {
    // A note flips the toggle; a controller sets it and leaves it alone when it already is so.
    if ((isNote || isOn != wantedOn) && toggle) {
        toggle();
    }
}

void RemoteControl::toggleMute() {
    // As a click on the button: the undo snapshot, the button's new state, then its value.
    controller_.OnPressAction(ID_MUTE);
    panel_.MuteButton().SetState(panel_.MuteButton().GetState() == 0 ? 1 : 0);
    controller_.OnValueChanged(ID_MUTE);
}

void RemoteControl::selectLoop(int index) {
    // As keys 1..8 do while playing: the playing loop changes at once. Stopped, as a click on
    // the selector.
    if (player_.isRunning()) {
        player_.jumpToMeasure(index);
    } else {
        controller_.OnValueChanged(ID_LOOPS + 1 + index);
    }
}

void RemoteControl::setDial(RemoteTarget target, int value, std::int64_t heardUs) {
    if (target != lastDial_ || heardUs - lastDialUs_ >= kGestureGapUs) {
        controller_.TakeSnapshot();
    }
    lastDial_ = target;
    lastDialUs_ = heardUs;
    if (target == RemoteTarget::Tempo) {
        controller_.SetBpm(kLowestTempo + kTempoStep * value);
    } else if (target == RemoteTarget::Volume) {
        MDial& dial = panel_.VolumeDial();
        controller_.SetVolume(scaled(value, dial.GetMin(), dial.GetMax()));
    } else {
        MDial& dial = panel_.TransposeDial();
        controller_.SetTranspose(scaled(value, dial.GetMin(), dial.GetMax()));
    }
    setup_.dirty = true;
}

void RemoteControl::save() const {
    Preferences::saveMidiBindingLines(bindings_.lines());
}

void RemoteControl::showStatus(const std::string& text) {
    panel_.ShowStatus(text);
    if (actions_.repaint) {
        actions_.repaint();
    }
}
