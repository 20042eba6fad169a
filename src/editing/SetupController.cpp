#include "editing/SetupController.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "core/Player.h"
#include "core/Random.h"
#include "core/Saturate.h"
#include "core/Setup.h"
#include "core/StepValue.h"
#include "core/TextFormat.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "panels/PanelIds.h"
#include "toolkit/InputState.h"

using namespace PanelIds;

namespace {

constexpr int kOn = static_cast<int>(StepValue::On);
constexpr int kRoot = static_cast<int>(StepValue::Root);
constexpr int kProgram = static_cast<int>(StepValue::Program);
constexpr int kVelocity = static_cast<int>(StepValue::Velocity);
constexpr int kPan = static_cast<int>(StepValue::Pan);
constexpr int kDuration = static_cast<int>(StepValue::Duration);
constexpr int kCentrePan = 64;
constexpr int kDefaultVolume = 80;
constexpr int kLastColumnId = ID_COLUMN0 + kColumnIdStride * kColumnCount;  // exclusive
// A column's parts lie within 70 of its id (the six value ids plus their part offsets).
constexpr int kColumnPartSpan = 70;

bool inRange(int id, int first, int last) { return id >= first && id <= last; }

bool isColumnPart(int id) {
    return id >= ID_COLUMN0 && id < kLastColumnId && (id - ID_COLUMN0) % kColumnIdStride <= kColumnPartSpan;
}

int columnOf(int id) { return (id - ID_COLUMN0) / kColumnIdStride; }

int valueIdOf(int id) { return (id - ID_COLUMN0) % kColumnIdStride / 10 * 10; }

bool isLoopSelector(int id) { return inRange(id, ID_LOOPS, ID_LOOPS_LAST); }

// The values a column part hands back one by one; the chord (Root) goes as a whole list.
bool isWrittenBack(int valueId) {
    return valueId == kOn || valueId == kProgram || valueId == kVelocity || valueId == kPan ||
           valueId == kDuration;
}

bool isColumnIndex(int column) { return column >= 0 && column < kColumnCount; }

bool isMeasureIndex(int measure) { return measure >= 0 && measure < Setup::kMeasureCount; }

}  // namespace

void SetupController::Attach(MainPanel& panel, Setup& setup, Player& player) {
    panel_ = &panel;
    setup_ = &setup;
    player_ = &player;
    LoadMeasureIntoColumns(0);
}

MStepColumn& SetupController::Column(int index) { return panel_->Column(index); }

std::array<Step, Measure::kStepCount>& SetupController::SelectedSteps() {
    return setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)].steps;
}

int SetupController::VisibleStepCount() const {
    // A setup file may carry any count; the spread never reaches past the sixteenth step.
    return std::clamp(setup_->stepsPerMeasure, 0, Measure::kStepCount);
}

bool SetupController::IsShiftHeld() const {
    return !modifiersIgnored_ && InputState::Current().IsShiftHeld();
}

bool SetupController::IsAltHeld() const {
    return !modifiersIgnored_ && InputState::Current().IsAltHeld();
}

void SetupController::ShowValue(int value) { panel_->ShowStatus(TextFormat::formatInt(value)); }

// ---- Step columns --------------------------------------------------------------------------

void SetupController::WriteBackValue(int column, int valueId) {
    if (!isColumnIndex(column) || !isWrittenBack(valueId)) {
        return;  // a column's own id or a gap between its parts: no value to copy
    }
    auto& steps = SelectedSteps();
    const int oldValue = steps[static_cast<std::size_t>(column)].getStepValue(valueId);
    const int newValue = Column(column).GetValue(valueId);
    const int delta = newValue - oldValue;

    // The other visible steps' new values go through their columns first (which clamp them to
    // the control's range), then every step is written under one hold of the engine lock, so
    // the clock thread never plays a half-spread edit.
    std::array<int, Measure::kStepCount> targets{};
    std::array<bool, Measure::kStepCount> spread{};
    if (IsShiftHeld()) {
        const bool setAll = IsAltHeld();
        for (int i = 0; i < VisibleStepCount(); ++i) {
            if (i == column) {
                continue;
            }
            const auto index = static_cast<std::size_t>(i);
            if (setAll) {
                targets[index] = newValue;
                Column(i).SetValue(valueId, newValue);
            } else {
                const int current = steps[index].getStepValue(valueId);
                // Spreading an on/off change inverts every other step, whatever the edit was.
                const int wanted = valueId == kOn ? (current == 0 ? 1 : 0) : current + delta;
                Column(i).SetValue(valueId, wanted);
                targets[index] = Column(i).GetValue(valueId);
            }
            spread[index] = true;
        }
    }
    {
        std::lock_guard guard(player_->engineLock());
        steps[static_cast<std::size_t>(column)].setStepValue(valueId, newValue);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (spread[i]) {
                steps[i].setStepValue(valueId, targets[i]);
            }
        }
    }
    ShowValue(newValue);
    setup_->dirty = true;
}

