#include "midi/FluidSynthDriver.h"

#include <fluidsynth.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "midi/AlsaSeqDriver.h"
#include "midi/JackMidiDriver.h"
#include "midi/MidiBytes.h"
#include "midi/SynthSettings.h"

namespace {

constexpr const char* kSoundFontPaths[] = {
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/soundfonts/TimGM6mb.sf2",
};

void printFluidError(int level, const char* message, void*) {
    std::fprintf(stderr, "FluidSynth: %s%s\n", level == FLUID_PANIC ? "panic: " : "", message);
}

void ignoreFluidMessage(int, const char*, void*) {}

// FluidSynth reports every audio driver it cannot open; trying several is normal here.
void quietFluid() {
    AlsaSeqDriver::silenceLibraryErrors();
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, printFluidError, nullptr);
        fluid_set_log_function(FLUID_ERR, ignoreFluidMessage, nullptr);
        fluid_set_log_function(FLUID_WARN, ignoreFluidMessage, nullptr);
        fluid_set_log_function(FLUID_INFO, ignoreFluidMessage, nullptr);
        fluid_set_log_function(FLUID_DBG, ignoreFluidMessage, nullptr);
    });
}

// One synthesizer with its sound font; optionally playing to an audio device.
struct Synth {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* audio = nullptr;

    ~Synth() {
        if (audio != nullptr) {
            delete_fluid_audio_driver(audio);
        }
        if (synth != nullptr) {
            delete_fluid_synth(synth);
        }
        if (settings != nullptr) {
            delete_fluid_settings(settings);
        }
    }

    bool load(const std::string& soundFont, int sampleRate) {
        quietFluid();
        settings = new_fluid_settings();
        if (settings == nullptr) {
            return false;
        }
        fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
        fluid_settings_setnum(settings, "synth.gain", SynthSettings::kGain);
        // Notes arrive from the clock thread while the audio thread renders.
        fluid_settings_setint(settings, "synth.threadsafe-api", 1);
        synth = new_fluid_synth(settings);
        return synth != nullptr && fluid_synth_sfload(synth, soundFont.c_str(), 1) != FLUID_FAILED;
    }

    // Always non-blocking: FluidSynth queues the event for its rendering thread.
    bool play(const std::uint8_t* bytes) {
        const std::uint8_t status = bytes[0];
        if (MidiBytes::lengthForStatus(status) == 0 || status >= 0xF0) {
            return status == 0xFF && fluid_synth_system_reset(synth) == FLUID_OK;
        }
        const int channel = status & 0x0F;
        const int data1 = bytes[1] & 0x7F;
        const int data2 = bytes[2] & 0x7F;
        int result = FLUID_FAILED;
        switch (status & 0xF0) {
            case 0x80:
                result = fluid_synth_noteoff(synth, channel, data1);
                break;
            case 0x90:
                result = data2 == 0 ? fluid_synth_noteoff(synth, channel, data1)
                                    : fluid_synth_noteon(synth, channel, data1, data2);
                break;
            case 0xA0:
                result = fluid_synth_key_pressure(synth, channel, data1, data2);
                break;
            case 0xB0:
                result = fluid_synth_cc(synth, channel, data1, data2);
                break;
            case 0xC0:
                result = fluid_synth_program_change(synth, channel, data1);
                break;
            case 0xD0:
                result = fluid_synth_channel_pressure(synth, channel, data1);
                break;
            case 0xE0:
                result = fluid_synth_pitch_bend(synth, channel, (data2 << 7) | data1);
                break;
            default:
                break;
        }
        // A note-off for a note that is not sounding reports failure; it was still delivered.
        return result == FLUID_OK || (status & 0xF0) == 0x80 || (status & 0xF0) == 0x90;
    }
};

class FluidSynthConnection : public MidiConnection {
public:
    explicit FluidSynthConnection(std::unique_ptr<Synth> synth) : synth_(std::move(synth)) {}
    bool send(const std::uint8_t* bytes) override { return synth_->play(bytes); }

private:
    std::unique_ptr<Synth> synth_;
};

}  // namespace

