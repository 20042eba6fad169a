#include "app/InputTransposer.h"

#include <algorithm>

#include "app/ChordCollector.h"
#include "core/Setup.h"
#include "editing/SetupController.h"
#include "midi/ChannelMessage.h"
#include "toolkit/MDial.h"

InputTransposer::InputTransposer(SetupController& controller, Setup& setup, const MDial& dial)
    : controller_(controller), setup_(setup), dial_(dial) {}

void InputTransposer::onMessage(const ChannelMessage& message) {
    if (!enabled_ || !message.isNoteOn()) {
        return;
    }
    const int transpose =
        std::clamp(message.data1 - ChordCollector::kMiddleC, dial_.GetMin(), dial_.GetMax());
    if (transpose == setup_.transpose) {
        return;
    }
    // The transpose is part of the setup, so a changed one is saved with it; it is no edit to
    // undo, though: a key played for every bar would push the last real edit out of reach.
    controller_.SetTranspose(transpose);
    setup_.dirty = true;
}