void SetupController::WriteBackNotes(int column) {
    if (!isColumnIndex(column)) {
        return;
    }
    auto& steps = SelectedSteps();
    const bool spreadOut = IsShiftHeld();
    const bool setAll = spreadOut && IsAltHeld();
    const bool moveOthers = spreadOut && !setAll;
    const int visible = VisibleStepCount();
    // notesForDisplay gives an empty chord its single 0 first, a change the clock thread must
    // see whole: the roots are read under the lock. Only the steps a spread moves are asked,
    // so that a silent step elsewhere stays silent.
    std::array<int, Measure::kStepCount> roots{};
    {
        std::lock_guard guard(player_->engineLock());
        for (int i = 0; i < Measure::kStepCount; ++i) {
            if (i == column || (moveOthers && i < visible)) {
                roots[static_cast<std::size_t>(i)] =
                    steps[static_cast<std::size_t>(i)].notesForDisplay()[0];
            }
        }
    }
    const IntArray newNotes = Column(column).GetNotes();
    const int newRoot = newNotes.empty() ? 0 : newNotes[0];
    // A root read from a file may lie anywhere in the 32-bit range: the change is taken in
    // 64 bits, and each moved root is held within the range before the column clamps it.
    const std::int64_t delta = std::int64_t{newRoot} - roots[static_cast<std::size_t>(column)];

    std::array<IntArray, Measure::kStepCount> chords;
    std::array<bool, Measure::kStepCount> spread{};
    if (spreadOut) {
        for (int i = 0; i < visible; ++i) {
            if (i == column) {
                continue;
            }
            const auto index = static_cast<std::size_t>(i);
            if (setAll) {
                Column(i).SetNotes(newNotes);
                chords[index] = newNotes;
            } else {
                // The column moves its chord note by note, each clamped to the note range.
                Column(i).SetRoot(saturateToInt32(roots[index] + delta));
                chords[index] = Column(i).GetNotes();
            }
            spread[index] = true;
        }
    }
    {
        std::lock_guard guard(player_->engineLock());
        steps[static_cast<std::size_t>(column)].setNotes(newNotes);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (spread[i]) {
                steps[i].setNotes(chords[i]);
            }
        }
    }
    setup_->dirty = true;
}

void SetupController::LoadMeasureIntoColumns(int measureIndex) {
    if (!isMeasureIndex(measureIndex)) {
        return;
    }
    Measure& measure = setup_->measures[static_cast<std::size_t>(measureIndex)];
    for (int i = 0; i < kColumnCount; ++i) {
        MStepColumn& column = Column(i);
        Step& step = measure.steps[static_cast<std::size_t>(i)];
        const bool hidden = !column.IsVisible();
        if (hidden) {
            column.SetRedraw(false);
        }
        IntArray notes;
        {
            std::lock_guard guard(player_->engineLock());
            notes = step.notesForDisplay();
        }
        column.SetValue(kOn, step.on != 0 ? 1 : 0);
        column.SetNotes(notes);
        for (const StepValue id :
             {StepValue::Program, StepValue::Velocity, StepValue::Pan, StepValue::Duration}) {
            column.SetValue(static_cast<int>(id), step.getStepValue(id));
        }
        if (hidden) {
            column.SetRedraw(true);
        }
    }
}

void SetupController::SelectMeasure(int measureIndex) {
    measureIndex = std::clamp(measureIndex, 0, Setup::kMeasureCount - 1);
    {
        std::lock_guard guard(player_->engineLock());
        setup_->selectedMeasure = static_cast<std::int16_t>(measureIndex);
    }
    panel_->LoopGroup().Select(measureIndex);
    LoadMeasureIntoColumns(measureIndex);
    panel_->LayoutColumns();
}

// ---- Edit commands -------------------------------------------------------------------------

