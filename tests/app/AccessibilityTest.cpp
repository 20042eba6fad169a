// The main window as a screen reader sees it through QAccessible: every drawn control with its
// role, name, value and actions, actions that edit the setup as the mouse does, the keys for
// what was mouse-only, and the notifications (the playing step throttled, and only ever sent
// from the window thread).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include "WindowTestSupport.h"
#include "core/TextFormat.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "panels/MenuTables.h"
#include "panels/PanelIds.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/MDialEdit.h"

namespace {

// What the update handler saw: the event, the name of its object, and whether it came on
// the window thread.
struct Heard {
    QAccessible::Event type;
    std::string name;
    bool windowThread;
};
std::vector<Heard>* heardEvents = nullptr;

void RecordEvent(QAccessibleEvent* event) {
    if (heardEvents == nullptr) {
        return;
    }
    QAccessibleInterface* iface = event->accessibleInterface();
    heardEvents->push_back({event->type(),
                            iface != nullptr ? iface->text(QAccessible::Name).toStdString() : "",
                            QThread::currentThread() == qApp->thread()});
}

class AccessibilityTest : public testing::Test {
protected:
    void SetUp() override {
        heardEvents = &heard;
        ControlAccessibility::SetEventSink(RecordEvent);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override {
        if (QMenu* popup = panel.Menu().CurrentPopup()) {
            popup->close();
        }
        if (player.isRunning()) {
            player.stop();
        }
        ControlAccessibility::SetEventSink(nullptr);
        heardEvents = nullptr;
    }

    // The window's accessible children by name; a name used twice fails the test.
    std::map<std::string, QAccessibleInterface*> tree() {
        std::map<std::string, QAccessibleInterface*> byName;
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
        for (int i = 0; i < root->childCount(); ++i) {
            QAccessibleInterface* child = root->child(i);
            const std::string name = child->text(QAccessible::Name).toStdString();
            EXPECT_FALSE(name.empty()) << "unnamed child " << i << " role " << child->role();
            EXPECT_TRUE(byName.emplace(name, child).second) << "two children named " << name;
            EXPECT_EQ(child->parent(), root) << name;
        }
        return byName;
    }
    QAccessibleInterface* node(const std::string& name) {
        QAccessibleInterface* found = tree()[name];
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static int value(QAccessibleInterface* iface) {
        return iface->valueInterface()->currentValue().toInt();
    }
    static void act(QAccessibleInterface* iface, const QString& action) {
        ASSERT_NE(iface, nullptr);
        QAccessibleActionInterface* actions = iface->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(action)) << action.toStdString();
        actions->doAction(action);
    }
    Step& step(int column) {
        return setup.measures[static_cast<std::size_t>(setup.selectedMeasure)]
            .steps[static_cast<std::size_t>(column)];
    }
    void expectSlider(const std::string& name, int current, int min, int max) {
        QAccessibleInterface* slider = node(name);
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->role(), QAccessible::Slider) << name;
        ASSERT_NE(slider->valueInterface(), nullptr) << name;
        EXPECT_EQ(value(slider), current) << name;
        EXPECT_EQ(slider->valueInterface()->minimumValue().toInt(), min) << name;
        EXPECT_EQ(slider->valueInterface()->maximumValue().toInt(), max) << name;
        EXPECT_EQ(slider->actionInterface()->actionNames(),
                  (QStringList{QAccessibleActionInterface::increaseAction(),
                               QAccessibleActionInterface::decreaseAction()}))
            << name;
    }
    QMenu* waitForPopup() {
        EXPECT_TRUE(
            QTest::qWaitFor([this] { return panel.Menu().CurrentPopup() != nullptr; }, 10'000));
        return panel.Menu().CurrentPopup();
    }
    void closePopup() {
        if (QMenu* popup = panel.Menu().CurrentPopup()) {
            popup->close();
        }
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return panel.Menu().CurrentPopup() == nullptr; }, 10'000));
    }

    std::vector<Heard> heard;
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    MainPanel& panel = window.panel();
    ::Setup& setup = window.setup();
    Player& player = window.player();
};

TEST_F(AccessibilityTest, EveryDrawnControlHasARoleANameAValueAndActions) {
    std::map<std::string, QAccessibleInterface*> nodes = tree();
    const QString press = QAccessibleActionInterface::pressAction();
    const QString toggle = QAccessibleActionInterface::toggleAction();
    struct Button {
        std::string name;
        QAccessible::Role role;
        QStringList actions;
    };
    std::vector<Button> buttons = {
        {"Play", QAccessible::PushButton, {press}},
        {"Sound on", QAccessible::CheckBox, {toggle}},
        {"File", QAccessible::PushButton, {press}},
        {"Edit", QAccessible::PushButton, {press}},
        {"MIDI", QAccessible::PushButton, {press}},
        {"Tempo up", QAccessible::PushButton, {press}},
        {"Volume down", QAccessible::PushButton, {press}},
        {"Transpose up", QAccessible::PushButton, {press}},
    };
    for (int loop = 1; loop <= 8; ++loop) {
        buttons.push_back({"Loop " + TextFormat::formatInt(loop),
                           QAccessible::RadioButton,
                           {press, "Loop panel"}});
    }
    for (int column = 0; column < 16; ++column) {
        const std::string s = "Step " + TextFormat::formatInt(column + 1);
        buttons.push_back({s + " on", QAccessible::CheckBox, {toggle}});
        buttons.push_back({s + " chord up", QAccessible::PushButton, {press}});
        buttons.push_back({s + " program down", QAccessible::PushButton, {press, "Program menu"}});
        buttons.push_back({s + " velocity up", QAccessible::PushButton, {press}});
        EXPECT_EQ(nodes[s]->role(), QAccessible::StaticText) << s;
        EXPECT_EQ(nodes[s + " on"]->state().checked, step(column).on != 0) << s;
        for (const char* field : {" chord", " program"}) {
            QAccessibleInterface* edit = nodes[s + field];
            ASSERT_NE(edit, nullptr) << s << field;
            EXPECT_EQ(edit->role(), QAccessible::EditableText);
            EXPECT_FALSE(edit->text(QAccessible::Description).isEmpty()) << s << field;
        }
        EXPECT_EQ(nodes[s + " program"]->text(QAccessible::Value).toInt(), step(column).program);
        expectSlider(s + " velocity", step(column).velocity, 0, 127);
        expectSlider(s + " pan", step(column).pan, 0, 127);
        expectSlider(s + " duration", std::min<int>(step(column).duration, 17), 0, 17);
        EXPECT_EQ(nodes[s + " pan"]->text(QAccessible::Description).toStdString(),
                  "Pan " + TextFormat::formatInt(step(column).pan) +
                      (step(column).pan == 64 ? " (centre)"
                                              : (step(column).pan < 64 ? " (left)" : " (right)")));
    }
    for (const Button& b : buttons) {
        QAccessibleInterface* iface = nodes[b.name];
        ASSERT_NE(iface, nullptr) << b.name;
        EXPECT_EQ(iface->role(), b.role) << b.name;
        EXPECT_EQ(iface->actionInterface()->actionNames(), b.actions) << b.name;
        EXPECT_FALSE(iface->text(QAccessible::Description).isEmpty()) << b.name;
        EXPECT_FALSE(iface->rect().isEmpty()) << b.name;
    }
    EXPECT_TRUE(nodes["Loop 1"]->state().checked);
    EXPECT_FALSE(nodes["Loop 2"]->state().checked);
    EXPECT_TRUE(nodes["Sound on"]->state().checked);
    expectSlider("Volume", setup.volume, 0, 100);
    expectSlider("Transpose", setup.transpose, -59, 67);
    EXPECT_EQ(nodes["Tempo"]->valueInterface()->currentValue().toDouble(), setup.bpm);
    EXPECT_EQ(nodes["Tempo"]->text(QAccessible::Description).toStdString(),
              "Tempo " + TextFormat::formatReal(setup.bpm) + " BPM");
    // The default button is named; the hidden fields of the bars are not in the tree. Keys and
    // status; play and sound; three menus; tempo with arrows and field; volume and transpose
    // with arrows; eight loops; per step its label, on/off, chord and program with arrows and
    // field, velocity with arrows, pan and duration.
    EXPECT_EQ(nodes.count("Sequencer keys"), 1U);
    EXPECT_EQ(nodes.size(), 2U + 2 + 3 + 4 + 3 + 3 + 8 + 16 * 13);
}

TEST_F(AccessibilityTest, ActionsEditTheSetupAsTheMouseDoes) {
    QAccessibleInterface* velocity = node("Step 3 velocity");
    ASSERT_NE(velocity, nullptr);
    velocity->valueInterface()->setCurrentValue(100);
    EXPECT_EQ(step(2).velocity, 100);
    setup.dirty = false;
    act(velocity, QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(value(velocity), 101);
    EXPECT_EQ(step(2).velocity, 101);
    EXPECT_EQ(panel.Column(2).GetVelocityDial().GetValue(), 101);
    EXPECT_TRUE(setup.dirty);
    window.controller().Undo();
    EXPECT_EQ(step(2).velocity, 100);
    velocity->valueInterface()->setCurrentValue(500);
    EXPECT_EQ(step(2).velocity, 127);
    act(velocity, QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(step(2).velocity, 127);

    act(node("Volume"), QAccessibleActionInterface::decreaseAction());
    EXPECT_EQ(setup.volume, 79);
    const double bpm = setup.bpm;
    act(node("Tempo"), QAccessibleActionInterface::increaseAction());
    EXPECT_GT(setup.bpm, bpm);

    const int on = step(1).on;
    act(node("Step 2 on"), QAccessibleActionInterface::toggleAction());
    EXPECT_NE(step(1).on, on);
    EXPECT_EQ(node("Step 2 on")->state().checked, step(1).on != 0);
    act(node("Sound on"), QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(setup.mute, 1);
    EXPECT_FALSE(node("Sound on")->state().checked);

    act(node("Play"), QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(player.isRunning());
    EXPECT_TRUE(node("Play")->state().pressed);
    act(node("Play"), QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(player.isRunning());

    act(node("Loop 3"), QAccessibleActionInterface::pressAction());
    EXPECT_EQ(setup.selectedMeasure, 2);
    EXPECT_TRUE(node("Loop 3")->state().checked);
    act(node("Loop 3"), "Loop panel");
    EXPECT_TRUE(panel.Popup().isVisible());
    EXPECT_EQ(panel.Popup().measure(), 2);
    panel.Popup().closePanel();

    act(node("Step 4 program up"), "Program menu");
    ASSERT_NE(waitForPopup(), nullptr);
    EXPECT_EQ(panel.Menu().ProgramColumn(), 3);
    closePopup();
    act(node("Edit"), QAccessibleActionInterface::pressAction());
    ASSERT_NE(waitForPopup(), nullptr);
    EXPECT_NE(MenuTables::FindAction(panel.Menu().CurrentPopup(), CommandIds::ID_UNDO), nullptr);
}

TEST_F(AccessibilityTest, KeysOpenTheMenusAndPanelsAndStepTheFields) {
    struct MenuKey {
        int key;
        Qt::KeyboardModifiers modifiers;
        int command;
    };
    for (const MenuKey k : {MenuKey{Qt::Key_F10, Qt::NoModifier, CommandIds::ID_SAVE_SETUP_AS},
                            MenuKey{Qt::Key_F, Qt::AltModifier, CommandIds::ID_SAVE_SETUP_AS},
                            MenuKey{Qt::Key_E, Qt::AltModifier, CommandIds::ID_UNDO},
                            MenuKey{Qt::Key_M, Qt::AltModifier, CommandIds::ID_CHANNEL_BASE + 1}}) {
        QTest::keyClick(window.defaultButton(), static_cast<Qt::Key>(k.key), k.modifiers);
        QMenu* popup = waitForPopup();
        ASSERT_NE(popup, nullptr) << k.key;
        EXPECT_NE(MenuTables::FindAction(popup, k.command), nullptr) << k.key;
        closePopup();
    }

    MDialEdit* program = panel.Column(4).GetProgramDial().GetField();
    program->setFocus();
    QTest::keyClick(program, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_NE(waitForPopup(), nullptr);
    EXPECT_EQ(panel.Menu().ProgramColumn(), 4);
    closePopup();
    // Stopped, the loop panel of the loop shown opens too.
    window.controller().SelectMeasure(5);
    QTest::keyClick(window.defaultButton(), Qt::Key_Menu);
    EXPECT_TRUE(panel.Popup().isVisible());
    EXPECT_EQ(panel.Popup().measure(), 5);
    panel.Popup().closePanel();

    program->setFocus();
    panel.Column(4).SetValue(30, 50);
    step(4).program = 50;
    QTest::keyClick(program, Qt::Key_Up);
    EXPECT_EQ(step(4).program, 51);
    QTest::keyClick(program, Qt::Key_PageDown);
    EXPECT_EQ(step(4).program, 41);
    EXPECT_EQ(program->text().toStdString(), "41");
    window.controller().Undo();
    EXPECT_EQ(step(4).program, 51);
}

TEST_F(AccessibilityTest, ValuesAndStatesAreAnnouncedOnlyFromTheWindowThread) {
    QAccessibleInterface* pan = node("Step 6 pan");
    pan->valueInterface()->setCurrentValue(64);
    heard.clear();
    act(pan, QAccessibleActionInterface::increaseAction());
    const auto countFor = [this](QAccessible::Event type, const std::string& name) {
        return std::count_if(heard.begin(), heard.end(),
                             [&](const Heard& h) { return h.type == type && h.name == name; });
    };
    EXPECT_EQ(countFor(QAccessible::ValueChanged, "Step 6 pan"), 1);
    act(node("Step 6 on"), QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(countFor(QAccessible::StateChanged, "Step 6 on"), 1);

    // Columns hidden by a narrower window leave the tree, and the reader hears of it.
    window.resize(PanelIds::widthForColumns(4), window.height());
    ASSERT_TRUE(QTest::qWaitFor([this] { return panel.VisibleColumns() == 4; }, 10'000));
    EXPECT_GE(std::count_if(heard.begin(), heard.end(),
                            [](const Heard& h) { return h.type == QAccessible::ObjectReorder; }),
              1);
    std::map<std::string, QAccessibleInterface*> nodes = tree();
    EXPECT_EQ(nodes.count("Step 4 velocity"), 1U);
    EXPECT_EQ(nodes.count("Step 5 velocity"), 0U);

    // The same change made from another thread tells nobody.
    heard.clear();
    MWnd& bar = panel.Column(5).GetPanDial().GetBar();
    std::thread other([&bar] { ControlAccessibility::NotifyValue(&bar); });
    other.join();
    EXPECT_TRUE(heard.empty());
}

TEST_F(AccessibilityTest, ThePlayingStepIsAnnouncedAFewTimesASecondFromTheWindowThread) {
    // At 1000 BPM some 67 steps a second light their columns.
    window.controller().SetBpm(1000.0);
    const auto started = std::chrono::steady_clock::now();
    act(node("Play"), QAccessibleActionInterface::pressAction());
    const auto stepsHeard = [this] {
        return std::count_if(heard.begin(), heard.end(), [](const Heard& h) {
            return h.type == QAccessible::Selection && h.name.starts_with("Step ") &&
                   h.name.find(' ', 5) == std::string::npos;
        });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return stepsHeard() >= 3; }, 10'000));
    act(node("Play"), QAccessibleActionInterface::pressAction());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LE(stepsHeard(), 1 + seconds * ControlAccessibility::kPlayingStepsPerSecond);
    for (const Heard& h : heard) {
        EXPECT_TRUE(h.windowThread) << h.name;
    }
}

}  // namespace
