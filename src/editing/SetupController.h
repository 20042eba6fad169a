#pragma once

#include <array>
#include <functional>

#include "core/Measure.h"

class IntArray;
class MainPanel;
class MStepColumn;
class Player;
class Setup;

// The one object that applies the user's edits to the setup: it copies what the controls
// show into the steps (spread over the visible steps while Shift is held), loads a measure
// into the step columns, carries the edit commands, keeps the single-level undo, and decodes
// every control event of the main window. Owned by the main window; window thread only.
// Every change of the playing data is made under the engine lock.
class SetupController {
public:
    SetupController() = default;
    SetupController(const SetupController&) = delete;
    SetupController& operator=(const SetupController&) = delete;
    virtual ~SetupController() = default;

    void Attach(MainPanel& panel, Setup& setup, Player& player);
    bool IsAttached() const { return setup_ != nullptr; }

    // Edits from the step columns.
    void WriteBackValue(int column, int valueId);
    void WriteBackNotes(int column);
    void LoadMeasureIntoColumns(int measure);
    void SelectMeasure(int measure);

    // Edit commands.
    void RandomizeMeasure(int measure);
    void Randomize();
    void ShiftSteps(bool right);
    // Doubles the visible steps, each followed by a silent copy; nothing above 8 steps.
    void ExpandVisible();
    void SetBpm(double bpm);
    // Told of every tempo set here (dial, typed, arrows, undo, a setup read), so that a shared
    // session can follow; a tempo that came from the session itself does not pass through here.
    // The play button: whoever owns the engine's time starts and stops it; unset, the player
    // toggles itself.
    void SetPlayListener(std::function<void()> listener) { playListener_ = std::move(listener); }
    void SetTempoListener(std::function<void(double bpm)> listener) {
        tempoListener_ = std::move(listener);
    }
    void SetVolume(int volume);
    void SetTranspose(int transpose);
    void SetTempoEditMode(int mode);
    void TogglePolyphonic();
    void ToggleMute();
    void KillAllSound();
    void SetChannel(int channel);
    // A program chosen from the General MIDI menu for a column (-1: no program change).
    void ChooseProgram(int column, int program);
    // A step played on a MIDI keyboard (step recording): the column takes the chord and the
    // velocity and the step turns on; a rest turns it off. Each is one edit for undo, written
    // back as the column's own edits are, but never spread: a key held on the computer
    // keyboard meanwhile is no Shift meant for it.
    void RecordStep(int column, const IntArray& notes, int velocity);
    void RecordRest(int column);

    // A fresh random pattern in every measure, each looping on itself once.
    void NewSetup();

    // Undo: one snapshot of the selected measure and four settings, exchanged by Undo.
    void TakeSnapshot();
    void Undo();

    // Control events of the main window, by control id.
    void OnPressAction(int id);
    void OnValueChanged(int id);
    void OnSecondaryAction(int id);
    // The edit and MIDI menu commands this object carries; false for any other id.
    bool OnCommand(int commandId);

    // What the menu bar buttons and a column's program control open (the menus).
    void setMenuOpener(std::function<void(int buttonId)> opener) { openMenu_ = std::move(opener); }
    void setProgramMenuOpener(std::function<void(int column)> opener) {
        openProgramMenu_ = std::move(opener);
    }

private:
    MStepColumn& Column(int index);
    std::array<Step, Measure::kStepCount>& SelectedSteps();
    // stepsPerMeasure, kept within the sixteen steps a measure has.
    int VisibleStepCount() const;
    bool IsShiftHeld() const;
    bool IsAltHeld() const;
    void ShowValue(int value);
    // Writes value valueId of the column, shown as v, back into its step alone.
    void RecordValue(int column, int valueId, int v);

    MainPanel* panel_ = nullptr;
    Setup* setup_ = nullptr;
    Player* player_ = nullptr;
    std::function<void(double bpm)> tempoListener_;
    std::function<void()> playListener_;
    std::function<void(int)> openMenu_;
    std::function<void(int)> openProgramMenu_;
    // Set while a recorded step is written back: Shift and Alt count as up.
    bool modifiersIgnored_ = false;
};
