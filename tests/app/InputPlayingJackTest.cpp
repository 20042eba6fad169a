// A keyboard at the window's MIDI input: a JACK client of the test's own plays notes and the
// sustain pedal; the steps, the transpose and what the window plays to a JACK recorder show
// what the input did. The chord collection and the window's input objects are also fed
// directly, for the cases a keyboard cannot time (while playing, with Shift held).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <mutex>

#include "../midi/JackTestSupport.h"
#include "WindowTestSupport.h"
#include "app/ChordCollector.h"
#include "app/InputTransposer.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "app/Preferences.h"
#include "app/StepRecorder.h"
#include "midi/ChannelMessage.h"
#include "midi/JackMidiDriver.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"

namespace {

using namespace CommandIds;

TEST(ChordCollector, OverlappingKeysMakeOneChordHeldWithinTheRange) {
    ChordCollector collector(-59, 67);
    collector.press(64, 40);
    collector.press(0, 90);
    EXPECT_FALSE(collector.release(64));
    collector.press(64, 20);  // again while the chord is held: still one note
    collector.press(1, 30);   // -60 and -59 both land on -59
    collector.press(127, 70);
    for (const int key : {1, 0, 64}) {
        EXPECT_FALSE(collector.release(key));
    }
    const auto chord = collector.release(127);
    ASSERT_TRUE(chord);
    EXPECT_EQ(chord->offsets, (IntArray{-59, 4, 67}));
    EXPECT_EQ(chord->velocity, 90);
    // A key held from before recording is no chord; the next one starts afresh.
    EXPECT_FALSE(collector.release(60));
    collector.press(62, 10);
    EXPECT_EQ(collector.release(62).value_or(ChordCollector::Chord{}).velocity, 10);
}

class InputPlaying : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string name = "glimmerstave-keys-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        serverUp_ = server_.start(name);
    }
    static void TearDownTestSuite() { server_.stop(); }

    // Every step on, playing middle C.
    void SetUp() override {
        ASSERT_TRUE(serverUp_) << "jackd (package jackd2) did not start";
        ASSERT_TRUE(recorder_.open() && keys_.open("keys"));
        ::chmod(busDir_.path().toLocal8Bit().constData(), 0700);
        NoteBox::setHandler([](const std::string&) {});
        Preferences::saveTransposeFromInput(false);
        MainWindow::Options options;
        options.drivers.emplace().devices.push_back(std::make_unique<JackMidiDriver>());
        options.busDirectory = busDir_.path().toStdString();
        options.midiInput = "keys:out (JACK)";
        options.clock.calibrationMs = 1;
        window_ = std::make_unique<MainWindow>(std::move(options));
        window_->initialise();
        window_->show();
        ASSERT_TRUE(waitFor([&] { return jack_port_connected(keys_.port()) >= 1; }));
        std::lock_guard guard(window_->player().engineLock());
        for (int i = 0; i < 16; ++i) {
            step(i) = Step();
        }
    }
    void TearDown() override {
        if (window_ != nullptr && window_->player().isRunning()) {
            window_->player().stop();
        }
        window_.reset();
        NoteBox::setHandler({});
    }

    static bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 10000);
    }
    void send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        keys_.queue(keys_.frameNow(), status, data1, data2);
    }
    static ChannelMessage message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        return ChannelMessage{.status = status, .data1 = data1, .data2 = data2};
    }
    // The loop shown, which a new setup never changes.
    Step& step(int index) {
        return window_->setup().measures[0].steps[static_cast<std::size_t>(index)];
    }
    MDialEdit* chordField(int column) {
        return window_->panel().Column(column).GetNoteDial().GetField();
    }
    bool hasKeys(int column) { return window_->window()->focusWidget() == chordField(column); }

    static inline jacktest::JackServer server_;
    static inline bool serverUp_ = false;
    jacktest::Recorder recorder_;
    jacktest::ClockSource keys_;
    QTemporaryDir busDir_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(InputPlaying, AHeldNoteTransposesTheNextStep) {
    const PortState& port = window_->setup().port;
    const auto names = port.portNames.begin();
    const auto recorder = std::find(names, names + port.deviceCount, "recorder:in (JACK)");
    ASSERT_NE(recorder, names + port.deviceCount) << "recorder:in is not in the MIDI menu";
    window_->panel().Menu().OnCommand(ID_PORT_BASE + static_cast<int>(recorder - names));
    window_->onCommand(ID_TRANSPOSE_FROM_INPUT);
    EXPECT_TRUE(Preferences::transposeFromInputWanted());
    window_->player().toggle();

    send(0x90, 67, 100);
    EXPECT_TRUE(waitFor([&] {
        for (int i = 0; i < recorder_.count(); ++i) {
            const auto& bytes = recorder_.event(i).bytes;
            if ((bytes[0] & 0xF0) == 0x90 && bytes[1] == 67 && bytes[2] > 0) {
                return true;
            }
        }
        return false;
    })) << "no step played a fifth up";
    EXPECT_EQ(window_->panel().TransposeDial().GetValue(), 7);
}

