#include "panels/MenuBar.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QMenu>
#include <QWidget>
#include <algorithm>

#include "core/Setup.h"
#include "panels/CommandIds.h"
#include "panels/MenuTables.h"
#include "panels/PanelIds.h"
#include "toolkit/ControlHost.h"

using namespace CommandIds;
using namespace PanelIds;

namespace {

// The buttons sit side by side, 18 pixels apart.
constexpr int kButtonPitch = 18;
constexpr const char* kMapperName = "MIDI Mapper";

bool inRange(int id, int first, int last) {
    return id >= first && id <= last;
}

void setEnabled(QMenu* menu, int id, bool enabled) {
    if (QAction* action = MenuTables::FindAction(menu, id)) {
        action->setEnabled(enabled);
    }
}

void setChecked(QMenu* menu, int id, bool checked) {
    if (QAction* action = MenuTables::FindAction(menu, id)) {
        action->setCheckable(true);
        action->setChecked(checked);
    }
}

// Radio items: the ids first..last that the menu holds become one exclusive group, marked on
// `marked` (none when marked lies outside the range).
void setRadio(QMenu* menu, int first, int last, int marked) {
    QActionGroup* group = nullptr;
    for (int id = first; id <= last; ++id) {
        QAction* action = MenuTables::FindAction(menu, id);
        if (action == nullptr) {
            continue;
        }
        if (group == nullptr) {
            group = new QActionGroup(menu);
            group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        }
        action->setCheckable(true);
        group->addAction(action);
        action->setChecked(id == marked);
    }
}

}  // namespace

MenuBar::MenuBar() = default;

MenuBar::~MenuBar() {
    if (popup_ != nullptr) {
        delete popup_.data();
    }
}

void MenuBar::Create(const std::string& name, int x, int y, ControlHost& host) {
    name_ = name;
    host_ = &host;
    fileButton_.Create(ID_MENU_FILE, "", x, y, &host, "FILEUP", "FILEDN");
    fileButton_.SetCursorName("FCUR");
    editButton_.Create(ID_MENU_EDIT, "", x + kButtonPitch, y, &host, "EDITUP", "EDITDN");
    editButton_.SetCursorName("ECUR");
    midiButton_.Create(ID_MENU_MIDI, "", x + 2 * kButtonPitch, y, &host, "MIDIUP", "MIDIDN");
    midiButton_.SetCursorName("MCUR");
    const MRect& first = fileButton_.GetRect();
    const MRect& last = midiButton_.GetRect();
    rect_ = MRect{first.left, first.top, last.right, std::max(first.bottom, last.bottom)};
}

void MenuBar::attach(Setup& setup) {
    setup_ = &setup;
}

QMenu* MenuBar::CurrentPopup() const {
    return popup_.data();
}

void MenuBar::recolour(ColorRef baseColor) {
    palette_.DeriveFrom(baseColor);
    fileButton_.SetColors(palette_.lighter, palette_.darker);
    editButton_.SetColors(palette_.contrast, palette_.contrastDarker);
    midiButton_.SetColors(palette_.darker, palette_.lighter);
}

// ---- Commands ------------------------------------------------------------------------------

void MenuBar::OnCommand(int commandId) {
    const int id = commandId & 0xFFFF;
    if (setup_ != nullptr) {
        const int deviceCount =
            std::clamp(setup_->port.deviceCount, 0, PortState::kPortNameSlots - 1);
        if (id == ID_PORT_MAPPER) {
            choosePort(PortState::kMapperPortId);
            return;
        }
        if (inRange(id, ID_PORT_BASE, ID_PORT_BASE + deviceCount - 1)) {
            choosePort(id - ID_PORT_BASE);
            return;
        }
        // 38000 + 127 is the last program; nothing above it is a program.
        if (inRange(id, ID_PROGRAM_NONE, ID_PROGRAM_BASE + MenuTables::kProgramCount - 1)) {
            if (services_.chooseProgram) {
                services_.chooseProgram(programColumn_, id - ID_PROGRAM_BASE);
            }
            return;
        }
    }
    if (chooseInputSource(id)) {
        return;
    }
    if (id == ID_MENU_FILE || id == ID_MENU_EDIT || id == ID_MENU_MIDI) {
        openMenuForButton(id);
        return;
    }
    if (commandHandler_) {
        commandHandler_(id);
    }
}

void MenuBar::choosePort(int portId) {
    PortState& port = setup_->port;
    if (services_.releasePort) {
        services_.releasePort();
    }
    port.portId = portId;
    port.portName = portId == PortState::kMapperPortId
                        ? std::string(kMapperName)
                        : port.portNames[static_cast<std::size_t>(portId)];
    if (services_.selectPortByName) {
        services_.selectPortByName(port.portName);
    }
    setup_->dirty = true;
}

void MenuBar::followPortName() {
    PortState& port = setup_->port;
    if (port.portId < 0) {
        return;
    }
    port.portId = PortState::kMissingPortId;
    const int count = std::clamp(port.deviceCount, 0, PortState::kPortNameSlots - 1);
    for (int i = 0; i < count; ++i) {
        if (port.portNames[static_cast<std::size_t>(i)] == port.portName) {
            port.portId = i;
            return;
        }
    }
}

