#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "WindowTestSupport.h"
#include "app/WindowPlacement.h"
#include "core/Messages.h"
#include "core/TextFormat.h"
#include "midi/InstanceBus.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "panels/MenuTables.h"
#include "panels/PanelIds.h"
#include "toolkit/MDialEdit.h"

namespace {

class MainWindowTest : public testing::Test {
protected:
    WindowFixture fixture;
    MainWindow& window = fixture.window();
    ::Setup& setup = window.setup();
    Player& player = window.player();
};

TEST_F(MainWindowTest, StartsWithSixteenColumnsAFixedHeightAndACleanSetup) {
    EXPECT_EQ(window.width(), 707);
    EXPECT_EQ(window.height(), 166);
    EXPECT_EQ(window.minimumWidth(), 133);
    EXPECT_EQ(window.maximumWidth(), 707);
    EXPECT_EQ(window.minimumHeight(), window.maximumHeight());
    EXPECT_EQ(setup.stepsPerMeasure, 16);
    EXPECT_EQ(window.panel().VisibleColumns(), 16);
    EXPECT_FALSE(setup.dirty);
    EXPECT_EQ(setup.volume, 80);
    EXPECT_EQ(setup.transpose, 0);
    EXPECT_EQ(window.windowTitle().toStdString(), std::string(::Setup::kTitlePrefix));
}

TEST_F(MainWindowTest, WidthDecidesTheStepsPerMeasureAndMarksTheSetupChanged) {
    struct Case {
        int requested;
        int width;
        int steps;
    };
    for (const Case c : {Case{170, 170, 2}, Case{50, 133, 1}, Case{2000, 707, 16},
                         Case{500, 500, 10}, Case{131 + 38, 169, 1}}) {
        setup.dirty = false;
        window.resize(c.requested, 400);
        QApplication::processEvents();
        EXPECT_EQ(window.width(), c.width) << c.requested;
        EXPECT_EQ(window.height(), 166) << "the height never follows the user";
        EXPECT_EQ(setup.stepsPerMeasure, c.steps) << c.requested;
        EXPECT_EQ(window.panel().VisibleColumns(), c.steps) << c.requested;
        EXPECT_TRUE(setup.dirty) << c.requested;
    }
}

TEST_F(MainWindowTest, SpaceTogglesPlaybackEvenWhileATextFieldHasTheFocus) {
    MDialEdit* field = window.panel().Column(0).GetNoteDial().GetField();
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QApplication::processEvents();
    const QString before = field->text();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_TRUE(player.isRunning());
    EXPECT_EQ(window.panel().PlayButton().GetState(), 1);
    EXPECT_EQ(field->text(), before) << "the space must not reach the field";
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_FALSE(player.isRunning());
    EXPECT_EQ(window.panel().PlayButton().GetState(), 0);
}

TEST_F(MainWindowTest, HeldSpaceDoesNotStartAndStopOnEveryRepeat) {
    QTest::keyPress(window.defaultButton(), Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(window.defaultButton(), &repeat);
    QApplication::sendEvent(window.defaultButton(), &repeat);
    EXPECT_TRUE(player.isRunning());
}

TEST_F(MainWindowTest, NumberKeysJumpOnlyWhilePlayingAndOnlyFromTheDefaultButton) {
    QPushButton* button = window.defaultButton();
    button->setFocus();
    QTest::keyClick(button, Qt::Key_3);
    EXPECT_EQ(setup.playingMeasure, 0) << "stopped: no jump";

    QTest::keyClick(button, Qt::Key_Space);
    ASSERT_TRUE(player.isRunning());
    button->setFocus();
    QTest::keyClick(button, Qt::Key_3);
    EXPECT_EQ(setup.playingMeasure, 2);
    EXPECT_EQ(setup.selectedMeasure, 0) << "a jump does not change what is edited";

    MDialEdit* field = window.panel().Column(1).GetProgramDial().GetField();
    field->setFocus();
    QApplication::processEvents();
    QTest::keyClick(field, Qt::Key_5);
    EXPECT_EQ(setup.playingMeasure, 2) << "with a field focused the key is typing";
}

TEST_F(MainWindowTest, DiagnosticViewTogglesTheHeightAndLeavesTheDirtyFlag) {
    for (const bool dirty : {false, true}) {
        setup.dirty = dirty;
        QTest::keyClick(&window, Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
        QApplication::processEvents();
        EXPECT_EQ(window.height(), 179);
        EXPECT_TRUE(window.isDiagnosticView());
        EXPECT_EQ(window.panel().StatusLine().GetText(),
                  TextFormat::formatInt(setup.cpuCyclesPerMs));
        QTest::keyClick(&window, Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
        QApplication::processEvents();
        EXPECT_EQ(window.height(), 166);
        EXPECT_EQ(setup.dirty, dirty);
    }
    // F2 without both modifiers does nothing, and is not passed on.
    QTest::keyClick(&window, Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(window.height(), 166);
}

TEST_F(MainWindowTest, AltAloneIsSwallowed) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(QApplication::sendEvent(window.defaultButton(), &press));
    EXPECT_TRUE(press.isAccepted());
    EXPECT_FALSE(player.isRunning());
}

TEST_F(MainWindowTest, TheLenderOfThePortMayNotCloseWhilePlayingBesideOthers) {
    InstanceBus other;
    ASSERT_TRUE(other.start(fixture.busDirectory(), ::getpid() + 1'000'000));
    QTest::keyClick(window.defaultButton(), Qt::Key_Space);
    ASSERT_TRUE(player.isRunning());
    setup.portOpenedHere = 1;
    setup.dirty = false;

    EXPECT_FALSE(window.close());
    ASSERT_EQ(fixture.notes.size(), 1u);
    EXPECT_EQ(fixture.notes[0], MainWindow::kMasterWarning);
    EXPECT_EQ(std::count(fixture.notes[0].begin(), fixture.notes[0].end(), '\n'), 7);

    player.stop();
    EXPECT_TRUE(window.close()) << "stopped, it may close";
}

TEST_F(MainWindowTest, AloneOrNotTheLenderItClosesWhilePlaying) {
    QTest::keyClick(window.defaultButton(), Qt::Key_Space);
    setup.portOpenedHere = 1;
    setup.dirty = false;
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(fixture.notes.empty());
}

TEST_F(MainWindowTest, PlayingLightsTheColumnOfTheStepJustPlayed) {
    QTest::keyClick(window.defaultButton(), Qt::Key_Space);
    // The first step plays at once; its message reaches the window through the queue.
    QTRY_VERIFY_WITH_TIMEOUT(window.panel().Column(0).IsHighlighted(), 10000);
    QTest::keyClick(window.defaultButton(), Qt::Key_Space);
    QApplication::processEvents();
    for (int col = 0; col < PanelIds::kColumnCount; ++col) {
        EXPECT_FALSE(window.panel().Column(col).IsHighlighted()) << col;
    }
}

TEST_F(MainWindowTest, CtrlSpacePlaysThisCopyAloneAndAltSpaceIsTheWindowSystems) {
    InstanceBus other;
    ASSERT_TRUE(other.start(fixture.busDirectory(), ::getpid() + 1'000'001));
    std::vector<int> heard;
    QObject::connect(&other, &InstanceBus::messageReceived,
                     [&heard](int message, qintptr, qintptr) { heard.push_back(message); });
    QPushButton* button = window.defaultButton();
    // The keyboard read after the press no longer shows Ctrl (released at once): the key's
    // own modifiers decide.
    HeldKeys keys;

    QTest::keyClick(button, Qt::Key_Space, Qt::AltModifier);
    EXPECT_FALSE(player.isRunning());
    QTest::keyClick(button, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(player.isRunning());
    EXPECT_EQ(window.panel().PlayButton().GetState(), 1);
    QTest::keyClick(button, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(player.isRunning());
    EXPECT_EQ(window.panel().PlayButton().GetState(), 0);

    // The other copy hears the bus in order: a marker sent now arrives after anything the
    // two presses sent.
    window.bus().broadcast(Messages::UM_COUNT_ONLY, 0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&heard] { return !heard.empty(); }, 10'000));
    EXPECT_EQ(heard, std::vector<int>{Messages::UM_COUNT_ONLY}) << "no start or stop was sent";

    heard.clear();
    QTest::keyClick(button, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&heard] { return !heard.empty(); }, 10'000));
    EXPECT_EQ(heard.front(), Messages::UM_START) << "plain Space starts the others too";
}

TEST_F(MainWindowTest, EnterAppliesAFieldAsLeavingItDoesAndHandsTheKeysBack) {
    MDialEdit* tempo = window.panel().TempoDial().GetField();
    ASSERT_NE(tempo, nullptr);
    tempo->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([tempo] { return tempo->hasFocus(); }, 10'000));
    tempo->selectAll();
    QTest::keyClicks(tempo, "150");
    EXPECT_NE(setup.bpm, 150.0) << "the tempo field applies its text only when left";
    QTest::keyClick(tempo, Qt::Key_Return);
    EXPECT_EQ(setup.bpm, 150.0);
    EXPECT_TRUE(window.defaultButton()->hasFocus());

    // Straight after, the keys are playback's again.
    QTest::keyClick(window.defaultButton(), Qt::Key_Space);
    ASSERT_TRUE(player.isRunning());
    QTest::keyClick(window.defaultButton(), Qt::Key_4);
    EXPECT_EQ(setup.playingMeasure, 3);

    // A chord typed wider than its field: Enter tidies it and shows its start again.
    MDialEdit* chord = window.panel().Column(2).GetNoteDial().GetField();
    chord->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([chord] { return chord->hasFocus(); }, 10'000));
    chord->selectAll();
    QTest::keyClicks(chord, "0,4,7,11,14");
    QTest::keyClick(chord, Qt::Key_Enter);
    EXPECT_EQ(setup.measures[0].steps[2].notes, (IntArray{0, 4, 7, 11, 14}));
    EXPECT_EQ(chord->cursorPosition(), 0);
    EXPECT_TRUE(window.defaultButton()->hasFocus());
}

TEST_F(MainWindowTest, ARightClickOnAProgramFieldOpensTheProgramMenuOnly) {
    MDialEdit* field = window.panel().Column(3).GetProgramDial().GetField();
    ASSERT_NE(field, nullptr);
    QTest::mouseClick(field, Qt::RightButton, {}, QPoint(3, 3));
    // The menu request that a desktop sends with a right click.
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(3, 3),
                              field->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(field, &request);
    QMenu* programs = window.panel().Menu().CurrentPopup();
    ASSERT_NE(programs, nullptr);
    EXPECT_NE(MenuTables::FindAction(programs, CommandIds::ID_PROGRAM_BASE + 73), nullptr);
    EXPECT_EQ(QApplication::activePopupWidget(), programs) << "no text-field menu on top";
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
}

TEST(MainWindowStart, AfterAFailedStartFileTheDialsShowTheSetup) {
    QTemporaryDir folder;
    const std::string garbage = folder.filePath("garbage.qov").toStdString();
    {
        std::ofstream out(garbage, std::ios::binary);
        out << "not a setup";
    }
    for (const std::string& path : {folder.filePath("missing.qov").toStdString(), garbage}) {
        WindowFixture fixture(WindowFixture::Start{.busDirectory = {}, .setupPath = path});
        MainWindow& window = fixture.window();
        EXPECT_EQ(fixture.notes.size(), 1u) << path;
        EXPECT_EQ(window.panel().VolumeDial().GetValue(), window.setup().volume) << path;
        EXPECT_EQ(window.panel().TransposeDial().GetValue(), window.setup().transpose) << path;
        EXPECT_EQ(window.panel().TempoDial().GetTempo(), window.setup().bpm) << path;
        EXPECT_EQ(window.setup().volume, 80);
        EXPECT_EQ(window.setup().transpose, 0);
    }
}

TEST(MainWindowStart, ANewCopyOpensClearOfTheCopiesRunning) {
    QTemporaryDir busDir;
    ::chmod(busDir.path().toLocal8Bit().constData(), 0700);
    const std::string directory = busDir.path().toStdString();
    QPoint alone;
    {
        WindowFixture first(WindowFixture::Start{.busDirectory = directory, .setupPath = {}});
        alone = first.window().pos();
    }
    InstanceBus running[2];
    ASSERT_TRUE(running[0].start(directory, ::getpid() + 1'000'002));
    ASSERT_TRUE(running[1].start(directory, ::getpid() + 1'000'003));
    WindowFixture third(WindowFixture::Start{.busDirectory = directory, .setupPath = {}});
    const int step = CCaptionPainter::kCaptionHeight;
    EXPECT_EQ(third.window().pos(), alone + QPoint(2 * step, 2 * step));
}

TEST(WindowPlacement, TheCascadeStaysOnTheScreenAndNeverRepeatsTheLastPlace) {
    const QRect screen(0, 0, 1024, 768);
    const QSize window(707, 184);
    QPoint previous = PlaceClearOfOtherCopies(screen, window, 0, 18);
    EXPECT_EQ(previous, QPoint(158, 291)) << "centred";
    for (int others = 1; others < 60; ++others) {
        const QPoint at = PlaceClearOfOtherCopies(screen, window, others, 18);
        EXPECT_TRUE(screen.contains(QRect(at, window))) << others;
        EXPECT_NE(at, previous) << others;
        previous = at;
    }
    // Larger than the screen: its top-left corner.
    EXPECT_EQ(PlaceClearOfOtherCopies(QRect(0, 0, 600, 100), window, 3, 18), QPoint(0, 0));
}

}  // namespace
