#pragma once

struct ChannelMessage;
class MDial;
class Setup;
class SetupController;

// Live transposition from the MIDI input ("Transpose from Input"): while on, every Note On sets
// the transpose to the key's distance from middle C, held within the transpose dial's range, so
// the next step plays in the new key. Note Off changes nothing: the last key holds. Owned by the
// main window; window thread only.
class InputTransposer {
public:
    InputTransposer(SetupController& controller, Setup& setup, const MDial& dial);

    void setEnabled(bool on) { enabled_ = on; }
    bool isEnabled() const { return enabled_; }
    void onMessage(const ChannelMessage& message);

private:
    SetupController& controller_;
    Setup& setup_;
    const MDial& dial_;
    bool enabled_ = false;
};