// ---- Popups --------------------------------------------------------------------------------

bool MenuBar::ShowPopup(int menuId, int screenX, int screenY) {
    QWidget* parent = host_ != nullptr ? host_->HostWidget() : nullptr;
    QMenu* menu = MenuTables::Build(menuId, parent);
    if (menu == nullptr) {
        return false;
    }
    if (popup_ != nullptr) {
        popup_->close();
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (setup_ != nullptr) {
        if (menuId == MenuTables::kMidiMenu && services_.refreshPorts) {
            services_.refreshPorts();
            followPortName();
        }
        insertPorts(menu);
        insertInputSources(menu);
        applyEnabling(menu);
        applyMarks(menu);
        if (menuId == MenuTables::kProgramMenu) {
            markProgram(menu);
        }
    }
    // Every item posts its command: it runs once the popup has closed, never inside it.
    const QList<QAction*> actions = menu->findChildren<QAction*>();
    for (QAction* action : actions) {
        const int id = MenuTables::CommandOf(action);
        if (id == 0) {
            continue;
        }
        connect(action, &QAction::triggered, this, [this, id] {
            QMetaObject::invokeMethod(
                this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
        });
    }
    popup_ = menu;
    menu->popup(QPoint(screenX, screenY));
    return true;
}

void MenuBar::insertPorts(QMenu* menu) {
    QAction* mapper = MenuTables::FindAction(menu, ID_PORT_MAPPER);
    if (mapper == nullptr) {
        return;
    }
    QMenu* holder = nullptr;
    for (QMenu* candidate : menu->findChildren<QMenu*>()) {
        if (candidate->actions().contains(mapper)) {
            holder = candidate;
        }
    }
    if (holder == nullptr) {
        return;
    }
    const int count = std::clamp(setup_->port.deviceCount, 0, PortState::kPortNameSlots - 1);
    for (int i = 0; i < count; ++i) {
        auto* action = new QAction(
            QString::fromStdString(setup_->port.portNames[static_cast<std::size_t>(i)]), holder);
        action->setData(ID_PORT_BASE + i);
        holder->insertAction(mapper, action);
    }
}

void MenuBar::insertInputSources(QMenu* menu) {
    QAction* none = MenuTables::FindAction(menu, ID_INPUT_NONE);
    if (none == nullptr || !services_.inputSources) {
        return;
    }
    auto* holder = qobject_cast<QMenu*>(none->parent());
    if (holder == nullptr) {
        return;
    }
    inputSources_ = services_.inputSources();
    const int count = std::min<int>(static_cast<int>(inputSources_.size()),
                                    ID_INPUT_NONE - ID_INPUT_BASE);
    inputSources_.resize(static_cast<std::size_t>(count));
    const std::string chosen = services_.inputSource ? services_.inputSource() : std::string();
    none->setCheckable(true);
    none->setChecked(chosen.empty());
    bool chosenListed = chosen.empty();
    for (int i = 0; i < count; ++i) {
        const std::string& name = inputSources_[static_cast<std::size_t>(i)];
        auto* action = new QAction(QString::fromStdString(name), holder);
        action->setData(ID_INPUT_BASE + i);
        action->setCheckable(true);
        action->setChecked(name == chosen);
        chosenListed = chosenListed || name == chosen;
        holder->addAction(action);
    }
    if (!chosenListed) {
        // Chosen but gone for now: shown checked and disabled, it is connected again when back.
        auto* action = new QAction(QString::fromStdString(chosen), holder);
        action->setCheckable(true);
        action->setChecked(true);
        action->setEnabled(false);
        holder->addAction(action);
    }
}

bool MenuBar::chooseInputSource(int id) {
    if (!services_.chooseInput) {
        return false;
    }
    if (id == ID_INPUT_NONE) {
        services_.chooseInput({});
        return true;
    }
    const int index = id - ID_INPUT_BASE;
    if (index < 0 || index >= static_cast<int>(inputSources_.size())) {
        return false;
    }
    services_.chooseInput(inputSources_[static_cast<std::size_t>(index)]);
    return true;
}

void MenuBar::applyEnabling(QMenu* menu) {
    const bool clipboardHoldsMeasure = services_.clipboardKind && services_.clipboardKind() != 0;
    setEnabled(menu, ID_UNDO, setup_->undoMeasureIndex == setup_->selectedMeasure);
    setEnabled(menu, ID_PASTE_MEASURE, clipboardHoldsMeasure);
    setEnabled(menu, ID_PASTE_VISIBLE, clipboardHoldsMeasure);
    setEnabled(menu, ID_SAVE_SETUP, setup_->dirty);
    const bool sessionOwnsFile = services_.sessionOwnsFile && services_.sessionOwnsFile();
    setEnabled(menu, ID_OPEN_SETUP, !sessionOwnsFile);
    setEnabled(menu, ID_SAVE_SETUP_AS, !sessionOwnsFile);
    setEnabled(menu, ID_EXPAND_VISIBLE, setup_->stepsPerMeasure <= Setup::kMaxStepsPerMeasure / 2);
    // Asked only for the menu that holds the item: the answer takes a JACK client's opening.
    if (services_.jackServerRunning && MenuTables::FindAction(menu, ID_JACK_TRANSPORT) != nullptr) {
        setEnabled(menu, ID_JACK_TRANSPORT, services_.jackServerRunning());
    }
}

void MenuBar::applyMarks(QMenu* menu) {
    setRadio(menu, ID_SAMPLES_PER_MEASURE, ID_BEATS_PER_MINUTE,
             setup_->tempoEditMode == 1 ? ID_SAMPLES_PER_MEASURE : ID_BEATS_PER_MINUTE);
    const PortState& port = setup_->port;
    if (port.portId == PortState::kMapperPortId) {
        setRadio(menu, ID_PORT_BASE, ID_PORT_MAPPER, ID_PORT_MAPPER);
    } else {
        // A port that was not found (-2) marks nothing.
        setRadio(menu, ID_PORT_BASE, ID_PORT_MAPPER,
                 port.portId >= 0 ? ID_PORT_BASE + port.portId : 0);
    }
    setChecked(menu, ID_POLYPHONIC, setup_->polyphonic != 0);
    setChecked(menu, ID_MUTE_COMMAND, setup_->mute != 0);
    setChecked(menu, ID_USE_HIGH_RES_TIMER, setup_->highResTimer);
    if (QAction* link = MenuTables::FindAction(menu, ID_ABLETON_LINK);
        link != nullptr && services_.linkEnabled) {
        link->setCheckable(true);
        link->setChecked(services_.linkEnabled());
        link->setText(QString::fromStdString(services_.linkText()));
        link->setToolTip(QString::fromStdString(services_.linkToolTip()));
        menu->setToolTipsVisible(true);
    }
    setChecked(menu, ID_SEND_MIDI_CLOCK, setup_->midiClock);
    setChecked(menu, ID_JACK_TRANSPORT, setup_->jackTransport);
    setChecked(menu, ID_FOLLOW_MIDI_CLOCK, services_.clockFollowed && services_.clockFollowed());
    setChecked(menu, ID_MIDI_LEARN, services_.midiLearning && services_.midiLearning());
    setChecked(menu, ID_TRANSPOSE_FROM_INPUT,
               services_.transposingFromInput && services_.transposingFromInput());
    setChecked(menu, ID_STEP_RECORD, services_.stepRecording && services_.stepRecording());
    setRadio(menu, ID_CHANNEL_BASE + 1, ID_CHANNEL_BASE + 16, ID_CHANNEL_BASE + port.channel);
}

void MenuBar::markProgram(QMenu* menu) {
    const int column = std::clamp(programColumn_, 0, Setup::kMaxStepsPerMeasure - 1);
    const int program = setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)]
                            .steps[static_cast<std::size_t>(column)]
                            .program;
    const QList<QAction*> top = menu->actions();
    // Positions: 0 "*None*", then the four ranges of 32 programs.
    auto* group = new QActionGroup(menu);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* action : top) {
        action->setCheckable(true);
        group->addAction(action);
    }
    if (program < -1 || program >= MenuTables::kProgramCount) {
        return;  // only a damaged file holds such a value: nothing is marked
    }
    if (program < 0) {
        top.value(0)->setChecked(true);
        return;
    }
    const int range = program / MenuTables::kProgramsPerRange;
    if (QAction* rangeAction = top.value(range + 1)) {
        rangeAction->setChecked(true);
        setRadio(rangeAction->menu(), ID_PROGRAM_BASE + range * MenuTables::kProgramsPerRange,
                 ID_PROGRAM_BASE + (range + 1) * MenuTables::kProgramsPerRange - 1,
                 ID_PROGRAM_BASE + program);
    }
}

