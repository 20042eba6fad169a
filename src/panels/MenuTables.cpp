#include "panels/MenuTables.h"

#include <QAction>
#include <QMenu>
#include <array>
#include <cstdio>

#include "panels/CommandIds.h"

using namespace CommandIds;

namespace {

using Entry = MenuTables::Entry;
using Kind = MenuTables::Entry::Kind;

constexpr Entry item(int id, const char* text) {
    return Entry{Kind::Item, id, text, {}};
}
constexpr Entry separator() {
    return Entry{Kind::Separator, 0, "", {}};
}

const std::array<Entry, 11> kFile = {{
    item(ID_OPEN_SETUP, "&Open Setup...\tCtrl+O"),
    separator(),
    item(ID_SAVE_SETUP, "&Save Setup\tCtrl+S"),
    item(ID_SAVE_SETUP_AS, "Save Setup &As..."),
    item(ID_EXPORT_MIDI, "Export &MIDI File..."),
    item(ID_EXPORT_AUDIO, "Export &Audio..."),
    separator(),
    item(ID_CHANGE_COLOR, "&Change Color\tF12"),
    item(ID_ABOUT, "About qov ..."),
    separator(),
    item(ID_EXIT, "E&xit This Program\tCtrl+Q"),
}};

const std::array<Entry, 8> kEdit = {{
    item(ID_UNDO, "&Undo\tCtrl+Z"),
    separator(),
    item(ID_COPY_MEASURE, "&Copy Measure\tCtrl+C"),
    item(ID_PASTE_MEASURE, "&Paste Measure\tCtrl+V"),
    item(ID_PASTE_VISIBLE, "&Paste Visible\tCtrl+Shift+V"),
    separator(),
    item(ID_SHIFT_RIGHT, "Shift &Right\tCtrl+Right"),
    item(ID_SHIFT_LEFT, "Shift &Left\tCtrl+Left"),
}};

// The output ports are inserted above "MIDI Mapper" each time the menu opens.
const std::array<Entry, 1> kPorts = {{item(ID_PORT_MAPPER, "MIDI Mapper")}};
// The input sources are inserted below "None" each time the menu opens.
const std::array<Entry, 1> kInputs = {{item(ID_INPUT_NONE, "None")}};

const std::array<Entry, 16> kChannels = {{
    item(ID_CHANNEL_BASE + 1, "01"),
    item(ID_CHANNEL_BASE + 2, "02"),
    item(ID_CHANNEL_BASE + 3, "03"),
    item(ID_CHANNEL_BASE + 4, "04"),
    item(ID_CHANNEL_BASE + 5, "05"),
    item(ID_CHANNEL_BASE + 6, "06"),
    item(ID_CHANNEL_BASE + 7, "07"),
    item(ID_CHANNEL_BASE + 8, "08"),
    item(ID_CHANNEL_BASE + 9, "09"),
    item(ID_CHANNEL_BASE + 10, "10 (GM drums)"),
    item(ID_CHANNEL_BASE + 11, "11"),
    item(ID_CHANNEL_BASE + 12, "12"),
    item(ID_CHANNEL_BASE + 13, "13"),
    item(ID_CHANNEL_BASE + 14, "14"),
    item(ID_CHANNEL_BASE + 15, "15"),
    item(ID_CHANNEL_BASE + 16, "16"),
}};

// Sized by its entries: a declared size larger than the list would add blank items.
const auto kMidi = std::to_array<Entry>({
    Entry{Kind::Submenu, 0, "Select Port", kPorts},
    Entry{Kind::Submenu, 0, "Channel", kChannels},
    item(ID_POLYPHONIC, "Polyphonic\tCtrl+P"),
    item(ID_USE_HIGH_RES_TIMER, "Use High-Res Timer"),
    separator(),
    item(ID_SAMPLES_PER_MEASURE, "Samples Per Measure"),
    item(ID_BEATS_PER_MINUTE, "Beats Per Minute"),
    separator(),
    item(ID_RANDOMIZE, "Randomize\tCtrl+R"),
    item(ID_EXPAND_VISIBLE, "Expand Visible\tCtrl+E"),
    separator(),
    item(ID_MUTE_COMMAND, "Mute\tCtrl+M"),
    item(ID_KILL_ALL_SOUND, "Kill All Sound\tCtrl+K"),
    separator(),
    item(ID_ABLETON_LINK, "Ableton &Link"),
    item(ID_SEND_MIDI_CLOCK, "Send MIDI &Clock"),
    item(ID_JACK_TRANSPORT, "&JACK Transport"),
    Entry{Kind::Submenu, 0, "MIDI &Input", kInputs},
    item(ID_FOLLOW_MIDI_CLOCK, "&Follow MIDI Clock"),
    item(ID_MIDI_LEARN, "MIDI &Learn"),
    item(ID_CLEAR_MIDI_LEARN, "Clear MIDI Learn"),
    item(ID_TRANSPOSE_FROM_INPUT, "&Transpose from Input"),
    item(ID_STEP_RECORD, "Step &Record"),
});

const std::array<const char*, MenuTables::kProgramCount> kProgramNames = {
    "Acoustic Grand Piano",
    "Bright Acoustic Piano",
    "Electric Grand Piano",
    "Honky-tonk Piano",
    "Rhodes Piano",
    "Chorused Piano",
    "Harpsichord",
    "Clavinet",
    "Celesta",
    "Glockenspiel",
    "Music Box",
    "Vibraphone",
    "Marimba",
    "Xylophone",
    "Tubular Bells",
    "Dulcimer",
    "Hammond Organ",
    "Percussive Organ",
    "Rock Organ",
    "Church Organ",
    "Reed Organ",
    "Accordion",
    "Harmonica",
    "Tango Accordion",
    "Acoustic Guitar (nylon)",
    "Acoustic Guitar (steel)",
    "Electric Guitar (jazz)",
    "Electric Guitar (clean)",
    "Electric Guitar (muted)",
    "Overdriven Guitar",
    "Distortion Guitar",
    "Guitar Harmonics",
    "Acoustic Bass",
    "Electric Bass (finger)",
    "Electric Bass (pick)",
    "Fretless Bass",
    "Slap Bass 1",
    "Slap Bass 2",
    "Synth Bass 1",
    "Synth Bass 2",
    "Violin",
    "Viola",
    "Cello",
    "Contrabass",
    "Tremolo Strings",
    "Pizzicato Strings",
    "Orchestral Harp",
    "Timpani",
    "String Ensemble 1",
    "String Ensemble 2",
    "SynthStrings 1",
    "SynthStrings 2",
    "Choir Aahs",
    "Voice Oohs",
    "Synth Voice",
    "Orchestra Hit",
    "Trumpet",
    "Trombone",
    "Tuba",
    "Muted Trumpet",
    "French Horn",
    "Brass Section",
    "Synth Brass 1",
    "Synth Brass 2",
    "Soprano Sax",
    "Alto Sax",
    "Tenor Sax",
    "Baritone Sax",
    "Oboe",
    "English Horn",
    "Bassoon",
    "Clarinet",
    "Piccolo",
    "Flute",
    "Recorder",
    "Pan Flute",
    "Bottle Blow",
    "Shakuhachi",
    "Whistle",
    "Ocarina",
    "Lead 1 (square)",
    "Lead 2 (sawtooth)",
    "Lead 3 (calliope lead)",
    "Lead 4 (chiff lead)",
    "Lead 5 (charang)",
    "Lead 6 (voice)",
    "Lead 7 (fifths)",
    "Lead 8 (bass + lead)",
    "Pad 1 (new age)",
    "Pad 2 (warm)",
    "Pad 3 (polysynth)",
    "Pad 4 (choir)",
    "Pad 5 (bowed)",
    "Pad 6 (metallic)",
    "Pad 7 (halo)",
    "Pad 8 (sweep)",
    "FX 1 (rain)",
    "FX 2 (soundtrack)",
    "FX 3 (crystal)",
    "FX 4 (atmosphere)",
    "FX 5 (brightness)",
    "FX 6 (goblins)",
    "FX 7 (echoes)",
    "FX 8 (sci-fi)",
    "Sitar",
    "Banjo",
    "Shamisen",
    "Koto",
    "Kalimba",
    "Bagpipe",
    "Fiddle",
    "Shanai",
    "Tinkle Bell",
    "Agogo",
    "Steel Drums",
    "Woodblock",
    "Taiko Drum",
    "Melodic Tom",
    "Synth Drum",
    "Reverse Cymbal",
    "Guitar Fret Noise",
    "Breath Noise",
    "Seashore",
    "Bird Tweet",
    "Telephone Ring",
    "Helicopter",
    "Applause",
    "Gunshot",
};

QAction* addItem(QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    return action;
}

void fill(QMenu* menu, std::span<const Entry> entries) {
    for (const Entry& entry : entries) {
        switch (entry.kind) {
            case Kind::Item:
                addItem(menu, entry.id, QString::fromUtf8(entry.text));
                break;
            case Kind::Separator:
                menu->addSeparator();
                break;
            case Kind::Submenu:
                fill(menu->addMenu(QString::fromUtf8(entry.text)), entry.children);
                break;
        }
    }
}

void fillPrograms(QMenu* menu) {
    addItem(menu, ID_PROGRAM_NONE, QStringLiteral("*None*"));
    for (int range = 0; range < MenuTables::kProgramCount / MenuTables::kProgramsPerRange;
         ++range) {
        QMenu* sub = menu->addMenu(QString::fromStdString(MenuTables::ProgramRangeText(range)));
        for (int i = 0; i < MenuTables::kProgramsPerRange; ++i) {
            const int program = range * MenuTables::kProgramsPerRange + i;
            addItem(sub, ID_PROGRAM_BASE + program,
                    QString::fromStdString(MenuTables::ProgramItemText(program)));
        }
    }
}

}  // namespace

