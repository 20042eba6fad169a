#include "panels/MainPanelNaming.h"

#include "core/Setup.h"
#include "core/StepValue.h"
#include "core/TextFormat.h"
#include "panels/ControlTips.h"
#include "panels/MainPanel.h"
#include "panels/PanelIds.h"

using namespace PanelIds;

namespace {

// A dial's parts: arrows at +1 and +2, the field at +3 and the bar at +4; field and bar
// stand for the value itself and carry the dial's name.
constexpr int kUpArrow = 1;
constexpr int kDownArrow = 2;
constexpr int kField = 3;
constexpr int kBar = 4;
constexpr int kPartSpan = 10;

bool inRange(int id, int first, int last) {
    return id >= first && id <= last;
}

bool isColumnPart(int id) {
    return inRange(id, ID_COLUMN0, columnId(kColumnCount) - 1);
}

// "Volume", "Volume up", "Volume down" for a dial whose value shows in `valuePart`.
std::string DialPartName(const std::string& dial, int part, int valuePart) {
    if (part == kUpArrow) {
        return dial + " up";
    }
    if (part == kDownArrow) {
        return dial + " down";
    }
    return part == valuePart ? dial : std::string();
}

}  // namespace

std::string MainPanelNaming::ColumnPartName(int column, int part) const {
    const std::string step = "Step " + TextFormat::formatInt(column + 1);
    const int sub = part % kPartSpan;
    switch (static_cast<StepValue>(part - sub)) {
        case StepValue::On:
            return sub == 0 ? step + " on" : std::string();
        case StepValue::Root:
            return DialPartName(step + " chord", sub, kField);
        case StepValue::Program:
            return DialPartName(step + " program", sub, kField);
        case StepValue::Velocity:
            return DialPartName(step + " velocity", sub, kBar);
        case StepValue::Pan:
            return DialPartName(step + " pan", sub, kBar);
        case StepValue::Duration:
            return DialPartName(step + " duration", sub, kBar);
    }
    return part == 0 ? step : std::string();
}

std::string MainPanelNaming::Name(int id) {
    switch (id) {
        case ID_STATUS:
            return "Status";
        case ID_PLAY:
            return "Play";
        case ID_MUTE:
            return "Sound on";
        case ID_MENU_FILE:
            return "File";
        case ID_MENU_EDIT:
            return "Edit";
        case ID_MENU_MIDI:
            return "MIDI";
        default:
            break;
    }
    if (inRange(id, ID_TEMPO, ID_TEMPO_LAST)) {
        // The dial itself is the slider; its field is where a tempo is typed.
        return id == ID_TEMPO + kField ? "Tempo field" : DialPartName("Tempo", id - ID_TEMPO, 0);
    }
    if (inRange(id, ID_VOLUME, ID_VOLUME_LAST)) {
        return DialPartName("Volume", id - ID_VOLUME, kBar);
    }
    if (inRange(id, ID_TRANSPOSE, ID_TRANSPOSE_LAST)) {
        return DialPartName("Transpose", id - ID_TRANSPOSE, kBar);
    }
    if (inRange(id, ID_LOOPS + 1, ID_LOOPS_LAST)) {
        return "Loop " + TextFormat::formatInt(id - ID_LOOPS);
    }
    if (isColumnPart(id)) {
        return ColumnPartName((id - ID_COLUMN0) / kColumnIdStride,
                              (id - ID_COLUMN0) % kColumnIdStride);
    }
    return {};
}

std::string MainPanelNaming::Description(int id) {
    if (id == ID_PLAY) {
        return ControlTips::ForMainWindow(panel_, setup_, id) +
               (panel_.PlayButton().GetState() != 0 ? ", playing" : ", stopped");
    }
    if (inRange(id, ID_LOOPS + 1, ID_LOOPS_LAST)) {
        const bool playing = panel_.LoopGroup().GetHighlighted() == id - ID_LOOPS - 1;
        return ControlTips::ForMainWindow(panel_, setup_, id) + (playing ? ", playing" : "");
    }
    if (isColumnPart(id) && (id - ID_COLUMN0) % kColumnIdStride == 0) {
        const int column = (id - ID_COLUMN0) / kColumnIdStride;
        return panel_.Column(column).IsHighlighted() ? "Playing" : "";
    }
    return ControlTips::ForMainWindow(panel_, setup_, id);
}

QAccessible::Role MainPanelNaming::Role(int id, QAccessible::Role standard) {
    // The play toggle starts and stops: a push button that shows pressed while playing.
    return id == ID_PLAY ? QAccessible::Button : standard;
}

std::vector<std::string> MainPanelNaming::ExtraActions(int id) {
    if (inRange(id, ID_LOOPS + 1, ID_LOOPS_LAST)) {
        return {kLoopPanelAction};
    }
    const int part = (id - ID_COLUMN0) % kColumnIdStride;
    if (isColumnPart(id) && part - part % kPartSpan == static_cast<int>(StepValue::Program)) {
        return {kProgramMenuAction};
    }
    return {};
}

void MainPanelNaming::DoExtraAction(int id, const std::string& action) {
    if (action == kLoopPanelAction && inRange(id, ID_LOOPS + 1, ID_LOOPS_LAST)) {
        panel_.OpenLoopPopup(id - ID_LOOPS - 1);
    } else if (action == kProgramMenuAction && isColumnPart(id)) {
        panel_.OpenProgramMenu((id - ID_COLUMN0) / kColumnIdStride);
    }
}
