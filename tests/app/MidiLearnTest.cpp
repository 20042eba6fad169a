// MIDI learn end to end: a JACK source of the test's own plays into the window's input; pads
// and a knob learned by clicking the controls then work the window as keys and mouse do.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QHelpEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <memory>
#include <string>

#include "../midi/JackTestSupport.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "app/Preferences.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "sync/TimeKeeper.h"

namespace {

constexpr int kPatienceMs = 10000;

class MidiLearnOnJack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string name = "glimmerstave-learn-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        server_ = new jacktest::JackServer;
        serverUp_ = server_->start(name);
    }
    static void TearDownTestSuite() {
        server_->stop();
        delete server_;
    }

    void SetUp() override {
        ASSERT_TRUE(serverUp_) << "jackd (package jackd2) did not start";
        ASSERT_TRUE(pads_.open("pads"));
        ::chmod(busDir_.path().toLocal8Bit().constData(), 0700);
        NoteBox::setHandler([](const std::string&) {});
        MainWindow::Options options;
        options.drivers = OutputPort::Drivers{};
        options.busDirectory = busDir_.path().toStdString();
        options.clock.calibrationMs = 1;
        options.clock.realtimePriority = 0;
        options.midiInput = "pads:out (JACK)";
        window_ = std::make_unique<MainWindow>(std::move(options));
        window_->initialise();
        window_->show();
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return jack_port_connected(pads_.port()) > 0; }, kPatienceMs))
            << "the window's input did not connect to the pads";
    }
    void TearDown() override {
        window_->setup().dirty = false;
        window_.reset();
        pads_.close();
        NoteBox::setHandler({});
        Preferences::saveMidiBindingLines({});
    }

    void send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        pads_.queue(pads_.frameNow(), status, data1, data2);
    }
    void hit(std::uint8_t note) {
        send(0x90, note, 100);
        send(0x80, note, 0);
    }
    static QPoint centreOf(const MRect& rect) {
        return QPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    }
    void click(const MRect& rect) {
        QTest::mouseClick(window_.get(), Qt::LeftButton, {}, centreOf(rect));
    }
    // Clicks the control, sends the message and waits for the binding the status line shows.
    void learn(const MRect& rect, std::uint8_t status, std::uint8_t number,
               const std::string& line) {
        click(rect);
        send(status, number, 100);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window_->panel().StatusLine().GetText() == line; },
                                    kPatienceMs))
            << line << " was not learned";
    }
    bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, kPatienceMs);
    }

    static jacktest::JackServer* server_;
    static bool serverUp_;
    jacktest::ClockSource pads_;
    QTemporaryDir busDir_;
    std::unique_ptr<MainWindow> window_;
};

jacktest::JackServer* MidiLearnOnJack::server_ = nullptr;
bool MidiLearnOnJack::serverUp_ = false;

TEST_F(MidiLearnOnJack, LearnedPadsPlayStopAndPickLoopsAndALearnedKnobSetsTheVolume) {
    MainWindow& window = *window_;
    MainPanel& panel = window.panel();
    Player& player = window.player();
    window.onCommand(CommandIds::ID_MIDI_LEARN);
    learn(panel.PlayButton().GetRect(), 0x90, 36, "note 1 36 = play");
    EXPECT_FALSE(player.isRunning()) << "a click while learning must choose, not play";
    learn(panel.LoopGroup().GetElementRect(2), 0x90, 38, "note 1 38 = loop 3");
    learn(panel.LoopGroup().GetElementRect(1), 0x91, 37, "note 2 37 = loop 2");
    learn(panel.VolumeDial().GetBar().GetRect(), 0xB0, 7, "cc 1 7 = volume");
    QTest::keyClick(&window, Qt::Key_Escape);
    click(panel.LoopGroup().GetElementRect(4));
    ASSERT_EQ(window.setup().selectedMeasure, 4) << "after Escape a click acts again";

    hit(38);
    EXPECT_TRUE(waitFor([&] { return window.setup().selectedMeasure == 2; }));
    hit(36);
    ASSERT_TRUE(waitFor([&] { return player.isRunning(); })) << "the play pad did not start";
    send(0x91, 37, 90);
    EXPECT_TRUE(waitFor([&] { return window.setup().playingMeasure == 1; }))
        << "the loop pad did not jump while playing";
    hit(36);
    EXPECT_TRUE(waitFor([&] { return !player.isRunning(); })) << "the play pad did not stop";

    window.setup().dirty = false;
    send(0xB0, 7, 127);
    EXPECT_TRUE(waitFor([&] { return window.setup().volume == 100; }));
    send(0xB0, 7, 0);
    EXPECT_TRUE(waitFor([&] { return window.setup().volume == 0; }));
    EXPECT_EQ(panel.VolumeDial().GetValue(), 0);
    EXPECT_TRUE(window.setup().dirty);

    // Followed MIDI clock leads: the pad is refused as Space is, with the same note.
    window.time().setClockFollowed(true);
    hit(36);
    EXPECT_TRUE(waitFor([&] {
        return panel.StatusLine().GetText().find("MIDI clock leads") != std::string::npos;
    }));
    EXPECT_FALSE(player.isRunning());
    window.time().setClockFollowed(false);

    const QPoint play = centreOf(panel.PlayButton().GetRect());
    QHelpEvent tipAsked(QEvent::ToolTip, play, window.mapToGlobal(play));
    QApplication::sendEvent(&window, &tipAsked);
    EXPECT_EQ(QToolTip::text().toStdString(), "Play / stop (Space) (MIDI: note 1 36)");
    EXPECT_EQ(Preferences::midiBindingLines(),
              (std::vector<std::string>{"note 1 36 = play", "note 1 38 = loop 3",
                                        "note 2 37 = loop 2", "cc 1 7 = volume"}));
    window.onCommand(CommandIds::ID_CLEAR_MIDI_LEARN);
    EXPECT_TRUE(Preferences::midiBindingLines().empty());
}

}  // namespace