void MenuBar::openUnderButton(int menuId, const MBmpButton& button) {
    QPoint at(button.GetRect().left, button.GetRect().bottom);
    if (host_ != nullptr && host_->HostWidget() != nullptr) {
        at = host_->HostWidget()->mapToGlobal(at);
    }
    ShowPopup(menuId, at.x(), at.y());
}

void MenuBar::openFileMenu() {
    openUnderButton(MenuTables::kFileMenu, fileButton_);
}

void MenuBar::openEditMenu() {
    openUnderButton(MenuTables::kEditMenu, editButton_);
}

void MenuBar::openMidiMenu() {
    openUnderButton(MenuTables::kMidiMenu, midiButton_);
}

void MenuBar::openMenuForButton(int buttonId) {
    switch (buttonId) {
        case ID_MENU_FILE:
            openFileMenu();
            return;
        case ID_MENU_EDIT:
            openEditMenu();
            return;
        case ID_MENU_MIDI:
            openMidiMenu();
            return;
        default:
            return;
    }
}

void MenuBar::openProgramMenu(int column) {
    const QPoint at = QCursor::pos();
    openProgramMenuAt(column, at.x(), at.y());
}

void MenuBar::openProgramMenuAt(int column, int screenX, int screenY) {
    programColumn_ = column;
    ShowPopup(MenuTables::kProgramMenu, screenX, screenY);
}
