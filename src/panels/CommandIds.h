#pragma once

// Menu and accelerator command ids. Fixed numbers: the menus, the accelerator table and the
// command routing share them.
namespace CommandIds {

constexpr int ID_OPEN_SETUP = 21001;
constexpr int ID_SAVE_SETUP = 21002;
constexpr int ID_SAVE_SETUP_AS = 21003;
constexpr int ID_EXIT = 21004;
constexpr int ID_EXPORT_MIDI = 21005;
constexpr int ID_EXPORT_AUDIO = 21006;
constexpr int ID_UNDO = 22001;
constexpr int ID_COPY_MEASURE = 22002;
constexpr int ID_PASTE_MEASURE = 22003;
constexpr int ID_SHIFT_LEFT = 22004;
constexpr int ID_SHIFT_RIGHT = 22005;
constexpr int ID_SAMPLES_PER_MEASURE = 23003;
constexpr int ID_BEATS_PER_MINUTE = 23004;
constexpr int ID_RANDOMIZE = 23005;
constexpr int ID_KILL_ALL_SOUND = 23006;
constexpr int ID_POLYPHONIC = 23007;
constexpr int ID_MUTE_COMMAND = 23008;
constexpr int ID_USE_HIGH_RES_TIMER = 32771;
constexpr int ID_PASTE_VISIBLE = 32772;
constexpr int ID_EXPAND_VISIBLE = 32773;
constexpr int ID_CHANGE_COLOR = 32775;
constexpr int ID_CHANNEL_BASE = 32776;  // channel n (1..16) is 32776 + n
constexpr int ID_ABOUT = 32795;
constexpr int ID_ABLETON_LINK = 32796;
constexpr int ID_SEND_MIDI_CLOCK = 32797;
constexpr int ID_JACK_TRANSPORT = 32798;
constexpr int ID_FOLLOW_MIDI_CLOCK = 32799;
constexpr int ID_PORT_BASE = 900;  // port index i is 900 + i
constexpr int ID_INPUT_BASE = 1100;  // input source i is 1100 + i
constexpr int ID_INPUT_NONE = 1199;
constexpr int ID_PORT_MAPPER = 999;
constexpr int ID_PROGRAM_NONE = 37999;
constexpr int ID_PROGRAM_BASE = 38000;  // program p is 38000 + p
constexpr int ID_MIDI_LEARN = 32800;
constexpr int ID_CLEAR_MIDI_LEARN = 32801;
constexpr int ID_TRANSPOSE_FROM_INPUT = 32802;
constexpr int ID_STEP_RECORD = 32803;

}  // namespace CommandIds
