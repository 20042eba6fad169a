// The embedded synthesizer behind "MIDI Mapper": it really sounds (rendered offline), and
// it fails cleanly when it has no sound font or no audio device.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/Messages.h"
#include "core/Setup.h"
#include "midi/FluidSynthDriver.h"
#include "midi/OutputPort.h"

namespace {

constexpr int kRate = 44100;

int peak(const std::vector<std::int16_t>& samples) {
    int loudest = 0;
    for (std::int16_t sample : samples) {
        loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
    }
    return loudest;
}

std::vector<std::int16_t> render(OfflineSynth& synth, int frames) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2);
    synth.render(samples.data(), frames);
    return samples;
}

std::unique_ptr<OfflineSynth> makeSynth() {
    const std::string soundFont = FluidSynthDriver::findSoundFont();
    if (soundFont.empty()) {
        return nullptr;
    }
    return OfflineSynth::create(soundFont, kRate);
}

TEST(FluidSynth, TheGeneralMidiSoundFontIsInstalled) {
    EXPECT_FALSE(FluidSynthDriver::findSoundFont().empty())
        << "install timgm6mb-soundfont (scripts/install-deps.sh)";
}

TEST(FluidSynth, ANoteOnSoundsAndSilenceBeforeItIsSilent) {
    auto synth = makeSynth();
    ASSERT_NE(synth, nullptr);
    EXPECT_LE(peak(render(*synth, kRate / 10)), 2);  // 16-bit output is dithered

    const std::uint8_t noteOn[3] = {0x90, 60, 110};
    EXPECT_TRUE(synth->send(noteOn));
    EXPECT_GT(peak(render(*synth, kRate / 2)), 1000);
}

TEST(FluidSynth, AVelocityZeroNoteOnReleasesTheNote) {
    auto synth = makeSynth();
    ASSERT_NE(synth, nullptr);
    const std::uint8_t noteOn[3] = {0x90, 60, 110};
    const std::uint8_t release[3] = {0x90, 60, 0};
    synth->send(noteOn);
    render(*synth, kRate / 4);
    synth->send(release);
    render(*synth, kRate * 2);  // the release tail dies away
    EXPECT_LT(peak(render(*synth, kRate / 10)), 50);
}

TEST(FluidSynth, AllNotesOffOnAnotherChannelLeavesTheNoteSounding) {
    auto synth = makeSynth();
    ASSERT_NE(synth, nullptr);
    const std::uint8_t organ[3] = {0xC2, 19, 0};  // a sustained program
    const std::uint8_t noteOn[3] = {0x92, 60, 110};
    const std::uint8_t otherOff[3] = {0xB3, 123, 0};
    const std::uint8_t ownOff[3] = {0xB2, 123, 0};
    synth->send(organ);
    synth->send(noteOn);
    render(*synth, kRate / 4);
    synth->send(otherOff);
    render(*synth, kRate);
    EXPECT_GT(peak(render(*synth, kRate / 10)), 1000);
    synth->send(ownOff);
    render(*synth, kRate * 2);
    EXPECT_LT(peak(render(*synth, kRate / 10)), 50);
}

TEST(FluidSynth, AMissingSoundFontFailsWithAClearMessage) {
    FluidSynthDriver::Options options;
    options.soundFont = "/nonexistent/none.sf2";
    FluidSynthDriver driver(options);
    EXPECT_EQ(driver.open("MIDI Mapper", 0), nullptr);
    EXPECT_NE(driver.lastError().find("/nonexistent/none.sf2"), std::string::npos);
    EXPECT_EQ(OfflineSynth::create("/nonexistent/none.sf2", kRate), nullptr);
}

TEST(FluidSynth, TheSoundFontCanBeNamedInTheEnvironment) {
    ::setenv("GLIMMERSTAVE_SOUNDFONT", "/somewhere/else.sf2", 1);
    EXPECT_EQ(FluidSynthDriver::findSoundFont(), "/somewhere/else.sf2");
    ::unsetenv("GLIMMERSTAVE_SOUNDFONT");
    EXPECT_NE(FluidSynthDriver::findSoundFont(), "/somewhere/else.sf2");
}

// An ALSA device that exists on no machine stands for "no audio device".
FluidSynthDriver::Options withoutAudioDevice() {
    FluidSynthDriver::Options options;
    options.audioDrivers = {"alsa"};
    options.alsaDevice = "hw:97,0";
    return options;
}

TEST(FluidSynth, WithoutAnAudioDeviceTheOpenFailsCleanly) {
    FluidSynthDriver driver(withoutAudioDevice());
    EXPECT_EQ(driver.open("MIDI Mapper", 0), nullptr);
    EXPECT_NE(driver.lastError().find("audio device"), std::string::npos);
    // A second attempt fails the same way (nothing half-open is left behind).
    EXPECT_EQ(driver.open("MIDI Mapper", 0), nullptr);
}

TEST(FluidSynth, AnUnknownAudioDriverFailsCleanly) {
    FluidSynthDriver::Options options;
    options.audioDrivers = {"no-such-driver"};
    FluidSynthDriver driver(options);
    EXPECT_EQ(driver.open("MIDI Mapper", 0), nullptr);
}

TEST(FluidSynth, AMapperWithoutAudioLeavesThePortSilentAndBroadcastsBusy) {
    ::Setup setup;
    OutputPort::Drivers drivers;
    drivers.mapper = std::make_unique<FluidSynthDriver>(withoutAudioDevice());
    OutputPort port(setup, std::move(drivers));
    std::vector<std::pair<int, std::intptr_t>> broadcasts;
    port.setBroadcast([&](int message, std::intptr_t, std::intptr_t lParam) {
        broadcasts.emplace_back(message, lParam);
        return 1;
    });
    port.enumeratePorts();

    EXPECT_EQ(setup.port.handle, 0);
    EXPECT_EQ(setup.portOpenedHere, 0);
    EXPECT_EQ(broadcasts, (std::vector<std::pair<int, std::intptr_t>>{
                              {Messages::UM_PORT_BUSY, -1}}));
    port.sendShort(0x90, 60, 100);
}

}  // namespace
