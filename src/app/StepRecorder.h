#pragma once

#include "app/ChordCollector.h"

struct ChannelMessage;
class MainPanel;
class Player;
class SetupController;

// Step recording from the MIDI input ("Step Record"): while on and the engine is stopped, a
// chord played and released is written into the step whose column has the keyboard focus (its
// chord or program field; step 1 when no visible column has it), and a press of the sustain
// pedal writes a rest there. Either way the focus then moves to the next visible step's chord
// field, wrapping, so the next chord goes there. While the engine plays, the input is left
// alone. Owned by the main window; window thread only.
class StepRecorder {
public:
    StepRecorder(SetupController& controller, MainPanel& panel, const Player& player);

    void setEnabled(bool on);
    bool isEnabled() const { return enabled_; }
    void onMessage(const ChannelMessage& message);
    // The step (0-based) the next chord or rest goes into.
    int targetStep();

    static constexpr int kSustainPedal = 64;
    static constexpr int kPedalDown = 64;
    static constexpr const char* kPlayingText = "Step Record: stop playback to record";

private:
    void onKey(const ChannelMessage& message);
    void onPedal(bool down);
    void moveFocusOn(int step);
    int visibleSteps() const;

    SetupController& controller_;
    MainPanel& panel_;
    const Player& player_;
    ChordCollector chord_;
    bool enabled_ = false;
    bool pedalDown_ = false;
};
