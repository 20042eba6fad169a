#include "app/StepRecorder.h"

#include <algorithm>

#include <QWidget>

#include "core/Player.h"
#include "editing/SetupController.h"
#include "midi/ChannelMessage.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/MStepColumn.h"

StepRecorder::StepRecorder(SetupController& controller, MainPanel& panel, const Player& player)
    : controller_(controller),
      panel_(panel),
      player_(player),
      // A chord's offsets are held within what its field takes.
      chord_(panel.Column(0).GetNoteDial().GetMin(), panel.Column(0).GetNoteDial().GetMax()) {}

void StepRecorder::setEnabled(bool on) {
    enabled_ = on;
    // Keys held across the switch belong to no chord.
    chord_.clear();
}

void StepRecorder::onMessage(const ChannelMessage& message) {
    if (!enabled_) {
        return;
    }
    if (message.isControlChange() && message.data1 == kSustainPedal) {
        onPedal(message.data2 >= kPedalDown);
    } else if (message.isNoteOn() || message.isNoteOff()) {
        onKey(message);
    }
}

void StepRecorder::onKey(const ChannelMessage& message) {
    if (player_.isRunning()) {
        // A chord begun while playing is dropped whole, even if its last key comes up after
        // the stop.
        chord_.clear();
        if (message.isNoteOn()) {
            panel_.ShowStatus(kPlayingText);
        }
        return;
    }
    if (message.isNoteOn()) {
        chord_.press(message.data1, message.data2);
        return;
    }
    if (const auto chord = chord_.release(message.data1)) {
        const int step = targetStep();
        controller_.RecordStep(step, chord->offsets, chord->velocity);
        moveFocusOn(step);
    }
}

void StepRecorder::onPedal(bool down) {
    // A pedal sends its position again and again while it moves or is held: only the press
    // counts, and only with no chord under way (a pianist's habit of pedalling into a chord
    // must not push the chord a step on).
    const bool pressed = down && !pedalDown_;
    pedalDown_ = down;
    if (!pressed || player_.isRunning() || chord_.isHeld()) {
        return;
    }
    const int step = targetStep();
    controller_.RecordRest(step);
    moveFocusOn(step);
}

int StepRecorder::visibleSteps() const {
    return std::max(1, panel_.VisibleColumns());
}

int StepRecorder::targetStep() {
    const MDialEdit* first = panel_.Column(0).GetNoteDial().GetField();
    // The window's own record of its focus: it holds while another window is active.
    const QWidget* focused = first != nullptr ? first->window()->focusWidget() : nullptr;
    if (focused == nullptr) {
        return 0;
    }
    for (int step = 0; step < visibleSteps(); ++step) {
        MStepColumn& column = panel_.Column(step);
        if (focused == column.GetNoteDial().GetField() ||
            focused == column.GetProgramDial().GetField()) {
            return step;
        }
    }
    return 0;
}

void StepRecorder::moveFocusOn(int step) {
    const int next = (step + 1) % visibleSteps();
    if (MDialEdit* field = panel_.Column(next).GetNoteDial().GetField()) {
        field->setFocus(Qt::OtherFocusReason);
    }
}