namespace MenuTables {

std::span<const Entry> Entries(int menuId) {
    switch (menuId) {
        case kFileMenu:
            return kFile;
        case kEditMenu:
            return kEdit;
        case kMidiMenu:
            return kMidi;
        default:
            return {};
    }
}

std::string ProgramName(int program) {
    if (program < 0 || program >= kProgramCount) {
        return {};
    }
    return kProgramNames[static_cast<std::size_t>(program)];
}

std::string ProgramItemText(int program) {
    char number[16];
    std::snprintf(number, sizeof number, "%3d", program);
    return std::string(number) + "..." + ProgramName(program);
}

std::string ProgramRangeText(int range) {
    const int first = range * kProgramsPerRange;
    return std::to_string(first) + "-" + std::to_string(first + kProgramsPerRange - 1);
}

QMenu* Build(int menuId, QWidget* parent) {
    if (menuId == kProgramMenu) {
        auto* menu = new QMenu(parent);
        fillPrograms(menu);
        return menu;
    }
    const std::span<const Entry> entries = Entries(menuId);
    if (entries.empty()) {
        return nullptr;
    }
    auto* menu = new QMenu(parent);
    fill(menu, entries);
    return menu;
}

int CommandOf(const QAction* action) {
    if (action == nullptr || action->isSeparator() || action->menu() != nullptr) {
        return 0;
    }
    bool ok = false;
    const int id = action->data().toInt(&ok);
    return ok ? id : 0;
}

QAction* FindAction(const QMenu* menu, int commandId) {
    if (menu == nullptr) {
        return nullptr;
    }
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = FindAction(sub, commandId)) {
                return found;
            }
        } else if (CommandOf(action) == commandId) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace MenuTables
