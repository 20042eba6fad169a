#pragma once

// Where the controls read the keyboard modifiers and the mouse buttons. They ask for the
// state at the moment of the question, not the state carried by the event being handled:
// Ctrl pressed after a click still multiplies the step of the release. Tests install their
// own state; the program uses the real one.
class InputState {
public:
    virtual ~InputState() = default;

    virtual bool IsControlHeld() const;
    virtual bool IsShiftHeld() const;
    virtual bool IsAltHeld() const;
    virtual bool IsPrimaryButtonHeld() const;
    // Returns once the primary button is up, handling events meanwhile.
    virtual void WaitForPrimaryRelease();

    // The state in force; the real one unless a test installed another.
    static InputState& Current();
    // Installs state (not owned); nullptr goes back to the real state.
    static void Install(InputState* state);
};
