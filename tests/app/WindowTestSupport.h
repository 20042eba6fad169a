#pragma once

#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "toolkit/InputState.h"

// A main window as the program builds it, without system MIDI devices or synthesizer and
// with a private instance bus, ready for offscreen tests.
class WindowFixture {
public:
    // What the window starts with; empty: its own bus directory, a new setup.
    struct Start {
        std::string busDirectory;
        std::string setupPath;
    };
    using MakeDrivers = std::function<OutputPort::Drivers()>;
    WindowFixture() : WindowFixture(Start{}) {}
    // drivers: the port's drivers; none (no devices, no synthesizer) when not given.
    explicit WindowFixture(const Start& start, const MakeDrivers& drivers = {});
    ~WindowFixture();

    MainWindow& window() { return *window_; }
    const std::string& busDirectory() const { return busDirectory_; }
    // The centre of a toolkit rectangle, as a point in the window.
    static QPoint centreOf(const struct MRect& rect);
    std::vector<std::string> notes;

private:
    QTemporaryDir busDir_;
    std::string busDirectory_;
    std::unique_ptr<MainWindow> window_;
};

// Modifier keys held by the test, read by the controls and the engine.
class HeldKeys : public InputState {
public:
    HeldKeys() { InputState::Install(this); }
    ~HeldKeys() override { InputState::Install(nullptr); }
    bool IsControlHeld() const override { return control; }
    bool IsShiftHeld() const override { return shift; }
    bool IsAltHeld() const override { return alt; }
    bool control = false;
    bool shift = false;
    bool alt = false;
};
