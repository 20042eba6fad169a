#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/MidiBindings.h"
#include "toolkit/MRect.h"

class ControlHost;
class MainPanel;
class Player;
class Setup;
class SetupController;
struct ChannelMessage;

// MIDI learn and the remote control it sets up: while learning, a click chooses a control of
// the main window and the next Note On or Control Change at the input is bound to it; from then
// on that message works the control the way its key or the mouse does. The bindings live in
// the preferences. Owned by the main window; window thread only.
class RemoteControl {
public:
    // What only the window can do: Space and Ctrl+Space, which also decide who starts.
    struct Actions {
        std::function<void()> togglePlay;
        std::function<void()> togglePlayAlone;
        // The chosen control or the learning state changed: the outline is drawn again.
        std::function<void()> repaint;
    };

    RemoteControl(MainPanel& panel, SetupController& controller, Setup& setup, Player& player,
                  Actions actions);

    // The bindings from the preferences; each line that cannot be read is skipped with a
    // message on stderr.
    void load();
    // A message from the input: true when learning or a binding used it up.
    bool handle(const ChannelMessage& message);

    bool learning() const { return learning_; }
    void setLearning(bool on);
    // A click while learning, on the control with this id (0: none), Ctrl held or not: the
    // control it names becomes the one the next message is bound to. False for the menu
    // buttons, whose clicks go on as usual so that the menu can end learning.
    bool choose(int controlId, bool controlHeld);
    RemoteTarget chosen() const { return chosen_; }
    // "Clear MIDI Learn": every binding goes, also from the preferences.
    void clear();

    // What a bound control's tooltip adds ("MIDI: note 1 36"); empty for an unbound one.
    std::string tipFor(int controlId) const;
    // The area the chosen control covers in host's client area; empty when none is chosen.
    MRect chosenArea(ControlHost* host) const;

    // The target a click on this control names; the play button with Ctrl is "play alone".
    static RemoteTarget targetOfControl(int controlId, bool controlHeld);
    // The value a controller (or a note's velocity) 0..127 sets over [low, high].
    static int scaled(int value, int low, int high);

    // A controller's tempo span: the dial's own range (0.5 to ten million BPM) is more than a
    // knob can cover, so 0..127 is 40..294 BPM, two BPM a step.
    static constexpr int kLowestTempo = 40;
    static constexpr int kTempoStep = 2;

private:
    void learn(const MidiTrigger& trigger);
    void act(RemoteTarget target, const ChannelMessage& message);
    void setToggle(bool isOn, bool wantedOn, bool isNote, const std::function<void()>& toggle);
    void toggleMute();
    void selectLoop(int index);
    void setDial(RemoteTarget target, int value, std::int64_t heardUs);
    void save() const;
    void showStatus(const std::string& text);

    MainPanel& panel_;
    SetupController& controller_;
    Setup& setup_;
    Player& player_;
    Actions actions_;
    MidiBindings bindings_;
    bool learning_ = false;
    RemoteTarget chosen_ = RemoteTarget::None;
    // A turn of one knob is one edit for undo, as one drag of its dial is: messages of one
    // dial less than this apart take no new undo snapshot.
    static constexpr std::int64_t kGestureGapUs = 1000000;
    RemoteTarget lastDial_ = RemoteTarget::None;
    std::int64_t lastDialUs_ = 0;
};
