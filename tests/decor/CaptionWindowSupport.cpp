#include "CaptionWindowSupport.h"

#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <cstdlib>

#include "app/NoteBox.h"
#include "app/Preferences.h"
#include "core/Random.h"

void UsePrivateXdgFolders(const QTemporaryDir& home) {
    const std::string root = home.path().toStdString();
    for (const char* sub : {"/runtime", "/config", "/data"}) {
        ::mkdir((root + sub).c_str(), 0700);
    }
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
}

CaptionWindowFixture::CaptionWindowFixture(const std::string& preference, std::uint32_t seed) {
    QFile::remove(Preferences::filePath());
    if (!preference.empty()) {
        QSettings settings(Preferences::filePath(), QSettings::IniFormat);
        settings.setValue(QString::fromLatin1(Preferences::kGroup) + QLatin1Char('/') +
                              QString::fromLatin1(Preferences::kCustomCaptionKey),
                          QString::fromStdString(preference));
        settings.sync();
    }
    ::chmod(busDir_.path().toLocal8Bit().constData(), 0700);
    MainWindow::Options options;
    // No MIDI input: its JACK side looks for a server every second, beside the servers that
    // other tests start and stop.
    options.noMidiInput = true;
    options.drivers = OutputPort::Drivers{};
    options.busDirectory = busDir_.path().toStdString();
    options.clock.calibrationMs = 1;
    options.clock.realtimePriority = 0;
    NoteBox::setHandler([this](const std::string& text) { notes.push_back(text); });
    Random::seed(seed);
    window_ = std::make_unique<MainWindow>(std::move(options));
    window_->initialise();
    window_->show();
    QApplication::processEvents();
}

CaptionWindowFixture::~CaptionWindowFixture() {
    if (window_->player().isRunning()) {
        window_->player().stop();
    }
    window_->setup().dirty = false;
    window_.reset();
    NoteBox::setHandler({});
}
