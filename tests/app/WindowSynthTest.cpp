// The built-in synthesizer at start-up: a setup that plays to a device never opens it (nor
// hears of its missing audio output); choosing "MIDI Mapper" later does.

#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <functional>

#include "WindowTestSupport.h"
#include "core/Setup.h"
#include "document/SetupRecord.h"
#include "document/SetupWriter.h"
#include "document/TempFolder.h"
#include "midi/FluidSynthDriver.h"

namespace {

constexpr const char* kDeviceName = "Fake synth:in (ALSA)";

// A device that is always there and takes every message.
class AlwaysThere : public MidiDriver {
public:
    std::vector<std::string> listDevices() override { return {kDeviceName}; }
    std::unique_ptr<MidiConnection> open(const std::string&, int) override {
        return std::make_unique<Sink>();
    }

private:
    struct Sink : MidiConnection {
        bool send(const std::uint8_t*) override { return true; }
    };
};

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(WindowSynth, TheBuiltInSynthesizerOpensOnlyWhenItIsThePortChosen) {
    TempFolder folder;
    SetupRecord record = SetupRecord::fromSetup(::Setup(), 0, 0, 0);
    record.portName = kDeviceName;
    const std::string setupPath = folder.file("device.qov");
    SetupWriter::writeFile(setupPath, record);
    FluidSynthDriver* synth = nullptr;
    WindowFixture::Start start;
    start.setupPath = setupPath;
    const auto makeDrivers = [&synth] {
        OutputPort::Drivers drivers;
        drivers.devices.push_back(std::make_unique<AlwaysThere>());
        // No audio device on any machine: an open would fail and say so.
        FluidSynthDriver::Options options;
        options.audioDrivers = {"alsa"};
        options.alsaDevice = "hw:97,0";
        auto mapper = std::make_unique<FluidSynthDriver>(options);
        synth = mapper.get();
        drivers.mapper = std::move(mapper);
        return drivers;
    };
    WindowFixture fixture(start, makeDrivers);
    MainWindow& window = fixture.window();
    ASSERT_NE(synth, nullptr);
    EXPECT_EQ(window.setup().port.portName, kDeviceName);
    EXPECT_NE(window.setup().port.handle, 0);
    EXPECT_EQ(synth->startedOpens(), 0);
    EXPECT_TRUE(fixture.notes.empty());

    // The user chooses it: now it opens, and tells why it cannot be heard.
    window.port().selectPortByName("MIDI Mapper");
    EXPECT_EQ(synth->startedOpens(), 1);
    EXPECT_TRUE(waitUntil([&] {
        return std::count(fixture.notes.begin(), fixture.notes.end(),
                          FluidSynthDriver::kNoAudioText) == 1;
    }));
}

}  // namespace
