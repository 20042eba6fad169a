#pragma once

// A main window on made-up MIDI devices for the menu, document, clipboard and shell tests,
// a driver for modal dialogs that never blocks a test, and a catcher for "NOTE!" texts.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OutputPortDoubles.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "core/Setup.h"
#include "panels/MainPanel.h"

// Acts on a modal dialog of type T as soon as one is showing: exec() keeps running its own
// event loop, and a timer there finds the dialog. A dialog that never comes makes the test
// fail instead of hang (see pending()).
class DialogDriver {
public:
    ~DialogDriver() {
        for (QTimer* timer : timers_) {
            delete timer;
        }
    }

    template <typename T>
    void expect(std::function<void(T*)> act) {
        auto* timer = new QTimer;
        timers_.push_back(timer);
        ++pending_;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, act] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<T*>(widget);
                if (dialog != nullptr && dialog->isVisible() &&
                    !dialog->property("gs-driven").toBool()) {
                    dialog->setProperty("gs-driven", true);
                    timer->stop();
                    --pending_;
                    act(dialog);
                    return;
                }
            }
        });
        timer->start();
    }

    // Dialogs expected that have not shown up yet.
    int pending() const { return pending_; }

private:
    std::vector<QTimer*> timers_;
    int pending_ = 0;
};

// Runs the event loop until done() holds or the time runs out; true when it held.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 10'000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(busFolder.isValid());
        std::filesystem::permissions(busFolder.path().toStdString(),
                                     std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        previousNoteBox =
            NoteBox::setHandler([this](const std::string& text) { notes.push_back(text); });
        // A modal dialog that no test step waits for would block until the time limit: it is
        // closed after a second and counted instead.
        watchdog.setInterval(100);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || dialogs.pending() > 0 ||
                modal->property("gs-driven").toBool()) {
                unattendedTicks = 0;
                return;
            }
            if (++unattendedTicks >= 10) {
                unexpectedDialogs.push_back(modal->metaObject()->className());
                modal->close();
                unattendedTicks = 0;
            }
        });
        watchdog.start();
    }

    void TearDown() override {
        EXPECT_EQ(dialogs.pending(), 0) << "a dialog the test waited for never showed";
        EXPECT_EQ(unexpectedDialogs, std::vector<std::string>{});
        watchdog.stop();
        if (window) {
            window->setup().dirty = false;  // closing must not ask anything
            window->closeWithoutQuestion();
            window.reset();
        }
        NoteBox::setHandler(std::move(previousNoteBox));
    }

    // Builds and shows the window; deviceNames become the system's MIDI ports.
    void makeWindow(const std::string& setupPath = {},
                    const std::vector<std::string>& deviceNames = {"Alpha", "Beta", "Gamma"}) {
        MainWindow::Options options;
        // No MIDI input: its JACK side looks for a server every second, beside the servers that
        // other tests start and stop.
        options.noMidiInput = true;
        options.setupPath = setupPath;
        options.busDirectory = busFolder.path().toStdString();
        options.clock.calibrationMs = 0;
        options.clock.realtimePriority = 0;
        OutputPort::Drivers drivers;
        auto deviceDriver = std::make_unique<FakeDriver>();
        for (const std::string& name : deviceNames) {
            deviceDriver->add(name);
        }
        devices = deviceDriver.get();
        drivers.devices.push_back(std::move(deviceDriver));
        auto mapperDriver = std::make_unique<FakeDriver>();
        mapperDriver->add(OutputPort::kMapperName);
        mapper = mapperDriver.get();
        drivers.mapper = std::move(mapperDriver);
        options.drivers = std::move(drivers);
        window = std::make_unique<MainWindow>(std::move(options));
        window->initialise();
        window->show();
        QCoreApplication::processEvents();
    }

    ::Setup& setup() { return window->setup(); }
    MenuBar& menu() { return window->panel().Menu(); }
    std::string file(const std::string& name) const {
        return QDir(folder.path()).filePath(QString::fromStdString(name)).toStdString();
    }

    QTemporaryDir folder;
    QTemporaryDir busFolder;
    std::unique_ptr<MainWindow> window;
    FakeDriver* devices = nullptr;
    FakeDriver* mapper = nullptr;
    DialogDriver dialogs;
    QTimer watchdog;
    int unattendedTicks = 0;
    std::vector<std::string> unexpectedDialogs;
    std::vector<std::string> notes;
    std::function<void(const std::string&)> previousNoteBox;
};
