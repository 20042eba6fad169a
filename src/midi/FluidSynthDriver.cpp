#include "midi/FluidSynthDriver.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "core/EngineLock.h"
#include "midi/AlsaSeqDriver.h"
#include "midi/ClientNames.h"
#include "midi/JackConnection.h"
#include "midi/JackMidiDriver.h"
#include "midi/MidiBytes.h"
#include "midi/SynthJackFollower.h"
#include "midi/SynthSettings.h"

namespace {

// TimGM6mb first: the exports' bytes and levels were settled with it. Then Debian's General
// MIDI alternative (whichever sound font package provides it) and FluidR3, which
// fluid-soundfont-gm installs, so either package satisfies the program's dependency.
constexpr const char* kSoundFontPaths[] = {
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/soundfonts/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
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
    // With a JACK output: opens it again after a server restart.
    std::unique_ptr<SynthJackFollower> jackFollower;

    ~Synth() {
        if (jackFollower != nullptr) {
            // Stopped first: it swaps the output on a thread of its own.
            jackFollower.reset();
            std::lock_guard guard(JackConnection::clientOpenMutex());
            closeAudio();
        }
        closeAudio();
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

    // Opens the audio output the settings name; with JACK, under the lock that every JACK
    // client of ours opens and closes with.
    bool openAudio(const std::string& driver) {
        if (driver != "jack") {
            audio = new_fluid_audio_driver(settings, synth);
            return audio != nullptr;
        }
        {
            std::lock_guard guard(JackConnection::clientOpenMutex());
            audio = new_fluid_audio_driver(settings, synth);
        }
        if (audio != nullptr) {
            followJack();
        }
        return audio != nullptr;
    }

    void closeAudio() {
        if (audio != nullptr) {
            delete_fluid_audio_driver(audio);
            audio = nullptr;
        }
    }

    // FluidSynth's JACK output stays silent after its server restarts: the follower closes
    // it and opens it again with the same settings (client name, connections to the
    // playback ports) on the same synthesizer.
    void followJack() {
        SynthJackFollower::Output output;
        output.close = [this] { closeAudio(); };
        output.open = [this] {
            audio = new_fluid_audio_driver(settings, synth);
            return audio != nullptr;
        };
        jackFollower = std::make_unique<SynthJackFollower>(
            ClientNames::jackClientName(std::string(FluidSynthDriver::kJackSuffix) + " watch"),
            std::move(output));
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

// Opens one synthesizer: its sound font, then the first audio output that opens. On failure,
// nullptr and the reason in `failure`. Runs on an opening thread.
std::unique_ptr<Synth> openSynth(const FluidSynthDriver::Options& options, std::string& failure) {
    const std::string soundFont =
        options.soundFont.empty() ? FluidSynthDriver::findSoundFont() : options.soundFont;
    if (soundFont.empty()) {
        failure =
            "The General MIDI sound font was not found: install the package "
            "timgm6mb-soundfont, or name a .sf2 file in GLIMMERSTAVE_SOUNDFONT.";
        return nullptr;
    }
    auto synth = std::make_unique<Synth>();
    if (!synth->load(soundFont, options.sampleRate)) {
        failure = "The sound font could not be loaded: " + soundFont;
        return nullptr;
    }
    const std::vector<std::string> drivers = options.audioDrivers.empty()
                                                 ? FluidSynthDriver::defaultAudioDrivers()
                                                 : options.audioDrivers;
    for (const auto& [name, value] : options.audioSettings) {
        fluid_settings_setstr(synth->settings, name.c_str(), value.c_str());
    }
    for (const std::string& driver : drivers) {
        fluid_settings_setstr(synth->settings, "audio.driver", driver.c_str());
        if (driver == "alsa" && !options.alsaDevice.empty()) {
            fluid_settings_setstr(synth->settings, "audio.alsa.device", options.alsaDevice.c_str());
        }
        if (driver == "jack") {
            fluid_settings_setint(synth->settings, "audio.jack.autoconnect", 1);
            // FluidSynth calls its client "fluidsynth": a patchbay should show whose it is.
            fluid_settings_setstr(
                synth->settings, "audio.jack.id",
                ClientNames::jackClientName(FluidSynthDriver::kJackSuffix).c_str());
        }
        if (synth->openAudio(driver)) {
            return synth;
        }
    }
    failure = FluidSynthDriver::kNoAudioText;
    return nullptr;
}

}  // namespace

// One synthesizer being opened, shared by the connection playing to it and the two threads
// that open it (one loads and opens, one gives up at the time limit). The lock is held only
// to hold or play one message, or to settle the open; the clock thread takes it inside the
// port lock, so it must never be held across anything slow.
struct SynthOpening {
    // Held: made while opens are held; nothing is loaded until they are let go.
    enum class State { Held, Opening, Ready, Failed, Closed };

    EngineLock lock;
    std::condition_variable_any settled;
    State state = State::Opening;
    std::unique_ptr<Synth> synth;
    // The connection playing to it; nullptr between a close and a reopen taking it over.
    const MidiConnection* owner = nullptr;
    std::array<std::array<std::uint8_t, 3>, FluidSynthDriver::kHeldMessages> held{};
    std::size_t heldCount = 0;
    std::shared_ptr<MidiDriver::LateFailure> lateFailure;

    // Lock held. A synthesizer nobody plays to any more fails without a word.
    void reportFailureLocked(const std::string& reason) {
        state = State::Failed;
        heldCount = 0;
        if (owner == nullptr) {
            return;
        }
        std::fprintf(stderr, "Glimmerstave: %s\n", reason.c_str());
        if (lateFailure != nullptr && *lateFailure) {
            (*lateFailure)(owner, reason);
        }
    }
};

namespace {

// The loading thread: opens the synthesizer, then plays what was held, in order, and hands
// the synthesizer to the connection; or reports why it could not.
void openBeside(std::shared_ptr<SynthOpening> opening, FluidSynthDriver::Options options) {
    std::string failure;
    std::unique_ptr<Synth> synth = openSynth(options, failure);
    std::unique_ptr<Synth> unused;
    {
        std::lock_guard guard(opening->lock);
        if (opening->state != SynthOpening::State::Opening) {
            unused = std::move(synth);  // given up at the time limit meanwhile
        } else if (synth == nullptr) {
            opening->reportFailureLocked(failure);
        } else if (opening->owner == nullptr) {
            opening->state = SynthOpening::State::Closed;  // closed, and nobody took it over
            unused = std::move(synth);
        } else {
            for (std::size_t i = 0; i < opening->heldCount; ++i) {
                synth->play(opening->held[i].data());
            }
            opening->heldCount = 0;
            opening->synth = std::move(synth);
            opening->state = SynthOpening::State::Ready;
        }
    }
    opening->settled.notify_all();
    // A synthesizer nobody plays to is closed here, outside the lock.
}

// The time-limit thread: gives the open up when it has not settled in time.
void limitOpening(std::shared_ptr<SynthOpening> opening, int timeoutMs) {
    std::unique_lock guard(opening->lock);
    const bool settled =
        opening->settled.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return opening->state != SynthOpening::State::Opening; });
    if (!settled) {
        opening->reportFailureLocked(
            "The built-in synthesizer's audio output did not open within " +
            std::to_string(timeoutMs / 1000) + " s. " + FluidSynthDriver::kNoAudioText);
    }
}

class FluidSynthConnection : public MidiConnection {
public:
    // With the opening's lock held, or before its threads start.
    explicit FluidSynthConnection(std::shared_ptr<SynthOpening> opening)
        : opening_(std::move(opening)) {
        opening_->owner = this;
    }

    ~FluidSynthConnection() override {
        std::unique_ptr<Synth> closing;
        {
            std::lock_guard guard(opening_->lock);
            opening_->owner = nullptr;
            opening_->heldCount = 0;
            if (opening_->state == SynthOpening::State::Ready) {
                opening_->state = SynthOpening::State::Closed;
                closing = std::move(opening_->synth);
            }
        }
    }

    bool send(const std::uint8_t* bytes) override {
        std::lock_guard guard(opening_->lock);
        switch (opening_->state) {
            case SynthOpening::State::Ready:
                return opening_->synth->play(bytes);
            case SynthOpening::State::Held:
            case SynthOpening::State::Opening:
                if (opening_->heldCount == opening_->held.size()) {
                    return false;
                }
                std::copy(bytes, bytes + 3, opening_->held[opening_->heldCount++].begin());
                return true;
            default:
                return false;
        }
    }

private:
    std::shared_ptr<SynthOpening> opening_;
};

}  // namespace

std::string FluidSynthDriver::findSoundFont(const std::string& root) {
    if (const char* chosen = std::getenv("GLIMMERSTAVE_SOUNDFONT"); chosen != nullptr && *chosen) {
        return chosen;
    }
    for (const char* path : kSoundFontPaths) {
        const std::string candidate = root + path;
        if (std::FILE* file = std::fopen(candidate.c_str(), "rb")) {
            std::fclose(file);
            return candidate;
        }
    }
    return {};
}

std::vector<std::string> FluidSynthDriver::defaultAudioDrivers() {
    std::vector<std::string> wanted;
    if (JackMidiDriver::serverRunning()) {
        wanted.push_back("jack");
    }
    for (const char* name : {"pipewire", "pulseaudio", "alsa"}) {
        wanted.push_back(name);
    }
    // Only those built into this FluidSynth: asking for another one fails noisily.
    std::set<std::string> available;
    if (fluid_settings_t* settings = new_fluid_settings()) {
        fluid_settings_foreach_option(settings, "audio.driver", &available,
                                      [](void* data, const char*, const char* option) {
                                          static_cast<std::set<std::string>*>(data)->insert(option);
                                      });
        delete_fluid_settings(settings);
    }
    std::vector<std::string> drivers;
    for (const std::string& name : wanted) {
        if (available.empty() || available.count(name) != 0) {
            drivers.push_back(name);
        }
    }
    return drivers;
}

FluidSynthDriver::FluidSynthDriver() : FluidSynthDriver(Options{}) {}

FluidSynthDriver::FluidSynthDriver(Options options)
    : options_(std::move(options)), lateFailure_(std::make_shared<LateFailure>()) {}

FluidSynthDriver::~FluidSynthDriver() {
    std::shared_ptr<SynthOpening> opening = opening_.lock();
    if (opening == nullptr) {
        return;
    }
    // An open still running must not report to a handler that is going away, and the
    // program should not end while the library is in the middle of loading: it is given a
    // moment to settle.
    std::unique_lock guard(opening->lock);
    opening->lateFailure.reset();
    opening->settled.wait_for(guard, std::chrono::milliseconds(kCloseWaitMs),
                              [&] { return opening->state != SynthOpening::State::Opening; });
}

void FluidSynthDriver::setLateFailureHandler(LateFailure handler) {
    lateFailure_ = std::make_shared<LateFailure>(std::move(handler));
}

std::unique_ptr<MidiConnection> FluidSynthDriver::open(const std::string&, int) {
    quietFluid();
    // A close-and-reopen takes over the open still running (or held), under its lock, so
    // that the open cannot settle as closed in between.
    if (std::shared_ptr<SynthOpening> running = opening_.lock()) {
        std::lock_guard guard(running->lock);
        const bool unsettled = running->state == SynthOpening::State::Opening ||
                               running->state == SynthOpening::State::Held;
        if (unsettled && running->owner == nullptr) {
            running->lateFailure = lateFailure_;
            return std::make_unique<FluidSynthConnection>(running);
        }
    }
    auto opening = std::make_shared<SynthOpening>();
    opening->lateFailure = lateFailure_;
    auto connection = std::make_unique<FluidSynthConnection>(opening);
    opening_ = opening;
    if (opensHeld_) {
        opening->state = SynthOpening::State::Held;
    } else {
        startOpening(opening);
    }
    return connection;
}

void FluidSynthDriver::startOpening(const std::shared_ptr<SynthOpening>& opening) {
    ++startedOpens_;
    std::thread(openBeside, opening, options_).detach();
    std::thread(limitOpening, opening, std::max(options_.openTimeoutMs, 1)).detach();
}

void FluidSynthDriver::setOpensHeld(bool held) {
    opensHeld_ = held;
    std::shared_ptr<SynthOpening> waiting = opening_.lock();
    if (held || waiting == nullptr) {
        return;
    }
    bool start = false;
    {
        std::lock_guard guard(waiting->lock);
        if (waiting->state == SynthOpening::State::Held) {
            // Closed meanwhile (another port was chosen): nothing is opened at all.
            start = waiting->owner != nullptr;
            waiting->state = start ? SynthOpening::State::Opening : SynthOpening::State::Closed;
        }
    }
    if (start) {
        startOpening(waiting);
    }
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

OfflineSynth::~OfflineSynth() {
    delete engine_;
}

bool OfflineSynth::send(const std::uint8_t* bytes) {
    return engine_->synth.play(bytes);
}

void OfflineSynth::render(std::int16_t* out, int frames) {
    fluid_synth_write_s16(engine_->synth.synth, frames, out, 0, 2, out, 1, 2);
}
