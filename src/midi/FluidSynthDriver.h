#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"

// "MIDI Mapper": the embedded General MIDI synthesizer (FluidSynth with the TimGM6mb sound
// font) playing to the default audio device. Each open makes its own synthesizer; the open
// fails when the sound font is missing or no audio device can be opened.
class FluidSynthDriver : public MidiDriver {
public:
    struct Options {
        std::string soundFont;                  // empty: findSoundFont()
        std::vector<std::string> audioDrivers;  // tried in order; empty: defaultAudioDrivers()
        std::string alsaDevice;                 // empty: FluidSynth's own default
        int sampleRate = 48000;
    };

    // The General MIDI sound font: $GLIMMERSTAVE_SOUNDFONT when set, else the TimGM6mb file
    // where Debian installs it. Empty when none is there.
    static std::string findSoundFont();
    // PulseAudio (also what PipeWire offers), JACK when a server runs, then plain ALSA.
    static std::vector<std::string> defaultAudioDrivers();

    FluidSynthDriver();
    explicit FluidSynthDriver(Options options);

    std::vector<std::string> listDevices() override { return {}; }
    std::unique_ptr<MidiConnection> open(const std::string& device, int occurrence) override;

    // Why the last open failed, for the user; empty after a successful open.
    const std::string& lastError() const { return lastError_; }

private:
    std::unique_ptr<MidiConnection> openSynth(const std::string& device, int occurrence);

    Options options_;
    std::string lastError_;
    std::string lastReported_;
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
