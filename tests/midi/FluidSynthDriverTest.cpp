// The embedded synthesizer behind "MIDI Mapper": it really sounds (rendered offline, or to
// the file audio output), it holds what is sent while it opens, and it fails cleanly, after
// the open has returned, when it has no sound font or no audio output.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
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

// The late failures a driver reports from its own threads.
class FailureLog {
public:
    MidiDriver::LateFailure handler() {
        return [this](const MidiConnection* connection, const std::string& reason) {
            std::lock_guard guard(mutex_);
            reports_.emplace_back(connection, reason);
            changed_.notify_all();
        };
    }
    // The first `count` reports, once there are that many (10 s at most).
    std::vector<std::pair<const MidiConnection*, std::string>> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return reports_.size() >= count; });
        return reports_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<const MidiConnection*, std::string>> reports_;
};

TEST(FluidSynth, AMissingSoundFontFailsAfterTheOpenWithAClearMessage) {
    FluidSynthDriver::Options options;
    options.soundFont = "/nonexistent/none.sf2";
    FluidSynthDriver driver(options);
    FailureLog failures;
    driver.setLateFailureHandler(failures.handler());
    const std::unique_ptr<MidiConnection> synth = driver.open("MIDI Mapper", 0);
    ASSERT_NE(synth, nullptr) << "the open returns before the synthesizer is loaded";
    const auto reports = failures.waitFor(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, synth.get());
    EXPECT_NE(reports[0].second.find("/nonexistent/none.sf2"), std::string::npos);
    const std::uint8_t noteOn[3] = {0x90, 60, 100};
    EXPECT_FALSE(synth->send(noteOn)) << "a failed synthesizer takes nothing";
    EXPECT_EQ(OfflineSynth::create("/nonexistent/none.sf2", kRate), nullptr);
}

TEST(FluidSynth, TheSoundFontCanBeNamedInTheEnvironment) {
    ::setenv("GLIMMERSTAVE_SOUNDFONT", "/somewhere/else.sf2", 1);
    EXPECT_EQ(FluidSynthDriver::findSoundFont(), "/somewhere/else.sf2");
    ::unsetenv("GLIMMERSTAVE_SOUNDFONT");
    EXPECT_NE(FluidSynthDriver::findSoundFont(), "/somewhere/else.sf2");
}

TEST(FluidSynth, SoundFontsAreTriedInOrderAfterTheEnvironment) {
    ::unsetenv("GLIMMERSTAVE_SOUNDFONT");
    char folder[] = "/tmp/glimmerstave-fonts-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string root = folder;
    const std::string fonts = root + "/usr/share/sounds/sf2/";
    std::filesystem::create_directories(fonts);
    EXPECT_EQ(FluidSynthDriver::findSoundFont(root), "");
    // Each font placed is preferred to those placed before it.
    for (const char* name : {"FluidR3_GM.sf2", "default-GM.sf2", "TimGM6mb.sf2"}) {
        std::ofstream(fonts + name).put('x');
        EXPECT_EQ(FluidSynthDriver::findSoundFont(root), fonts + name);
    }
    ::setenv("GLIMMERSTAVE_SOUNDFONT", "/somewhere/else.sf2", 1);
    EXPECT_EQ(FluidSynthDriver::findSoundFont(root), "/somewhere/else.sf2");
    ::unsetenv("GLIMMERSTAVE_SOUNDFONT");
    std::filesystem::remove_all(root);
}

// An ALSA device that exists on no machine stands for "no audio device".
FluidSynthDriver::Options withoutAudioDevice() {
    FluidSynthDriver::Options options;
    options.audioDrivers = {"alsa"};
    options.alsaDevice = "hw:97,0";
    return options;
}