TEST_F(InputPlaying, ChordsAndPedalRestsLandInTheFocusedStepOneUndoStepEach) {
    window_->onCommand(ID_STEP_RECORD);
    chordField(1)->setFocus(Qt::OtherFocusReason);
    // A chord pressed and released out of order, the loudest key in the middle (a Note On of
    // velocity 0 is a release); the pedal pressed, held (its repeat) and let go; one key.
    const std::uint8_t played[][3] = {{0x90, 64, 50},  {0x90, 60, 90},  {0x80, 64, 0},
                                      {0x90, 67, 70},  {0x90, 60, 0},   {0x80, 67, 0},
                                      {0xB0, 64, 127}, {0xB0, 64, 100}, {0xB0, 64, 0},
                                      {0x90, 62, 80},  {0x80, 62, 0}};
    for (const auto& message : played) {
        send(message[0], message[1], message[2]);
    }
    ASSERT_TRUE(waitFor([&] { return step(3).notes[0] == 2 || step(4).notes[0] == 2; }));
    EXPECT_EQ(step(1).notes, (IntArray{0, 4, 7}));
    EXPECT_EQ(step(1).velocity, 90);
    EXPECT_EQ(chordField(1)->GetText(), "0,4,7");
    EXPECT_EQ(step(2).on, 0);
    EXPECT_EQ(step(3).notes, (IntArray{2})) << "the held pedal's repeat entered a second rest";
    EXPECT_TRUE(hasKeys(4));

    window_->onCommand(ID_UNDO);
    EXPECT_EQ(chordField(3)->GetText(), "0");
    EXPECT_EQ(step(2).on, 0) << "Undo took back more than the last step";
}

TEST_F(InputPlaying, RecordingWrapsIgnoresShiftAndWaitsForStopTransposeHoldsInRange) {
    window_->panel().FitWindowToColumns(4);
    StepRecorder& recorder = window_->stepRecorder();
    recorder.setEnabled(true);
    HeldKeys keys;
    keys.shift = true;
    window_->panel().Column(3).GetProgramDial().GetField()->setFocus(Qt::OtherFocusReason);
    recorder.onMessage(message(0xB0, 64, 127));
    EXPECT_EQ(step(3).on, 0);
    EXPECT_EQ(step(2).on, 1) << "spread to the other steps";

    window_->player().toggle();
    recorder.onMessage(message(0x90, 65, 100));
    EXPECT_EQ(window_->panel().StatusLine().GetText(), StepRecorder::kPlayingText);
    window_->player().toggle();
    const std::uint8_t afterStop[][2] = {{0x80, 65}, {0x90, 69}, {0x80, 69}};
    for (const auto& key : afterStop) {
        recorder.onMessage(message(key[0], key[1], 100));
    }
    EXPECT_EQ(step(0).notes, (IntArray{9})) << "the chord begun while playing was not dropped";
    EXPECT_TRUE(hasKeys(1));

    window_->transposer().setEnabled(true);
    window_->transposer().onMessage(message(0x90, 0, 100));
    window_->transposer().onMessage(message(0x80, 0, 0));
    EXPECT_EQ(window_->setup().transpose, -59);
    window_->controller().Undo();
    EXPECT_EQ(step(0).notes, (IntArray{0})) << "the transpose took Undo's snapshot";
}

}  // namespace
