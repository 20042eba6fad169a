#pragma once

// A real main window for the editing tests: its panel, controller, engine and step clock, with
// a recording synthesizer in place of "MIDI Mapper", no system devices, a private instance bus,
// and keyboard and mouse state the test sets.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QPoint>
#include <QTemporaryDir>

#include "app/MainWindow.h"
#include "core/Setup.h"
#include "core/Step.h"
#include "editing/SetupController.h"
#include "midi/MidiDriver.h"
#include "panels/MainPanel.h"
#include "toolkit/InputState.h"
#include "toolkit/MRect.h"

// Modifier keys held as the test says; the primary button counts as up, so a dial's arrow
// acts at once instead of waiting for a release only the real mouse could give.
class EditingInput : public InputState {
public:
    EditingInput() { InputState::Install(this); }
    ~EditingInput() override { InputState::Install(nullptr); }
    EditingInput(const EditingInput&) = delete;
    EditingInput& operator=(const EditingInput&) = delete;

    bool IsControlHeld() const override { return control; }
    bool IsShiftHeld() const override { return shift; }
    bool IsAltHeld() const override { return alt; }
    bool IsPrimaryButtonHeld() const override { return false; }
    void WaitForPrimaryRelease() override {}

    bool control = false;
    bool shift = false;
    bool alt = false;
};

// Every three-byte message that reached the synthesizer, from whichever thread sent it.
class MidiRecord {
public:
    using Bytes = std::array<std::uint8_t, 3>;

    void Add(const std::uint8_t* bytes) {
        std::lock_guard guard(mutex_);
        messages_.push_back({bytes[0], bytes[1], bytes[2]});
    }
    std::vector<Bytes> Take() {
        std::lock_guard guard(mutex_);
        std::vector<Bytes> taken;
        taken.swap(messages_);
        return taken;
    }
    std::size_t Count() {
        std::lock_guard guard(mutex_);
        return messages_.size();
    }

private:
    std::mutex mutex_;
    std::vector<Bytes> messages_;
};

class RecordingSynth : public MidiDriver {
public:
    explicit RecordingSynth(std::shared_ptr<MidiRecord> record) : record_(std::move(record)) {}
    std::vector<std::string> listDevices() override { return {}; }
    std::unique_ptr<MidiConnection> open(const std::string& device, int occurrence) override;

private:
    std::shared_ptr<MidiRecord> record_;
};

class EditingWindow {
public:
    EditingWindow();
    ~EditingWindow();
    EditingWindow(const EditingWindow&) = delete;
    EditingWindow& operator=(const EditingWindow&) = delete;

    MainWindow& Window() { return *window_; }
    Setup& TheSetup() { return window_->setup(); }
    SetupController& Controller() { return window_->controller(); }
    MainPanel& Panel() { return window_->panel(); }
    Player& Engine() { return window_->player(); }
    MidiRecord& Midi() { return *midi_; }

    // Primary click (press and release) and its halves at the centre of a control's area.
    void Click(const MRect& area);
    void Press(const MRect& area);
    void Release(const MRect& area);
    void SecondaryClick(const MRect& area);
    // Ctrl plus a key, as the keyboard sends it.
    void CtrlKey(int key);

    // Resizes the window to show n columns; the setup then plays n steps per measure.
    void ShowColumns(int n);
    // The step of a measure, and a write to it made as an edit would (under the engine lock),
    // after which the columns show the selected measure again.
    Step& StepOf(int measure, int step);
    void WriteStep(int measure, int step, const Step& value);
    void Reload();
    std::string Status();

private:
    QTemporaryDir busFolder_;
    std::shared_ptr<MidiRecord> midi_;
    std::unique_ptr<MainWindow> window_;
};

inline QPoint CentreOf(const MRect& area) {
    return QPoint((area.left + area.right) / 2, (area.top + area.bottom) / 2);
}

// A step with the given values and chord.
Step MakeStep(int on, std::initializer_list<std::int32_t> notes, int program, int velocity,
              int pan, int duration);
// A step's values as a comparable tuple, chord included.
struct StepValues {
    int on;
    std::vector<std::int32_t> notes;
    int program;
    int velocity;
    int pan;
    int duration;
    bool operator==(const StepValues&) const = default;
};
StepValues ValuesOf(const Step& step);
std::vector<StepValues> ValuesOf(const Measure& measure);
void PrintTo(const StepValues& values, std::ostream* out);