TEST(FluidSynth, WithoutAnAudioOutputEachOpenFailsSayingSo) {
    FluidSynthDriver driver(withoutAudioDevice());
    FailureLog failures;
    driver.setLateFailureHandler(failures.handler());
    std::unique_ptr<MidiConnection> first = driver.open("MIDI Mapper", 0);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(failures.waitFor(1).size(), 1u);
    // A second attempt fails the same way (nothing half-open is left behind).
    std::unique_ptr<MidiConnection> second = driver.open("MIDI Mapper", 0);
    const auto reports = failures.waitFor(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].second, FluidSynthDriver::kNoAudioText);
    EXPECT_EQ(reports[1].first, second.get());
    EXPECT_EQ(reports[1].second, FluidSynthDriver::kNoAudioText);

    FluidSynthDriver::Options unknown;
    unknown.audioDrivers = {"no-such-driver"};
    FluidSynthDriver other(unknown);
    FailureLog otherFailures;
    other.setLateFailureHandler(otherFailures.handler());
    std::unique_ptr<MidiConnection> third = other.open("MIDI Mapper", 0);
    ASSERT_EQ(otherFailures.waitFor(1).size(), 1u);
}

// Samples of the "file" audio output (raw, 16-bit stereo) above the dither.
bool fileHasSound(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::int16_t samples[4096];
    bool loud = false;
    std::size_t got = 0;
    while (!loud && (got = std::fread(samples, sizeof samples[0], 4096, file)) > 0) {
        for (std::size_t i = 0; i < got && !loud; ++i) {
            loud = std::abs(static_cast<int>(samples[i])) > 1000;
        }
    }
    std::fclose(file);
    return loud;
}

TEST(FluidSynth, MessagesSentWhileTheSynthesizerLoadsAreHeldAndThenPlayed) {
    char folder[] = "/tmp/glimmerstave-synth-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string output = std::string(folder) + "/out.raw";
    FluidSynthDriver::Options options;
    options.audioDrivers = {"file"};
    options.audioSettings = {{"audio.file.name", output}, {"audio.file.type", "raw"}};
    FluidSynthDriver driver(options);
    FailureLog failures;
    driver.setLateFailureHandler(failures.handler());
    std::unique_ptr<MidiConnection> synth = driver.open("MIDI Mapper", 0);
    ASSERT_NE(synth, nullptr);
    // Sent at once, while the sound font is still loading: held, not lost.
    const std::uint8_t noteOn[3] = {0x90, 60, 120};
    EXPECT_TRUE(synth->send(noteOn));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fileHasSound(output) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fileHasSound(output)) << "the held note-on was never played";
    synth.reset();
    std::remove(output.c_str());
    rmdir(folder);
}

// While opens are held nothing is loaded: a connection closed before they are let go (the
// setup chose another port) is never opened at all; one still open then opens and plays what
// it held.
TEST(FluidSynth, HeldOpensOpenOnlyTheConnectionStillOpenWhenLetGo) {
    char folder[] = "/tmp/glimmerstave-synth-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string output = std::string(folder) + "/out.raw";
    FluidSynthDriver::Options options;
    options.audioDrivers = {"file"};
    options.audioSettings = {{"audio.file.name", output}, {"audio.file.type", "raw"}};
    FluidSynthDriver driver(options);
    FailureLog failures;
    driver.setLateFailureHandler(failures.handler());
    const std::uint8_t noteOn[3] = {0x90, 60, 120};

    driver.setOpensHeld(true);
    std::unique_ptr<MidiConnection> replaced = driver.open("MIDI Mapper", 0);
    EXPECT_TRUE(replaced->send(noteOn)) << "held";
    replaced.reset();
    driver.setOpensHeld(false);
    EXPECT_EQ(driver.startedOpens(), 0);
    EXPECT_FALSE(std::filesystem::exists(output));

    driver.setOpensHeld(true);
    std::unique_ptr<MidiConnection> chosen = driver.open("MIDI Mapper", 0);
    EXPECT_TRUE(chosen->send(noteOn));
    // Closed and opened again while held (a port reopened): still one synthesizer to come.
    chosen.reset();
    chosen = driver.open("MIDI Mapper", 0);
    EXPECT_TRUE(chosen->send(noteOn));
    EXPECT_EQ(driver.startedOpens(), 0);
    driver.setOpensHeld(false);
    EXPECT_EQ(driver.startedOpens(), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fileHasSound(output) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fileHasSound(output)) << "the held note-on was never played";
    chosen.reset();
    std::remove(output.c_str());
    rmdir(folder);
}