void SetupController::RandomizeMeasure(int measureIndex) {
    if (!isMeasureIndex(measureIndex)) {
        return;
    }
    {
        std::lock_guard guard(player_->engineLock());
        for (Step& step : setup_->measures[static_cast<std::size_t>(measureIndex)].steps) {
            step.setRoot(Random::below(128) - 60);
            step.program = static_cast<std::int16_t>(Random::below(128));
            step.velocity = static_cast<std::int16_t>(Random::below(128));
            step.pan = static_cast<std::int16_t>(Random::below(128));
            step.duration = static_cast<std::int16_t>(Random::below(17));
        }
    }
    LoadMeasureIntoColumns(measureIndex);
}

void SetupController::Randomize() { RandomizeMeasure(setup_->selectedMeasure); }

void SetupController::ShiftSteps(bool right) {
    {
        std::lock_guard guard(player_->engineLock());
        auto& steps = setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)].steps;
        const int n = std::clamp(setup_->stepsPerMeasure, 1, Setup::kMaxStepsPerMeasure);
        if (right) {
            std::rotate(steps.begin(), steps.begin() + (n - 1), steps.begin() + n);
        } else {
            std::rotate(steps.begin(), steps.begin() + 1, steps.begin() + n);
        }
    }
    LoadMeasureIntoColumns(setup_->selectedMeasure);
}

void SetupController::ExpandVisible() {
    const int n = setup_->stepsPerMeasure;
    if (n > Setup::kMaxStepsPerMeasure / 2 || n < 1) {
        return;
    }
    TakeSnapshot();
    {
        std::lock_guard guard(player_->engineLock());
        auto& steps = setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)].steps;
        // Downward, so every step is read before it is overwritten.
        for (int k = n - 1; k >= 0; --k) {
            const Step original = steps[static_cast<std::size_t>(k)];
            steps[static_cast<std::size_t>(2 * k)] = original;
            steps[static_cast<std::size_t>(2 * k + 1)] = original;
            steps[static_cast<std::size_t>(2 * k + 1)].on = 0;
        }
        setup_->stepsPerMeasure = 2 * n;
    }
    panel_->FitWindowToColumns(2 * n);
    LoadMeasureIntoColumns(setup_->selectedMeasure);
}

void SetupController::SetBpm(double bpm) {
    {
        std::lock_guard guard(player_->engineLock());
        setup_->bpm = bpm;
    }
    panel_->TempoDial().SetTempo(bpm);
    // A shared clock hears of it first: the engine's next due time is read from it.
    if (tempoListener_) {
        tempoListener_(bpm);
    }
    if (player_->isRunning()) {
        player_->onTempoChanged();
    }
}

void SetupController::SetVolume(int volume) {
    {
        std::lock_guard guard(player_->engineLock());
        setup_->volume = static_cast<std::int16_t>(volume);
    }
    panel_->VolumeDial().SetValue(volume);
}

void SetupController::SetTranspose(int transpose) {
    {
        std::lock_guard guard(player_->engineLock());
        setup_->transpose = static_cast<std::int16_t>(transpose);
    }
    panel_->TransposeDial().SetValue(transpose);
}

void SetupController::SetTempoEditMode(int mode) {
    if (setup_->tempoEditMode == mode) {
        return;
    }
    setup_->tempoEditMode = static_cast<std::int16_t>(mode);
    panel_->TempoDial().SetMode(mode);
    setup_->dirty = true;
}

void SetupController::TogglePolyphonic() {
    {
        std::lock_guard guard(player_->engineLock());
        setup_->polyphonic = setup_->polyphonic == 0 ? 1 : 0;
    }
    setup_->dirty = true;
}

void SetupController::ToggleMute() {
    {
        std::lock_guard guard(player_->engineLock());
        setup_->mute = setup_->mute == 0 ? 1 : 0;
    }
    panel_->MuteButton().SetState(setup_->mute == 0 ? 1 : 0);
    setup_->dirty = true;
}

void SetupController::KillAllSound() { player_->killAllSound(); }

void SetupController::SetChannel(int channel) {
    {
        std::lock_guard guard(player_->engineLock());
        setup_->port.channel = static_cast<std::int16_t>(std::clamp(channel, 1, 16));
    }
    setup_->dirty = true;
}

void SetupController::ChooseProgram(int column, int program) {
    if (!isColumnIndex(column)) {
        return;
    }
    Column(column).SetValue(kProgram, program);
    WriteBackValue(column, kProgram);
}

