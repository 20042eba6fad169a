// Playing the window from a keyboard: a JACK client of the test's own sends notes and the
// sustain pedal into the window's MIDI input; the steps, the transpose and what the window
// plays to a JACK recorder show what the input did.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "../midi/JackTestSupport.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "app/Preferences.h"
#include "midi/JackMidiDriver.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "toolkit/MDialEdit.h"

namespace {

using namespace CommandIds;

constexpr int kWaitMs = 10000;

class InputPlaying : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string name = "glimmerstave-keys-" + std::to_string(::getpid());
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
        ASSERT_TRUE(recorder_.open("recorder"));
        ASSERT_TRUE(keys_.open("keys"));
        ::chmod(busDir_.path().toLocal8Bit().constData(), 0700);
        NoteBox::setHandler([](const std::string&) {});
        Preferences::saveTransposeFromInput(false);

        MainWindow::Options options;
        OutputPort::Drivers drivers;
        drivers.devices.push_back(std::make_unique<JackMidiDriver>());
        options.drivers = std::move(drivers);
        options.busDirectory = busDir_.path().toStdString();
        options.midiInput = "keys:out (JACK)";
        options.clock.calibrationMs = 1;
        options.clock.realtimePriority = 0;
        window_ = std::make_unique<MainWindow>(std::move(options));
        window_->initialise();
        window_->show();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return jack_port_connected(keys_.port()) >= 1; }, kWaitMs))
            << "the window did not connect its input to the keys";
    }
    void TearDown() override {
        if (window_ != nullptr && window_->player().isRunning()) {
            window_->player().stop();
        }
        if (window_ != nullptr) {
            window_->setup().dirty = false;
        }
        window_.reset();
        keys_.close();
        NoteBox::setHandler({});
    }

    void send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        keys_.queue(keys_.frameNow(), status, data1, data2);
    }
    Step& step(int index) {
        ::Setup& setup = window_->setup();
        return setup.measures[static_cast<std::size_t>(setup.selectedMeasure)]
            .steps[static_cast<std::size_t>(index)];
    }
    MDialEdit* chordField(int column) {
        return window_->panel().Column(column).GetNoteDial().GetField();
    }
    bool chordFieldHasFocus(int column) {
        return window_->window()->focusWidget() == chordField(column);
    }

    static jacktest::JackServer* server_;
    static bool serverUp_;
    jacktest::Recorder recorder_;
    jacktest::ClockSource keys_;
    QTemporaryDir busDir_;
    std::unique_ptr<MainWindow> window_;
};

jacktest::JackServer* InputPlaying::server_ = nullptr;
bool InputPlaying::serverUp_ = false;

TEST_F(InputPlaying, AHeldNoteTransposesTheNextStep) {
    // Every step plays middle C, so any other note comes from the transpose.
    {
        std::lock_guard guard(window_->player().engineLock());
        for (int i = 0; i < 16; ++i) {
            step(i).on = 1;
            step(i).setNotes(IntArray{0});
            step(i).velocity = 100;
        }
    }
    window_->controller().LoadMeasureIntoColumns(window_->setup().selectedMeasure);
    const PortState& port = window_->setup().port;
    const auto names = port.portNames.begin();
    const auto found = std::find(names, names + port.deviceCount, "recorder:in (JACK)");
    ASSERT_NE(found, names + port.deviceCount) << "recorder:in is not in the MIDI menu";
    window_->panel().Menu().OnCommand(ID_PORT_BASE + static_cast<int>(found - names));
    ASSERT_NE(port.handle, 0) << "recorder:in did not open";
    window_->onCommand(ID_TRANSPOSE_FROM_INPUT);
    EXPECT_TRUE(Preferences::transposeFromInputWanted());
    window_->player().toggle();

    send(0x90, 67, 100);
    const auto heardG = [&] {
        for (int i = 0; i < recorder_.count(); ++i) {
            const auto& e = recorder_.event(i);
            if ((e.bytes[0] & 0xF0) == 0x90 && e.bytes[1] == 67 && e.bytes[2] > 0) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(heardG, kWaitMs)) << "no step played a fifth up";
    EXPECT_EQ(window_->setup().transpose, 7);
    EXPECT_EQ(window_->panel().TransposeDial().GetValue(), 7);
}

TEST_F(InputPlaying, ARecordedChordLandsInTheFocusedStepAndUndoTakesItBack) {
    {
        std::lock_guard guard(window_->player().engineLock());
        step(1).on = 0;
        step(1).setNotes(IntArray{5});
        step(1).velocity = 10;
    }
    window_->controller().LoadMeasureIntoColumns(window_->setup().selectedMeasure);
    window_->setup().dirty = false;
    window_->onCommand(ID_STEP_RECORD);
    chordField(1)->setFocus(Qt::OtherFocusReason);

    // Pressed and released out of order, the loudest key in the middle.
    send(0x90, 64, 50);
    send(0x90, 60, 90);
    send(0x80, 64, 0);
    send(0x90, 67, 70);
    send(0x90, 60, 0);  // a Note On of velocity 0 is a release
    send(0x80, 67, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return step(1).on == 1; }, kWaitMs))
        << "the chord did not reach step 2";
    EXPECT_EQ(step(1).notes, (IntArray{0, 4, 7}));
    EXPECT_EQ(step(1).velocity, 90);
    EXPECT_EQ(chordField(1)->GetText(), "0,4,7");
    EXPECT_TRUE(chordFieldHasFocus(2));
    EXPECT_TRUE(window_->setup().dirty);

    window_->onCommand(ID_UNDO);
    EXPECT_EQ(step(1).on, 0);
    EXPECT_EQ(step(1).notes, (IntArray{5}));
    EXPECT_EQ(step(1).velocity, 10);
    EXPECT_EQ(chordField(1)->GetText(), "5");
}

TEST_F(InputPlaying, ThePedalEntersARestAndItsRepeatsDoNot) {
    {
        std::lock_guard guard(window_->player().engineLock());
        step(0).on = 1;
        step(1).on = 1;
        step(1).setNotes(IntArray{5});
    }
    window_->controller().LoadMeasureIntoColumns(window_->setup().selectedMeasure);
    window_->onCommand(ID_STEP_RECORD);
    window_->focusDefaultButton();  // no step column has the keys: step 1 is next

    send(0xB0, 64, 127);
    send(0xB0, 64, 100);  // still down
    send(0xB0, 64, 0);
    send(0x90, 62, 80);
    send(0x80, 62, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return step(1).notes == IntArray{2}; }, kWaitMs))
        << "the note after the rest did not reach step 2";
    EXPECT_EQ(step(0).on, 0);
    EXPECT_EQ(step(1).on, 1);
    EXPECT_TRUE(chordFieldHasFocus(2));
}

}  // namespace
