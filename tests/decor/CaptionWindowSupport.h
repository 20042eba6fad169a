#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWindow.h"

// The program's main window as it starts, without MIDI devices and with a private instance
// bus, for the tests and pictures of its painted caption on a real X server.
class CaptionWindowFixture {
public:
    // preference: the stored caption text ("on", "off", or empty for none stored); seed: the
    // generator's seed, which picks the start colour.
    CaptionWindowFixture(const std::string& preference, std::uint32_t seed);
    ~CaptionWindowFixture();

    MainWindow& window() { return *window_; }
    std::vector<std::string> notes;

private:
    QTemporaryDir busDir_;
    std::unique_ptr<MainWindow> window_;
};

// Private XDG folders (mode 0700) for the whole process; call before the QApplication exists.
void UsePrivateXdgFolders(const QTemporaryDir& home);
