#include "midi/AudioExport.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Setup.h"
#include "document/MidiExport.h"
#include "document/SafeFileWriter.h"
#include "midi/FluidSynthDriver.h"
#include "midi/SynthSettings.h"

namespace {

constexpr std::size_t kHeaderSize = 44;
// Frames rendered between two looks at the progress: about 20 ms of sound.
constexpr int kChunkFrames = 1024;
// The largest data chunk a RIFF file can describe.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 36;

// A synthesizer of the export's own: no audio driver, no shared state with the live one.
class RenderSynth {
public:
    RenderSynth(const RenderSynth&) = delete;
    RenderSynth& operator=(const RenderSynth&) = delete;
    RenderSynth() = default;
    ~RenderSynth() {
        if (synth_ != nullptr) {
            delete_fluid_synth(synth_);
        }
        if (settings_ != nullptr) {
            delete_fluid_settings(settings_);
        }
    }

    bool load(const std::string& soundFont) {
        settings_ = new_fluid_settings();
        if (settings_ == nullptr) {
            return false;
        }
        fluid_settings_setnum(settings_, "synth.sample-rate", AudioExport::kSampleRate);
        fluid_settings_setnum(settings_, "synth.gain", SynthSettings::kGain);
        // Both effects would carry on after the notes end; off, the tail ends with the last
        // voice and nothing in the sound depends on anything but the setup.
        fluid_settings_setint(settings_, "synth.chorus.active", 0);
        fluid_settings_setint(settings_, "synth.reverb.active", 0);
        fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
        synth_ = new_fluid_synth(settings_);
        return synth_ != nullptr &&
               fluid_synth_sfload(synth_, soundFont.c_str(), 1) != FLUID_FAILED;
    }

    void play(const MidiExport::TimedMessage& message) {
        const int channel = message.status & 0x0F;
        const int data1 = std::clamp(message.data1, 0, 127);
        const int data2 = std::clamp(message.data2, 0, 127);
        switch (message.status & 0xF0) {
            case 0x80:
                fluid_synth_noteoff(synth_, channel, data1);
                break;
            case 0x90:
                if (data2 == 0) {
                    fluid_synth_noteoff(synth_, channel, data1);
                } else {
                    fluid_synth_noteon(synth_, channel, data1, data2);
                }
                break;
            case 0xA0:
                fluid_synth_key_pressure(synth_, channel, data1, data2);
                break;
            case 0xB0:
                fluid_synth_cc(synth_, channel, data1, data2);
                break;
            case 0xC0:
                fluid_synth_program_change(synth_, channel, data1);
                break;
            case 0xD0:
                fluid_synth_channel_pressure(synth_, channel, data1);
                break;
            case 0xE0:
                fluid_synth_pitch_bend(synth_, channel, (data2 << 7) | data1);
                break;
            default:
                break;
        }
    }

    // Renders frames of interleaved 16-bit stereo into out. The synthesizer's float output is
    // rounded, and clipped at full scale: loud chords saturate, they never wrap around. False
    // when the synthesizer rendered nothing: out then holds no sound at all.
    bool render(std::int16_t* out, int frames) {
        left_.resize(static_cast<std::size_t>(frames));
        right_.resize(static_cast<std::size_t>(frames));
        if (fluid_synth_write_float(synth_, frames, left_.data(), 0, 1, right_.data(), 0, 1) !=
            FLUID_OK) {
            return false;
        }
        for (int i = 0; i < frames; ++i) {
            out[2 * i] = toSample(left_[static_cast<std::size_t>(i)]);
            out[2 * i + 1] = toSample(right_[static_cast<std::size_t>(i)]);
        }
        return true;
    }