void SetupController::RecordStep(int column, const IntArray& notes, int velocity) {
    if (!isColumnIndex(column)) {
        return;
    }
    TakeSnapshot();
    RecordValue(column, kOn, 1);
    modifiersIgnored_ = true;
    Column(column).SetNotes(notes);
    WriteBackNotes(column);
    modifiersIgnored_ = false;
    // Last, so that the status line shows the velocity as after a drag of its bar.
    RecordValue(column, kVelocity, velocity);
}

void SetupController::RecordRest(int column) {
    if (!isColumnIndex(column)) {
        return;
    }
    TakeSnapshot();
    RecordValue(column, kOn, 0);
}

void SetupController::RecordValue(int column, int valueId, int v) {
    modifiersIgnored_ = true;
    Column(column).SetValue(valueId, v);
    WriteBackValue(column, valueId);
    modifiersIgnored_ = false;
}

void SetupController::NewSetup() {
    for (int i = 0; i < Setup::kMeasureCount; ++i) {
        {
            std::lock_guard guard(player_->engineLock());
            Measure& measure = setup_->measures[static_cast<std::size_t>(i)];
            measure.next = static_cast<std::int16_t>(i);
            measure.repeats = 1;
        }
        RandomizeMeasure(i);
    }
    LoadMeasureIntoColumns(setup_->selectedMeasure);
}

// ---- Undo ----------------------------------------------------------------------------------

void SetupController::TakeSnapshot() {
    std::lock_guard guard(player_->engineLock());
    const Measure& measure = setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)];
    setup_->undoMeasure.steps = measure.steps;
    setup_->undoBpm = setup_->bpm;
    setup_->undoVolume = setup_->volume;
    setup_->undoTranspose = setup_->transpose;
    setup_->undoMute = setup_->mute;
    setup_->undoMeasureIndex = setup_->selectedMeasure;
    setup_->dirty = true;
}

void SetupController::Undo() {
    // Before the first snapshot there is nothing to go back to, not even the settings.
    if (setup_->undoMeasureIndex < 0) {
        return;
    }
    if (setup_->undoMeasureIndex == setup_->selectedMeasure) {
        {
            std::lock_guard guard(player_->engineLock());
            auto& steps = setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)].steps;
            const auto earlier = setup_->undoMeasure.steps;
            setup_->undoMeasure.steps = steps;
            steps = earlier;
        }
        LoadMeasureIntoColumns(setup_->selectedMeasure);
    }
    const double bpm = setup_->bpm;
    const int volume = setup_->volume;
    const int transpose = setup_->transpose;
    const int mute = setup_->mute;
    SetBpm(setup_->undoBpm);
    SetVolume(setup_->undoVolume);
    SetTranspose(setup_->undoTranspose);
    panel_->MuteButton().SetState(setup_->undoMute == 0 ? 1 : 0);
    {
        std::lock_guard guard(player_->engineLock());
        setup_->mute = setup_->undoMute;
    }
    setup_->undoBpm = bpm;
    setup_->undoVolume = volume;
    setup_->undoTranspose = transpose;
    setup_->undoMute = mute;
}

// ---- Control events ------------------------------------------------------------------------

void SetupController::OnPressAction(int id) {
    if (id == 0 || id == ID_MENU_FILE || id == ID_MENU_EDIT || id == ID_MENU_MIDI ||
        isLoopSelector(id)) {
        return;
    }
    TakeSnapshot();
}

