// The main window playing to a JACK recorder: whatever lets go of the port while it plays
// (another port chosen from the MIDI menu, Exit) leaves All Notes Off as the last message the
// old port hears, in every run.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "../midi/JackTestSupport.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "midi/JackMidiDriver.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"

namespace {

using jacktest::JackServer;
using jacktest::Recorder;

class WindowOnJack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string name = "glimmerstave-window-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        server_ = new JackServer;
        // A desktop's long period: a port closed between two cycles misses what is queued.
        serverUp_ = server_->start(name, 1024);
    }
    static void TearDownTestSuite() {
        server_->stop();
        delete server_;
    }

    void SetUp() override {
        ASSERT_TRUE(serverUp_) << "jackd (package jackd2) did not start";
        ASSERT_TRUE(recorder_.open("recorder"));
        ASSERT_TRUE(other_.open("other"));
        ::chmod(busDir_.path().toLocal8Bit().constData(), 0700);
        NoteBox::setHandler([](const std::string&) {});
    }
    void TearDown() override {
        if (window_ != nullptr && window_->player().isRunning()) {
            window_->player().stop();
        }
        window_.reset();
        NoteBox::setHandler({});
    }

    void openWindow() {
        MainWindow::Options options;
        OutputPort::Drivers drivers;
        drivers.devices.push_back(std::make_unique<JackMidiDriver>());
        options.drivers = std::move(drivers);
        options.busDirectory = busDir_.path().toStdString();
        options.clock.calibrationMs = 1;
        options.clock.realtimePriority = 0;
        window_ = std::make_unique<MainWindow>(std::move(options));
        window_->initialise();
        window_->show();
    }

    // The MIDI menu's entry for the device.
    void choose(const std::string& device) {
        const PortState& port = window_->setup().port;
        const auto begin = port.portNames.begin();
        const auto found = std::find(begin, begin + port.deviceCount, device);
        ASSERT_NE(found, begin + port.deviceCount) << device << " is not in the MIDI menu";
        window_->panel().Menu().OnCommand(CommandIds::ID_PORT_BASE +
                                          static_cast<int>(found - begin));
        ASSERT_NE(window_->setup().port.handle, 0) << device << " did not open";
    }

    static bool hears(const Recorder& recorder, int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (recorder.count() < count && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            jacktest::sleepMicroseconds(2000);
        }
        return recorder.count() >= count;
    }

    static bool lastIsAllNotesOff(const Recorder& recorder) {
        const Recorder::Event& last = recorder.event(recorder.count() - 1);
        return last.size == 3 && (last.bytes[0] & 0xF0) == 0xB0 && last.bytes[1] == 123 &&
               last.bytes[2] == 0;
    }

    static JackServer* server_;
    static bool serverUp_;
    Recorder recorder_;
    Recorder other_;
    QTemporaryDir busDir_;
    std::unique_ptr<MainWindow> window_;
};

JackServer* WindowOnJack::server_ = nullptr;
bool WindowOnJack::serverUp_ = false;

TEST_F(WindowOnJack, AnotherPortChosenWhilePlayingLeavesAllNotesOffLastAtTheOldOne) {
    openWindow();
    for (int run = 0; run < 3; ++run) {
        choose("recorder:in (JACK)");
        window_->player().toggle();
        ASSERT_TRUE(hears(recorder_, recorder_.count() + 4)) << "run " << run;
        const int otherHeard = other_.count();
        choose("other:in (JACK)");
        // The switch returns once the old port has been given what was queued for it.
        EXPECT_TRUE(lastIsAllNotesOff(recorder_)) << "run " << run;
        EXPECT_TRUE(hears(other_, otherHeard + 1)) << "run " << run << ": the new port is silent";
        window_->player().toggle();
    }
}

TEST_F(WindowOnJack, ExitWhilePlayingLeavesAllNotesOffLast) {
    for (int run = 0; run < 3; ++run) {
        openWindow();
        choose("recorder:in (JACK)");
        window_->setup().dirty = false;
        window_->player().toggle();
        ASSERT_TRUE(hears(recorder_, recorder_.count() + 4)) << "run " << run;
        window_->onCommand(CommandIds::ID_EXIT);
        EXPECT_FALSE(window_->isVisible()) << "run " << run;
        EXPECT_TRUE(lastIsAllNotesOff(recorder_)) << "run " << run;
        window_.reset();
    }
}

}  // namespace
