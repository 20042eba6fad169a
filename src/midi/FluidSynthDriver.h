#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "midi/MidiDriver.h"

struct SynthOpening;

// "MIDI Mapper": the embedded General MIDI synthesizer (FluidSynth with the TimGM6mb sound
// font) playing to an audio output. Each open makes its own synthesizer, on threads of its
// own: open() returns at once with a connection that holds the messages sent to it, in order,
// until the sound font is loaded and the audio output open, and then plays them. When that
// fails (no sound font, no audio output) or takes longer than openTimeoutMs, the held
// messages are dropped, the connection stays silent and the late-failure handler is told.
// A connection closed while its synthesizer is still opening leaves that open running for
// the next open() to take over, so that a close-and-reopen does not load the font twice.
// A JACK output follows its server: when a server of the same name starts again after the
// one played to went away, the output opens again on the same synthesizer, connected to the
// playback ports as at first (SynthJackFollower).
class FluidSynthDriver : public MidiDriver {
public:
    struct Options {
        std::string soundFont;                  // empty: findSoundFont()
        std::vector<std::string> audioDrivers;  // tried in order; empty: defaultAudioDrivers()
        std::string alsaDevice;                 // empty: FluidSynth's own default
        // Further string settings of the audio output, e.g. the "file" driver's
        // "audio.file.name" (tests).
        std::vector<std::pair<std::string, std::string>> audioSettings;
        int sampleRate = 48000;
        int openTimeoutMs = kOpenTimeoutMs;
    };

    // How long the messages of a synthesizer still opening are held before the open is
    // given up. Loading the font takes tens of ms; an audio server that does not answer
    // within seconds is not going to.
    static constexpr int kOpenTimeoutMs = 8000;
    // How long the driver, when it goes, waits for an open still loading.
    static constexpr int kCloseWaitMs = 2000;
    // Messages held while the synthesizer opens; later ones are dropped.
    static constexpr int kHeldMessages = 1024;
    // Its JACK audio client: the program's name (ClientNames) with this suffix.
    static constexpr const char* kJackSuffix = " synth";
    static constexpr const char* kNoAudioText =
        "The built-in synthesizer (MIDI Mapper) has no audio output, so it cannot be heard. "
        "Choose a MIDI port in the MIDI menu.";

    // The General MIDI sound font: $GLIMMERSTAVE_SOUNDFONT when set, else the first readable
    // of TimGM6mb, Debian's default-GM.sf2 and FluidR3_GM.sf2 where Debian installs them.
    // Empty when none is there. root (tests) stands for "/" in front of those paths.
    static std::string findSoundFont(const std::string& root = {});
    // The audio outputs to try, in order, among those this FluidSynth has: JACK when a
    // server runs (its outputs connected to the system's playback ports), then PipeWire,
    // PulseAudio and plain ALSA. May block briefly (asks for the JACK server).
    static std::vector<std::string> defaultAudioDrivers();

    FluidSynthDriver();
    explicit FluidSynthDriver(Options options);
    ~FluidSynthDriver() override;

    std::vector<std::string> listDevices() override { return {}; }
    // Never fails and never waits: the synthesizer opens beside the caller.
    std::unique_ptr<MidiConnection> open(const std::string& device, int occurrence) override;
    void setLateFailureHandler(LateFailure handler) override;

    // While opens are held, open() gives a connection that holds what is sent to it, and
    // nothing is loaded or opened: at start-up the mapper is the port until the setup names
    // its own, and a user who plays to another port should never hear of the synthesizer.
    // Letting go opens the synthesizer of the connection still open, if one is. Window thread.
    void setOpensHeld(bool held);
    // How many synthesizers this driver has begun to open.
    int startedOpens() const { return startedOpens_; }

private:
    void startOpening(const std::shared_ptr<SynthOpening>& opening);

    Options options_;
    std::shared_ptr<LateFailure> lateFailure_;
    // The latest open still running, for a reopen to take over.
    std::weak_ptr<SynthOpening> opening_;
    bool opensHeld_ = false;
    int startedOpens_ = 0;
};

// A synthesizer without an audio device whose output is fetched with render(): for tests and
// for rendering offline.
class OfflineSynth : public MidiConnection {
public:
    // nullptr when the sound font cannot be loaded.
    static std::unique_ptr<OfflineSynth> create(const std::string& soundFont, int sampleRate);
    ~OfflineSynth() override;

    bool send(const std::uint8_t* bytes) override;
    // Renders frames of interleaved stereo 16-bit samples into out (2 × frames values).
    void render(std::int16_t* out, int frames);

private:
    OfflineSynth() = default;
    struct Engine;
    Engine* engine_ = nullptr;
};