    bool sounding() const { return fluid_synth_get_active_voice_count(synth_) > 0; }

private:
    static std::int16_t toSample(float value) {
        const float scaled = std::nearbyint(value * 32768.0f);
        return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
    }

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    std::vector<float> left_;
    std::vector<float> right_;
};

void putLittleEndian(std::array<std::uint8_t, kHeaderSize>& out, std::size_t at,
                     std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::array<std::uint8_t, kHeaderSize> waveHeader(std::uint32_t dataBytes) {
    constexpr int kBytesPerFrame = AudioExport::kChannels * 2;
    std::array<std::uint8_t, kHeaderSize> header{'R', 'I', 'F', 'F', 0,   0,   0,   0,
                                                 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    putLittleEndian(header, 4, 36 + dataBytes, 4);
    putLittleEndian(header, 16, 16, 4);  // the format chunk's size
    putLittleEndian(header, 20, 1, 2);   // PCM
    putLittleEndian(header, 22, AudioExport::kChannels, 2);
    putLittleEndian(header, 24, AudioExport::kSampleRate, 4);
    putLittleEndian(header, 28, AudioExport::kSampleRate * kBytesPerFrame, 4);
    putLittleEndian(header, 32, kBytesPerFrame, 2);
    putLittleEndian(header, 34, 16, 2);  // bits per sample
    header[36] = 'd';
    header[37] = 'a';
    header[38] = 't';
    header[39] = 'a';
    putLittleEndian(header, 40, dataBytes, 4);
    return header;
}

// Renders into the file chunk by chunk, counting what it wrote.
class WaveWriter {
public:
    WaveWriter(SafeFileWriter& file, std::string path, RenderSynth& synth,
               const AudioExport::Progress& progress, std::int64_t total)
        : file_(file), path_(std::move(path)), synth_(synth), progress_(progress), total_(total) {}

    // False when the progress cancelled. Throws when the synthesizer fails to render: a file
    // of silence must not pass for the export.
    bool renderUntil(std::int64_t frame) {
        while (written_ < frame) {
            const auto frames =
                static_cast<int>(std::min<std::int64_t>(kChunkFrames, frame - written_));
            if (!renderChunk(frames)) {
                return false;
            }
        }
        return true;
    }

    bool renderTail() {
        std::int64_t tail = 0;
        while (synth_.sounding() && tail < AudioExport::kMaxTailFrames) {
            const auto frames = static_cast<int>(
                std::min<std::int64_t>(kChunkFrames, AudioExport::kMaxTailFrames - tail));
            if (!renderChunk(frames)) {
                return false;
            }
            tail += frames;
        }
        return true;
    }

    std::int64_t written() const { return written_; }

private:
    bool renderChunk(int frames) {
        samples_.resize(static_cast<std::size_t>(frames) * AudioExport::kChannels);
        if (!synth_.render(samples_.data(), frames)) {
            throw std::runtime_error(path_ + ": the synthesizer failed to render the sound at " +
                                     std::to_string(written_ / AudioExport::kSampleRate) + " s");
        }
        file_.write({reinterpret_cast<const std::uint8_t*>(samples_.data()),
                     samples_.size() * sizeof(std::int16_t)});
        written_ += frames;
        return !progress_ || progress_(std::min(written_, total_), total_);
    }

    SafeFileWriter& file_;
    const std::string path_;  // for messages
    RenderSynth& synth_;
    const AudioExport::Progress& progress_;
    std::int64_t total_;
    std::int64_t written_ = 0;
    std::vector<std::int16_t> samples_;
};

}  // namespace

std::int64_t AudioExport::frameOfTick(std::int64_t tick, double bpm) {
    // frames = tick x microseconds per quarter x rate / (ticks per quarter x 10^6), with the
    // fraction reduced first: the product of all three overflows 64 bits on long exports at
    // the slowest tempos, the reduced one (at most 2.4e7 ticks x 2^24 us) does not.
    constexpr std::int64_t kPerSecond = std::int64_t{MidiExport::kTicksPerQuarter} * 1'000'000;
    constexpr std::int64_t kCommon = std::gcd(std::int64_t{kSampleRate}, kPerSecond);
    const std::int64_t microsecondsPerQuarter = MidiExport::microsecondsPerQuarter(bpm);
    return tick * microsecondsPerQuarter * (kSampleRate / kCommon) / (kPerSecond / kCommon);
}

bool AudioExport::writeFile(Setup& setup, int stepCount, const std::string& outPath,
                            const Progress& progress, const std::string& soundFont) {
    const double bpm = setup.bpm;
    // The size is known from the step count alone: checked before the playback is run.
    const std::int64_t stepFrames =
        frameOfTick(std::int64_t{std::max(stepCount, 0)} * MidiExport::kTicksPerStep, bpm);
    const std::uint64_t longest =
        static_cast<std::uint64_t>(stepFrames + kMaxTailFrames) * kChannels * 2;
    if (stepCount <= MidiExport::kMaxSteps && longest > kMaxDataBytes) {
        throw std::length_error(outPath + ": " + std::to_string(stepCount) +
                                " steps at this tempo are longer than a WAV file can hold");
    }
    const std::vector<MidiExport::TimedMessage> messages = MidiExport::record(setup, stepCount);
    const std::string font = soundFont.empty() ? FluidSynthDriver::findSoundFont() : soundFont;
    if (font.empty()) {
        throw std::runtime_error(
            "The General MIDI sound font was not found: install the package "
            "timgm6mb-soundfont, or name a .sf2 file in GLIMMERSTAVE_SOUNDFONT.");
    }
    std::error_code ignored;
    RenderSynth synth;
    if (!std::filesystem::is_regular_file(font, ignored) || !synth.load(font)) {
        throw std::runtime_error("The sound font could not be loaded: " + font);
    }

    SafeFileWriter file(outPath);
    file.write(waveHeader(0));
    WaveWriter writer(file, outPath, synth, progress, stepFrames);
    for (const MidiExport::TimedMessage& message : messages) {
        if (!writer.renderUntil(frameOfTick(message.tick, bpm))) {
            return false;
        }
        synth.play(message);
    }
    if (!writer.renderUntil(stepFrames) || !writer.renderTail()) {
        return false;
    }
    file.writeAt(0, waveHeader(static_cast<std::uint32_t>(writer.written() * kChannels * 2)));
    file.commit();
    return true;
}