std::string FluidSynthDriver::findSoundFont() {
    if (const char* chosen = std::getenv("GLIMMERSTAVE_SOUNDFONT"); chosen != nullptr && *chosen) {
        return chosen;
    }
    for (const char* path : kSoundFontPaths) {
        if (std::FILE* file = std::fopen(path, "rb")) {
            std::fclose(file);
            return path;
        }
    }
    return {};
}

std::vector<std::string> FluidSynthDriver::defaultAudioDrivers() {
    std::vector<std::string> drivers{"pulseaudio"};
    if (JackMidiDriver::serverRunning()) {
        drivers.push_back("jack");
    }
    drivers.push_back("alsa");
    return drivers;
}

FluidSynthDriver::FluidSynthDriver() : FluidSynthDriver(Options{}) {}

FluidSynthDriver::FluidSynthDriver(Options options) : options_(std::move(options)) {}

std::unique_ptr<MidiConnection> FluidSynthDriver::open(const std::string& device, int occurrence) {
    std::unique_ptr<MidiConnection> connection = openSynth(device, occurrence);
    // Said once per reason: a silent "MIDI Mapper" should not leave the user guessing, and
    // the reopen at every start of another instance should not repeat it.
    if (connection == nullptr && lastError_ != lastReported_) {
        std::fprintf(stderr, "Glimmerstave: %s\n", lastError_.c_str());
        lastReported_ = lastError_;
    }
    return connection;
}

std::unique_ptr<MidiConnection> FluidSynthDriver::openSynth(const std::string&, int) {
    const std::string soundFont =
        options_.soundFont.empty() ? findSoundFont() : options_.soundFont;
    if (soundFont.empty()) {
        lastError_ =
            "The General MIDI sound font was not found: install the package "
            "timgm6mb-soundfont, or name a .sf2 file in GLIMMERSTAVE_SOUNDFONT.";
        return nullptr;
    }
    auto synth = std::make_unique<Synth>();
    if (!synth->load(soundFont, options_.sampleRate)) {
        lastError_ = "The sound font could not be loaded: " + soundFont;
        return nullptr;
    }
    const std::vector<std::string> drivers =
        options_.audioDrivers.empty() ? defaultAudioDrivers() : options_.audioDrivers;
    for (const std::string& driver : drivers) {
        fluid_settings_setstr(synth->settings, "audio.driver", driver.c_str());
        if (driver == "alsa" && !options_.alsaDevice.empty()) {
            fluid_settings_setstr(synth->settings, "audio.alsa.device",
                                  options_.alsaDevice.c_str());
        }
        if (driver == "jack") {
            fluid_settings_setint(synth->settings, "audio.jack.autoconnect", 1);
        }
        synth->audio = new_fluid_audio_driver(synth->settings, synth->synth);
        if (synth->audio != nullptr) {
            lastError_.clear();
            return std::make_unique<FluidSynthConnection>(std::move(synth));
        }
    }
    lastError_ = "No audio device could be opened for the synthesizer.";
    return nullptr;
}

struct OfflineSynth::Engine {
    Synth synth;
};

std::unique_ptr<OfflineSynth> OfflineSynth::create(const std::string& soundFont, int sampleRate) {
    std::unique_ptr<OfflineSynth> offline(new OfflineSynth);
    offline->engine_ = new Engine;
    if (!offline->engine_->synth.load(soundFont, sampleRate)) {
        return nullptr;
    }
    return offline;
}

OfflineSynth::~OfflineSynth() { delete engine_; }

bool OfflineSynth::send(const std::uint8_t* bytes) { return engine_->synth.play(bytes); }

void OfflineSynth::render(std::int16_t* out, int frames) {
    fluid_synth_write_s16(engine_->synth.synth, frames, out, 0, 2, out, 1, 2);
}