void SetupController::OnValueChanged(int id) {
    if (isColumnPart(id)) {
        const int column = columnOf(id);
        Column(column).OnChildEvent(id);
        const int valueId = valueIdOf(id);
        if (valueId == kRoot) {
            WriteBackNotes(column);
        } else {
            WriteBackValue(column, valueId);
        }
    } else if (isLoopSelector(id)) {
        if (id == ID_LOOPS) {
            return;  // the group's own id names no loop
        }
        MButtonGroup& group = panel_->LoopGroup();
        const int before = group.GetSelected();
        group.SelectById(id);
        const int selected = group.GetSelected();
        SelectMeasure(selected);
        if (selected != before) {
            setup_->dirty = true;
        }
        // Ctrl: edit another measure while the playing one goes on.
        player_->onMeasureSelected(selected, InputState::Current().IsControlHeld());
    } else if (inRange(id, ID_TEMPO, ID_TEMPO_LAST)) {
        MTempoDial& dial = panel_->TempoDial();
        dial.OnChildEvent(id);
        const double tempo = dial.GetTempo();
        if (tempo != setup_->bpm) {
            setup_->dirty = true;
        }
        {
            std::lock_guard guard(player_->engineLock());
            setup_->bpm = tempo;
        }
        if (player_->isRunning()) {
            player_->onTempoChanged();
        }
        if (tempoListener_) {
            tempoListener_(tempo);
        }
    } else if (inRange(id, ID_VOLUME, ID_VOLUME_LAST)) {
        panel_->VolumeDial().OnChildEvent(id);
        const int volume = panel_->VolumeDial().GetValue();
        {
            std::lock_guard guard(player_->engineLock());
            setup_->volume = static_cast<std::int16_t>(volume);
        }
        setup_->dirty = true;
    } else if (inRange(id, ID_TRANSPOSE, ID_TRANSPOSE_LAST)) {
        panel_->TransposeDial().OnChildEvent(id);
        const int transpose = panel_->TransposeDial().GetValue();
        {
            std::lock_guard guard(player_->engineLock());
            setup_->transpose = static_cast<std::int16_t>(transpose);
        }
        setup_->dirty = true;
    } else if (id == ID_PLAY) {
        if (playListener_) {
            playListener_();
        } else {
            player_->toggle();
        }
    } else if (id == ID_MUTE) {
        const int mute = panel_->MuteButton().GetState() == 0 ? 1 : 0;
        {
            std::lock_guard guard(player_->engineLock());
            setup_->mute = mute;
        }
        setup_->dirty = true;
    } else if (id == ID_MENU_FILE || id == ID_MENU_EDIT || id == ID_MENU_MIDI) {
        if (openMenu_) {
            openMenu_(id);
        }
    }
}

void SetupController::OnSecondaryAction(int id) {
    if (inRange(id, ID_LOOPS + 1, ID_LOOPS_LAST)) {
        panel_->OpenLoopPopup(id - (ID_LOOPS + 1));
    } else if (inRange(id, ID_VOLUME, ID_VOLUME_LAST)) {
        TakeSnapshot();
        SetVolume(kDefaultVolume);
        setup_->dirty = true;
    } else if (inRange(id, ID_TRANSPOSE, ID_TRANSPOSE_LAST)) {
        TakeSnapshot();
        SetTranspose(0);
        setup_->dirty = true;
    } else if (isColumnPart(id) && valueIdOf(id) == kProgram) {
        if (openProgramMenu_) {
            openProgramMenu_(columnOf(id));
        }
    } else if (isColumnPart(id) && valueIdOf(id) == kPan) {
        const int column = columnOf(id);
        TakeSnapshot();
        {
            std::lock_guard guard(player_->engineLock());
            setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)]
                .steps[static_cast<std::size_t>(column)]
                .pan = kCentrePan;
        }
        Column(column).SetValue(kPan, kCentrePan);
        WriteBackValue(column, kPan);
    }
}

bool SetupController::OnCommand(int commandId) {
    using namespace CommandIds;
    switch (commandId) {
        case ID_UNDO:
            Undo();
            return true;
        case ID_RANDOMIZE:
            TakeSnapshot();
            Randomize();
            setup_->dirty = true;
            return true;
        case ID_SHIFT_RIGHT:
        case ID_SHIFT_LEFT:
            ShiftSteps(commandId == ID_SHIFT_RIGHT);
            setup_->dirty = true;
            return true;
        case ID_EXPAND_VISIBLE:
            if (setup_->stepsPerMeasure <= Setup::kMaxStepsPerMeasure / 2) {
                ExpandVisible();
                setup_->dirty = true;
            }
            return true;
        case ID_SAMPLES_PER_MEASURE:
            SetTempoEditMode(1);
            return true;
        case ID_BEATS_PER_MINUTE:
            SetTempoEditMode(0);
            return true;
        case ID_POLYPHONIC:
            TogglePolyphonic();
            return true;
        case ID_MUTE_COMMAND:
            ToggleMute();
            return true;
        case ID_KILL_ALL_SOUND:
            KillAllSound();
            return true;
        default:
            break;
    }
    if (commandId > ID_CHANNEL_BASE && commandId <= ID_CHANNEL_BASE + 16) {
        SetChannel(commandId - ID_CHANNEL_BASE);
        return true;
    }
    return false;
}
