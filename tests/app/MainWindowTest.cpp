#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "WindowTestSupport.h"
#include "core/TextFormat.h"
#include "midi/InstanceBus.h"
#include "panels/MainPanel.h"
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

}  // namespace
