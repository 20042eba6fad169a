#include "panels/ControlTips.h"

#include "core/Setup.h"
#include "core/StepValue.h"
#include "core/TextFormat.h"
#include "panels/LoopPopup.h"
#include "panels/MainPanel.h"
#include "panels/MenuTables.h"
#include "panels/PanelIds.h"
#include "toolkit/MNoteListDial.h"

using namespace PanelIds;

namespace {

// Every dial part (arrows, field, bar) is named after its dial: id .. id + 9.
constexpr int kPartSpan = 10;

bool inRange(int id, int first, int last) {
    return id >= first && id <= last;
}

std::string times(int count) {
    return TextFormat::formatInt(count) + (count == 1 ? " time" : " times");
}

std::string signedNumber(int v) {
    return (v > 0 ? "+" : "") + TextFormat::formatInt(v);
}

std::string forColumn(MStepColumn& column, int columnNumber, int part) {
    const std::string step = "Step " + TextFormat::formatInt(columnNumber);
    const int value = part - part % kPartSpan;
    switch (static_cast<StepValue>(value)) {
        case StepValue::On:
            return step + (column.GetOnOff().GetState() != 0 ? " on" : " off");
        case StepValue::Root:
            return ControlTips::Chord(column.GetNotes());
        case StepValue::Program:
            return ControlTips::Program(column.GetProgramDial().GetValue());
        case StepValue::Velocity:
            return ControlTips::Velocity(column.GetVelocityDial().GetValue());
        case StepValue::Pan:
            return ControlTips::Pan(column.GetPanDial().GetValue());
        case StepValue::Duration:
            return ControlTips::Duration(column.GetDurationDial().GetValue());
    }
    // The column's label and frame.
    return step;
}

}  // namespace

namespace ControlTips {

std::string Velocity(int velocity) {
    return "Velocity " + TextFormat::formatInt(velocity);
}

std::string Pan(int pan) {
    constexpr int kCentre = 64;
    const char* side = pan == kCentre ? " (centre)" : (pan < kCentre ? " (left)" : " (right)");
    return "Pan " + TextFormat::formatInt(pan) + side;
}

std::string Duration(int duration) {
    // 17 and above are never released by counting: the next note on the channel ends them.
    constexpr int kHeld = 17;
    if (duration >= kHeld) {
        return "Duration: to the next note";
    }
    if (duration <= 0) {
        return "Duration: released at once";
    }
    return "Duration " + TextFormat::formatInt(duration) + (duration == 1 ? " step" : " steps");
}

std::string Program(int program) {
    const std::string name = MenuTables::ProgramName(program);
    if (name.empty()) {
        return "Program: none (no program change)";
    }
    return "Program " + TextFormat::formatInt(program) + ": " + name;
}

std::string Chord(const IntArray& notes) {
    const int root = notes.empty() ? 0 : notes[0];
    return "Chord " + MNoteListDial::FormatNotes(notes) + " (root " + (root >= 0 ? "+" : "") +
           TextFormat::formatInt(root) + ")";
}

std::string Transpose(int transpose) {
    return "Transpose " + signedNumber(transpose);
}

std::string Volume(int volume) {
    return "Volume " + TextFormat::formatInt(volume);
}

std::string Tempo(const std::string& shown, int mode) {
    return "Tempo " + shown + (mode == 1 ? " samples per measure" : " BPM");
}

std::string Loop(int measure, int repeats, int next) {
    return "Loop " + TextFormat::formatInt(measure + 1) + ": plays " + times(repeats) +
           ", then loop " + TextFormat::formatInt(next + 1);
}

std::string ForMainWindow(MainPanel& panel, const Setup& setup, int id) {
    if (id == ID_PLAY) {
        return "Play / stop (Space)";
    }
    if (id == ID_MUTE) {
        return panel.MuteButton().GetState() != 0 ? "Sound on (mute: Ctrl+M)"
                                                  : "Muted (sound on: Ctrl+M)";
    }
    if (id == ID_MENU_FILE) {
        return "File menu";
    }
    if (id == ID_MENU_EDIT) {
        return "Edit menu";
    }
    if (id == ID_MENU_MIDI) {
        return "MIDI menu";
    }
    if (id == ID_STATUS) {
        return "Last value written: " + panel.StatusLine().GetText();
    }
    if (inRange(id, ID_TEMPO, ID_TEMPO_LAST)) {
        return Tempo(panel.TempoDial().GetDisplay(), panel.TempoDial().GetMode());
    }
    if (inRange(id, ID_VOLUME, ID_VOLUME_LAST)) {
        return Volume(panel.VolumeDial().GetValue());
    }
    if (inRange(id, ID_TRANSPOSE, ID_TRANSPOSE_LAST)) {
        return Transpose(panel.TransposeDial().GetValue());
    }
    if (inRange(id, ID_LOOPS + 1, ID_LOOPS + Setup::kMeasureCount)) {
        const int m = id - ID_LOOPS - 1;
        const Measure& measure = setup.measures[static_cast<std::size_t>(m)];
        return Loop(m, measure.repeats, measure.next);
    }
    if (inRange(id, ID_COLUMN0, columnId(kColumnCount) - 1)) {
        const int column = (id - ID_COLUMN0) / kColumnIdStride;
        return forColumn(panel.Column(column), column + 1, (id - ID_COLUMN0) % kColumnIdStride);
    }
    return {};
}

std::string ForLoopPopup(LoopPopup& popup, int id) {
    if (inRange(id, ID_NEXT_MEASURE, ID_NEXT_MEASURE_LAST)) {
        return "Next: loop " + TextFormat::formatInt(popup.NextDial().GetValue());
    }
    if (inRange(id, ID_REPEATS, ID_REPEATS_LAST)) {
        return "Repeats: plays " + times(popup.RepeatsDial().GetValue());
    }
    return {};
}

}  // namespace ControlTips
