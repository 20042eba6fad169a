#include "WindowTestSupport.h"

#include <sys/stat.h>

#include <QApplication>

#include "app/NoteBox.h"
#include "toolkit/MRect.h"

WindowFixture::WindowFixture(const Start& start, const MakeDrivers& drivers) {
    ::chmod(busDir_.path().toLocal8Bit().constData(), 0700);
    busDirectory_ = start.busDirectory.empty() ? busDir_.path().toStdString() : start.busDirectory;
    MainWindow::Options options;
    // No MIDI input: its JACK side looks for a server every second, beside the servers that
    // other tests start and stop.
    options.noMidiInput = true;
    options.drivers = drivers ? drivers() : OutputPort::Drivers{};
    options.busDirectory = busDirectory_;
    options.setupPath = start.setupPath;
    options.clock.calibrationMs = 1;
    options.clock.realtimePriority = 0;
    NoteBox::setHandler([this](const std::string& text) { notes.push_back(text); });
    window_ = std::make_unique<MainWindow>(std::move(options));
    window_->initialise();
    window_->show();
    window_->activateWindow();
    QApplication::processEvents();
}

WindowFixture::~WindowFixture() {
    if (window_->player().isRunning()) {
        window_->player().stop();
    }
    window_->setup().dirty = false;
    window_.reset();
    NoteBox::setHandler({});
}

QPoint WindowFixture::centreOf(const MRect& rect) {
    return QPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}
