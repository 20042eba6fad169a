#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The command-line side of setup files, without a window: --dump, --convert, --export-midi
// and --export-audio. Each reads the file with the same reader the window uses and reports a
// failure as one line on the error stream.
namespace DocumentCommands {

// The lines these options add to --help.
extern const char* const kHelpText;

// Whether word is one of these options.
bool isDocumentOption(std::string_view word);

// Runs the option args[0] with the words after it; returns the exit status (0, or 1 after a
// message on err).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// --dump FILE: the setup as JSON on out.
int dump(const std::string& path, std::ostream& out, std::ostream& err);
// --convert FILE OUT: any version in, version 2.9 out, written through the safe save.
int convert(const std::string& path, const std::string& outPath, std::ostream& err);
// --export-midi FILE OUT.mid [--steps N]: the playback as a Standard MIDI File; N defaults to
// one pass through the chain of loops, as in the window (MidiExport::chainPassSteps).
int exportMidi(const std::string& path, const std::string& outPath, std::optional<int> steps,
               std::ostream& err);
// --export-audio FILE OUT.wav [--steps N]: the same playback rendered by the embedded
// synthesizer into a WAV file.
int exportAudio(const std::string& path, const std::string& outPath, std::optional<int> steps,
                std::ostream& err);

}  // namespace DocumentCommands
