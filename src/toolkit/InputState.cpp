#include "toolkit/InputState.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>

namespace {

InputState realState;
InputState* installed = nullptr;

}  // namespace

bool InputState::IsControlHeld() const {
    return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
}

bool InputState::IsShiftHeld() const {
    return (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0;
}

bool InputState::IsAltHeld() const {
    return (QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier) != 0;
}

bool InputState::IsPrimaryButtonHeld() const {
    return (QGuiApplication::mouseButtons() & Qt::LeftButton) != 0;
}

void InputState::WaitForPrimaryRelease() {
    // Qt learns of the release only by handling its event, so the wait has to run the loop.
    // The press that started the wait holds Qt's implicit grab, so the release comes back to
    // this process even when it happens outside the window.
    while (QCoreApplication::instance() != nullptr && !QCoreApplication::closingDown() &&
           IsPrimaryButtonHeld()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

InputState& InputState::Current() {
    return installed != nullptr ? *installed : realState;
}

void InputState::Install(InputState* state) {
    installed = state;
}
