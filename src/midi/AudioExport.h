#pragma once

#include <cstdint>
#include <functional>
#include <string>

class Setup;

// Renders a setup's playback (exactly the messages the MIDI export writes, at the setup's
// tempo) through a General MIDI synthesizer of its own, without an audio device and faster
// than real time, into a WAV file: 48 kHz, stereo, 16-bit PCM. Chorus and reverb are off and
// the samples are not dithered, so one setup always gives the same bytes. Runs on whichever
// thread calls it; touches nothing but its own synthesizer and the output file.
class AudioExport {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;
    // After the last step the release tail plays until the sound dies away, at most this long.
    static constexpr int kMaxTailFrames = 3 * kSampleRate;

    // Told the frames rendered so far and the frames of the steps (the tail comes on top);
    // returning false cancels the export. Called from the rendering thread.
    using Progress = std::function<bool(std::int64_t done, std::int64_t total)>;

    // Plays stepCount steps of setup as MidiExport does (setup is left as playback leaves
    // it) and writes the sound to outPath through a temporary file that is renamed into
    // place, so the target is never left half-written. soundFont empty: the program's own.
    // Returns false when progress cancelled (no file is left); throws std::runtime_error
    // with a message naming the file (also when the synthesizer fails to render), or
    // std::invalid_argument / std::length_error as MidiExport does.
    static bool writeFile(Setup& setup, int stepCount, const std::string& outPath,
                          const Progress& progress = {}, const std::string& soundFont = {});

    // The frame at which a MIDI export tick sounds, at the tempo of the MIDI export.
    static std::int64_t frameOfTick(std::int64_t tick, double bpm);
};