TEST(FluidSynth, AnOpenThatDoesNotSettleInTimeIsGivenUpAndDropsWhatItHeld) {
    // A sound font that is a pipe nobody writes to: its load waits until the test lets go.
    char folder[] = "/tmp/glimmerstave-synth-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string pipe = std::string(folder) + "/stuck.sf2";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    FluidSynthDriver::Options options;
    options.soundFont = pipe;
    options.openTimeoutMs = 100;
    FluidSynthDriver driver(options);
    FailureLog failures;
    driver.setLateFailureHandler(failures.handler());
    std::unique_ptr<MidiConnection> synth = driver.open("MIDI Mapper", 0);
    const std::uint8_t noteOn[3] = {0x90, 60, 120};
    EXPECT_TRUE(synth->send(noteOn)) << "held while opening";
    const auto reports = failures.waitFor(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].second.find("did not open within"), std::string::npos)
        << reports[0].second;
    EXPECT_NE(reports[0].second.find(FluidSynthDriver::kNoAudioText), std::string::npos);
    EXPECT_FALSE(synth->send(noteOn)) << "given up: dropped";
    // Lets the stuck load end (it reads an empty file and fails, to no one).
    const int writer = ::open(pipe.c_str(), O_WRONLY);
    if (writer >= 0) {
        ::close(writer);
    }
    synth.reset();
    std::remove(pipe.c_str());
    rmdir(folder);
}

TEST(FluidSynth, AMapperWithoutAudioFailsLikeAnyOpenAndSaysSoOncePerRun) {
    ::Setup setup;
    OutputPort::Drivers drivers;
    drivers.mapper = std::make_unique<FluidSynthDriver>(withoutAudioDevice());
    OutputPort port(setup, std::move(drivers));
    std::vector<std::pair<int, std::intptr_t>> broadcasts;
    port.setBroadcast([&](int message, std::intptr_t, std::intptr_t lParam) {
        broadcasts.emplace_back(message, lParam);
        return 1;
    });
    std::vector<std::string> notes;
    port.setShowNote([&](const std::string& text) { notes.push_back(text); });
    // The window thread's queue: posted from the synthesizer's thread, run here.
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<std::function<void()>> calls;
    port.setPost([&](std::function<void()> call) {
        std::lock_guard guard(mutex);
        calls.push_back(std::move(call));
        posted.notify_all();
    });
    const auto runPosted = [&] {
        std::vector<std::function<void()>> due;
        {
            std::unique_lock lock(mutex);
            posted.wait_for(lock, std::chrono::seconds(10), [&] { return !calls.empty(); });
            due.swap(calls);
        }
        for (auto& call : due) {
            call();
        }
        return due.size();
    };

    port.enumeratePorts();
    EXPECT_NE(setup.port.handle, 0) << "opening, not failed yet";
    EXPECT_TRUE(broadcasts.empty());
    port.sendShort(0x90, 60, 100);
    ASSERT_EQ(runPosted(), 1u);
    EXPECT_EQ(setup.port.handle, 0);
    EXPECT_EQ(setup.portOpenedHere, 0);
    EXPECT_EQ(broadcasts, (std::vector<std::pair<int, std::intptr_t>>{
                              {Messages::UM_PORT_BUSY, -1}}));
    EXPECT_EQ(notes, std::vector<std::string>{FluidSynthDriver::kNoAudioText});
    port.sendShort(0x90, 60, 100);

    // The reopen that every start asks for fails the same way, without a second box.
    port.reopenPort();
    ASSERT_EQ(runPosted(), 1u);
    EXPECT_EQ(setup.port.handle, 0);
    EXPECT_EQ(broadcasts.size(), 2u);
    EXPECT_EQ(notes.size(), 1u);
}

}  // namespace
