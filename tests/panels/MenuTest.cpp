// The popup menus of a real main window: which items are enabled and marked, the ports,
// channels and programs they offer, and what choosing them does.
#include <QAction>
#include <QClipboard>
#include <QMenu>
#include <QTest>

#include "DocumentsTestSupport.h"
#include "editing/SetupController.h"
#include "panels/CommandIds.h"
#include "panels/MenuTables.h"
#include "panels/PanelIds.h"

using namespace CommandIds;

namespace {

class MenuTest : public WindowTest {
protected:
    void TearDown() override {
        if (QMenu* popup = menu().CurrentPopup()) {
            popup->close();
        }
        WindowTest::TearDown();
    }

    QMenu* open(int menuId) {
        if (QMenu* previous = menu().CurrentPopup()) {
            previous->close();
        }
        EXPECT_TRUE(menu().ShowPopup(menuId, 10, 10));
        return menu().CurrentPopup();
    }
    QAction* item(QMenu* popup, int id) { return MenuTables::FindAction(popup, id); }
    // Chooses an item as the user would and lets the posted command run.
    void choose(QMenu* popup, int id) {
        QAction* action = item(popup, id);
        ASSERT_NE(action, nullptr) << id;
        popup->close();
        action->trigger();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    QMenu* submenu(QMenu* popup, const QString& title) {
        for (QAction* action : popup->actions()) {
            if (action->menu() != nullptr && action->text() == title) {
                return action->menu();
            }
        }
        return nullptr;
    }
    // The commands of the marked items (range titles carry no command).
    std::vector<int> checkedIds(QMenu* popup) {
        std::vector<int> ids;
        for (QAction* action : popup->findChildren<QAction*>()) {
            if (action->isChecked() && MenuTables::CommandOf(action) != 0) {
                ids.push_back(MenuTables::CommandOf(action));
            }
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    Step& step(int column) {
        return setup()
            .measures[static_cast<std::size_t>(setup().selectedMeasure)]
            .steps[static_cast<std::size_t>(column)];
    }
};

TEST_F(MenuTest, PortsAreListedAboveTheMapperAndChoosingOneOpensItByName) {
    makeWindow();
    QMenu* ports = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Select Port"));
    ASSERT_NE(ports, nullptr);
    std::vector<std::pair<int, QString>> listed;
    for (QAction* action : ports->actions()) {
        listed.emplace_back(MenuTables::CommandOf(action), action->text());
    }
    const std::vector<std::pair<int, QString>> expected = {
        {900, "Alpha"}, {901, "Beta"}, {902, "Gamma"}, {999, "MIDI Mapper"}};
    EXPECT_EQ(listed, expected);

    setup().dirty = false;
    choose(menu().CurrentPopup(), 901);
    EXPECT_EQ(setup().port.portId, 1);
    EXPECT_EQ(setup().port.portName, "Beta");
    EXPECT_TRUE(setup().dirty);
    EXPECT_EQ(devices->devices[1]->openConnections(), 1);
    EXPECT_EQ(mapper->devices[0]->openConnections(), 0);

    choose(open(MenuTables::kMidiMenu), 999);
    EXPECT_EQ(setup().port.portId, PortState::kMapperPortId);
    EXPECT_EQ(setup().port.portName, "MIDI Mapper");
    EXPECT_EQ(devices->devices[1]->openConnections(), 0);
    EXPECT_EQ(mapper->devices[0]->openConnections(), 1);
}

TEST_F(MenuTest, OfTwoPortsWithOneNameTheMenuOpensTheOneASavedFileReopens) {
    makeWindow({}, {"Twin", "Other", "Twin"});
    choose(open(MenuTables::kMidiMenu), 900);
    EXPECT_EQ(setup().port.portId, 2);
    EXPECT_EQ(devices->devices[0]->openConnections(), 0);
    EXPECT_EQ(devices->devices[2]->openConnections(), 1);
}

TEST_F(MenuTest, PortMarkFollowsThePortIdAndNoneWhenTheNameWasNotFound) {
    makeWindow();
    ASSERT_EQ(setup().port.portId, PortState::kMapperPortId);
    QMenu* ports = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Select Port"));
    EXPECT_EQ(checkedIds(ports), std::vector<int>{999});

    setup().port.portId = PortState::kMissingPortId;
    ports = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Select Port"));
    EXPECT_EQ(checkedIds(ports), std::vector<int>{});

    choose(open(MenuTables::kMidiMenu), 902);
    ports = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Select Port"));
    EXPECT_EQ(checkedIds(ports), std::vector<int>{902});
}

TEST_F(MenuTest, PortsListedAgainOnEachOpeningAndTheOpenPortKeepsItsMark) {
    makeWindow();
    choose(open(MenuTables::kMidiMenu), 901);  // Beta
    // A device plugged in ahead of the others moves Beta down by one.
    devices->devices.insert(devices->devices.begin(),
                            std::make_shared<FakeDevice>("Newcomer", false));
    QMenu* ports = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Select Port"));
    ASSERT_EQ(ports->actions().size(), 5);
    EXPECT_EQ(ports->actions()[0]->text(), QStringLiteral("Newcomer"));
    EXPECT_EQ(setup().port.portId, 2);
    EXPECT_EQ(checkedIds(ports), std::vector<int>{902});

    // Unplugged: still open, but no longer listed, so nothing is marked.
    devices->devices.erase(devices->devices.begin() + 2);
    ports = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Select Port"));
    EXPECT_EQ(setup().port.portId, PortState::kMissingPortId);
    EXPECT_EQ(checkedIds(ports), std::vector<int>{});
}

TEST_F(MenuTest, ProgramMenuMarksTheProgramAndItsRange) {
    makeWindow();
    step(3).program = 40;
    menu().openProgramMenu(3);
    QMenu* popup = menu().CurrentPopup();
    ASSERT_NE(popup, nullptr);
    const QList<QAction*> top = popup->actions();
    ASSERT_EQ(top.size(), 5);
    EXPECT_EQ(top[0]->text(), QStringLiteral("*None*"));
    EXPECT_FALSE(top[0]->isChecked());
    EXPECT_FALSE(top[1]->isChecked());
    EXPECT_EQ(top[2]->text(), QStringLiteral("32-63"));
    EXPECT_TRUE(top[2]->isChecked());
    EXPECT_FALSE(top[3]->isChecked());
    QAction* violin = item(popup, 38040);
    ASSERT_NE(violin, nullptr);
    EXPECT_EQ(violin->text(), QStringLiteral(" 40...Violin"));
    EXPECT_TRUE(violin->isChecked());
    EXPECT_EQ(checkedIds(top[2]->menu()), std::vector<int>{38040});

    step(3).program = -1;
    menu().openProgramMenu(3);
    popup = menu().CurrentPopup();
    EXPECT_TRUE(popup->actions()[0]->isChecked());
    EXPECT_EQ(checkedIds(popup), std::vector<int>{37999});

    // Only a damaged file holds such a value: nothing is marked.
    step(3).program = 300;
    menu().openProgramMenu(3);
    EXPECT_EQ(checkedIds(menu().CurrentPopup()), std::vector<int>{});
}

TEST_F(MenuTest, ChoosingAProgramWritesItIntoTheColumnsStep) {
    makeWindow();
    step(5).program = 7;
    setup().dirty = false;
    menu().openProgramMenu(5);
    choose(menu().CurrentPopup(), 38100);
    EXPECT_EQ(step(5).program, 100);
    EXPECT_EQ(window->panel().Column(5).GetValue(static_cast<int>(StepValue::Program)), 100);
    EXPECT_TRUE(setup().dirty);

    menu().openProgramMenu(5);
    choose(menu().CurrentPopup(), ID_PROGRAM_NONE);
    EXPECT_EQ(step(5).program, -1);
    // One past the last program is no program: an accelerator-like stray id changes nothing.
    menu().OnCommand(ID_PROGRAM_BASE + 128);
    EXPECT_EQ(step(5).program, -1);
}

struct ProgramText {
    int program;
    const char* text;
};

class ProgramTextTest : public testing::TestWithParam<ProgramText> {};

TEST_P(ProgramTextTest, NumberRightAlignedThenTheName) {
    EXPECT_EQ(MenuTables::ProgramItemText(GetParam().program), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(GeneralMidi, ProgramTextTest,
                         testing::Values(ProgramText{0, "  0...Acoustic Grand Piano"},
                                         ProgramText{10, " 10...Music Box"},
                                         ProgramText{40, " 40...Violin"},
                                         ProgramText{100, "100...FX 5 (brightness)"},
                                         ProgramText{127, "127...Gunshot"}));

TEST_F(MenuTest, ChannelTenIsTheDrumChannel) {
    makeWindow();
    setup().port.channel = 3;
    QMenu* channels = submenu(open(MenuTables::kMidiMenu), QStringLiteral("Channel"));
    ASSERT_NE(channels, nullptr);
    EXPECT_EQ(channels->actions().size(), 16);
    EXPECT_EQ(checkedIds(channels), std::vector<int>{ID_CHANNEL_BASE + 3});
    QAction* drums = item(menu().CurrentPopup(), ID_CHANNEL_BASE + 10);
    ASSERT_NE(drums, nullptr);
    EXPECT_EQ(drums->text(), QStringLiteral("10 (GM drums)"));
    setup().dirty = false;
    choose(menu().CurrentPopup(), ID_CHANNEL_BASE + 10);
    EXPECT_EQ(setup().port.channel, 10);
    EXPECT_TRUE(setup().dirty);
}

TEST_F(MenuTest, UndoKeyArrivesWhileTheItemIsGrayed) {
    makeWindow();
    window->controller().SetBpm(100.0);
    window->controller().TakeSnapshot();  // in loop 1
    window->controller().SetBpm(150.0);
    window->controller().SelectMeasure(2);
    EXPECT_FALSE(item(open(MenuTables::kEditMenu), ID_UNDO)->isEnabled());
    menu().CurrentPopup()->close();

    QTest::keyClick(window->defaultButton(), Qt::Key_Z, Qt::ControlModifier);
    // Another loop is selected: only the settings are exchanged.
    EXPECT_DOUBLE_EQ(setup().bpm, 100.0);

    window->controller().SelectMeasure(0);
    EXPECT_TRUE(item(open(MenuTables::kEditMenu), ID_UNDO)->isEnabled());
}

TEST_F(MenuTest, SaveIsGrayedAfterASaveAndEnabledAfterAnEdit) {
    makeWindow();
    setup().path = file("kept.qov");
    QTest::keyClick(window->defaultButton(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(std::filesystem::exists(file("kept.qov")));
    EXPECT_FALSE(item(open(MenuTables::kFileMenu), ID_SAVE_SETUP)->isEnabled());

    window->onCommand(ID_RANDOMIZE);
    EXPECT_TRUE(item(open(MenuTables::kFileMenu), ID_SAVE_SETUP)->isEnabled());
}

TEST_F(MenuTest, ExpandVisibleOnlyUpToEightVisibleSteps) {
    makeWindow();
    window->panel().FitWindowToColumns(8);
    ASSERT_EQ(setup().stepsPerMeasure, 8);
    EXPECT_TRUE(item(open(MenuTables::kMidiMenu), ID_EXPAND_VISIBLE)->isEnabled());
    window->panel().FitWindowToColumns(9);
    ASSERT_EQ(setup().stepsPerMeasure, 9);
    EXPECT_FALSE(item(open(MenuTables::kMidiMenu), ID_EXPAND_VISIBLE)->isEnabled());
}

TEST_F(MenuTest, PasteEnabledOnlyWithAMeasureOnTheClipboard) {
    makeWindow();
    QGuiApplication::clipboard()->setText(QStringLiteral("just text"));
    QMenu* edit = open(MenuTables::kEditMenu);
    EXPECT_FALSE(item(edit, ID_PASTE_MEASURE)->isEnabled());
    EXPECT_FALSE(item(edit, ID_PASTE_VISIBLE)->isEnabled());
    window->onCommand(ID_COPY_MEASURE);
    edit = open(MenuTables::kEditMenu);
    EXPECT_TRUE(item(edit, ID_PASTE_MEASURE)->isEnabled());
    EXPECT_TRUE(item(edit, ID_PASTE_VISIBLE)->isEnabled());
}

TEST_F(MenuTest, SettingsAreMarked) {
    makeWindow();
    setup().tempoEditMode = 1;
    setup().polyphonic = 0;
    setup().mute = 1;
    setup().highResTimer = false;
    setup().port.channel = 16;
    // No MIDI input chosen: "None" is marked.
    std::vector<int> expected = {ID_MUTE_COMMAND, ID_SAMPLES_PER_MEASURE, 999,
                                 ID_CHANNEL_BASE + 16, ID_INPUT_NONE};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(checkedIds(open(MenuTables::kMidiMenu)), expected);

    setup().tempoEditMode = 0;
    setup().polyphonic = 1;
    setup().mute = 0;
    setup().highResTimer = true;
    expected = {ID_POLYPHONIC, ID_USE_HIGH_RES_TIMER, ID_BEATS_PER_MINUTE, 999,
                ID_CHANNEL_BASE + 16, ID_INPUT_NONE};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(checkedIds(open(MenuTables::kMidiMenu)), expected);
}

TEST_F(MenuTest, MenuButtonsOpenTheirPopupUnderTheButton) {
    makeWindow();
    // A release on the Edit button reaches the menu through the controller.
    window->controller().OnValueChanged(PanelIds::ID_MENU_EDIT);
    QMenu* popup = menu().CurrentPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_NE(item(popup, ID_UNDO), nullptr);
    EXPECT_EQ(item(popup, ID_OPEN_SETUP), nullptr);

    menu().OnCommand(PanelIds::ID_MENU_FILE);
    popup = menu().CurrentPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_NE(item(popup, ID_OPEN_SETUP), nullptr);
    const MRect& button = menu().FileButton().GetRect();
    EXPECT_EQ(popup->pos(), window->mapToGlobal(QPoint(button.left, button.bottom)));
    // No menu of that number: nothing is shown and the open popup stays.
    EXPECT_FALSE(menu().ShowPopup(170, 0, 0));
    EXPECT_EQ(menu().CurrentPopup(), popup);
}

// Every item of a menu and its submenus says what it is and does something when chosen.
void ExpectEveryItemNamedAndCommanded(const QMenu* menu, const std::string& path) {
    const QList<QAction*> actions = menu->actions();
    EXPECT_FALSE(actions.isEmpty()) << path;
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const QAction* action = actions[i];
        if (action->isSeparator()) {
            continue;
        }
        const std::string where =
            path + " item " + std::to_string(i) + " \"" + action->text().toStdString() + "\"";
        EXPECT_FALSE(action->text().trimmed().isEmpty()) << where;
        if (const QMenu* sub = action->menu()) {
            ExpectEveryItemNamedAndCommanded(sub, where);
        } else {
            EXPECT_NE(MenuTables::CommandOf(action), 0) << where;
        }
    }
}

TEST_F(MenuTest, EveryItemHasATextAndACommandOrIsASeparator) {
    makeWindow();
    for (const int menuId : {MenuTables::kFileMenu, MenuTables::kEditMenu, MenuTables::kMidiMenu,
                             MenuTables::kProgramMenu}) {
        ExpectEveryItemNamedAndCommanded(open(menuId), "menu " + std::to_string(menuId));
    }
}

}  // namespace
