#pragma once

// Control ids of the main window and the loop popup. The values are fixed: the edit dispatch
// decodes them (a step column's parts add a StepValue id and a part offset to the column id).
namespace PanelIds {

constexpr int ID_STATUS = 3;
constexpr int ID_PLAY = 1000;
constexpr int ID_MUTE = 1001;
constexpr int ID_MENU_FILE = 1002;
constexpr int ID_MENU_EDIT = 1003;
constexpr int ID_MENU_MIDI = 1004;
constexpr int ID_TEMPO = 1005;
constexpr int ID_TEMPO_LAST = 1010;
constexpr int ID_NEXT_MEASURE = 1020;
constexpr int ID_NEXT_MEASURE_LAST = 1025;
constexpr int ID_REPEATS = 1040;
constexpr int ID_REPEATS_LAST = 1045;
constexpr int ID_VOLUME = 1050;
constexpr int ID_VOLUME_LAST = 1055;
constexpr int ID_TRANSPOSE = 1060;
constexpr int ID_TRANSPOSE_LAST = 1065;
constexpr int ID_COLUMN0 = 10000;
constexpr int kColumnIdStride = 100;
constexpr int kColumnCount = 16;
constexpr int ID_LOOPS = 20000;
constexpr int ID_LOOPS_LAST = 20008;

constexpr int columnId(int column) { return ID_COLUMN0 + kColumnIdStride * column; }

// Main window geometry, in logical pixels.
constexpr int kClientWidthMax = 707;
constexpr int kClientWidthMin = 133;
constexpr int kClientHeight = 166;
constexpr int kClientHeightDiagnostic = 179;
constexpr int kFirstColumnX = 94;
constexpr int kColumnPitch = 38;

// Columns that fit a client area of this width: (width - 94) / 38, kept within 1..16.
constexpr int columnsForWidth(int clientWidth) {
    const int n = (clientWidth - kFirstColumnX) / kColumnPitch;
    return n < 1 ? 1 : (n > kColumnCount ? kColumnCount : n);
}
// The client width that shows exactly n columns.
constexpr int widthForColumns(int n) { return kColumnPitch * n + 99; }

}  // namespace PanelIds
