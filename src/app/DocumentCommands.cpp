#include "DocumentCommands.h"

#include <charconv>
#include <stdexcept>

#include "core/PortState.h"
#include "core/Setup.h"
#include "document/MidiExport.h"
#include "document/SafeFileWriter.h"
#include "document/SetupFileError.h"
#include "document/SetupJson.h"
#include "document/SetupReader.h"
#include "document/SetupWriter.h"
#include "midi/AudioExport.h"

namespace {

constexpr std::string_view kDump = "--dump";
constexpr std::string_view kConvert = "--convert";
constexpr std::string_view kExportMidi = "--export-midi";
constexpr std::string_view kExportAudio = "--export-audio";
constexpr std::string_view kSteps = "--steps";
constexpr const char* kMapperName = "MIDI Mapper";

int fail(std::ostream& err, const std::string& message) {
    err << "glimmerstave: " << message << '\n';
    return 1;
}

std::optional<int> parseStepCount(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    SafeFileWriter file(path);
    file.write(bytes);
    file.commit();
}

// The setup as the program holds it right after reading the file into a new one.
Setup readIntoNewSetup(const std::string& path) {
    Setup setup;
    SetupReader::readFile(path).applyTo(setup);
    return setup;
}

// N steps when given, else what the window's export proposes: one pass through the chain.
int exportStepCount(const Setup& setup, std::optional<int> steps) {
    return steps.value_or(MidiExport::chainPassSteps(setup));
}

}  // namespace

namespace DocumentCommands {

const char* const kHelpText =
    "  --dump FILE         print the setup in FILE as JSON and exit\n"
    "  --convert FILE OUT\n"
    "                      write the setup in FILE (any version) to OUT as version 2.9\n"
    "  --export-midi FILE OUT.mid [--steps N]\n"
    "                      play N steps of the setup in FILE into a Standard MIDI File; by\n"
    "                      default one pass through the chain of loops from the selected\n"
    "                      loop (each loop's repeats, at most 64 measures), as File > Export\n"
    "  --export-audio FILE OUT.wav [--steps N]\n"
    "                      the same steps played by the embedded synthesizer into a WAV file\n"
    "                      (48 kHz, stereo, 16-bit), faster than real time";

bool isDocumentOption(std::string_view word) {
    return word == kDump || word == kConvert || word == kExportMidi || word == kExportAudio;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || !isDocumentOption(args[0])) {
        return fail(err, "no setup file command given");
    }
    const std::string& option = args[0];
    std::vector<std::string> files;
    std::optional<int> steps;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if ((option == kExportMidi || option == kExportAudio) && args[i] == kSteps) {
            if (i + 1 >= args.size()) {
                return fail(err, "--steps needs a number");
            }
            steps = parseStepCount(args[++i]);
            if (!steps || *steps < 1 || *steps > MidiExport::kMaxSteps) {
                return fail(err, "--steps needs a whole number from 1 to " +
                                     std::to_string(MidiExport::kMaxSteps) + ", not \"" + args[i] +
                                     "\"");
            }
            continue;
        }
        files.push_back(args[i]);
    }
    const std::size_t wanted = option == kDump ? 1 : 2;
    if (files.size() != wanted) {
        const std::string usage = option == kDump      ? "--dump FILE"
                                  : option == kConvert ? "--convert FILE OUT"
                                  : option == kExportMidi
                                      ? "--export-midi FILE OUT.mid [--steps N]"
                                      : "--export-audio FILE OUT.wav [--steps N]";
        return fail(err, "usage: glimmerstave " + usage);
    }
    if (option == kDump) {
        return dump(files[0], out, err);
    }
    if (option == kConvert) {
        return convert(files[0], files[1], err);
    }
    if (option == kExportMidi) {
        return exportMidi(files[0], files[1], steps, err);
    }
    return exportAudio(files[0], files[1], steps, err);
}

int dump(const std::string& path, std::ostream& out, std::ostream& err) {
    try {
        out << SetupJson::formatAsRead(SetupReader::readFile(path));
        out.flush();
        return out ? 0 : fail(err, "could not write the output");
    } catch (const SetupFileError& error) {
        return fail(err, error.what());
    }
}

int convert(const std::string& path, const std::string& outPath, std::ostream& err) {
    try {
        const SetupRecord record = SetupReader::readFile(path);
        // What the program holds right after reading the file into a new setup.
        Setup setup;
        record.applyTo(setup);
        SetupRecord converted =
            SetupRecord::fromSetup(setup, record.baseColor, record.windowLeft, record.windowTop);
        // Files before 2.9 choose their port by number. The mapper keeps its name, so the
        // converted file opens on it too; a device number has no name to carry over.
        if (!record.portName && record.portId == PortState::kMapperPortId) {
            converted.portName = kMapperName;
        }
        writeFile(outPath, SetupWriter::serialize(converted));
        return 0;
    } catch (const SetupFileError& error) {
        return fail(err, error.what());
    }
}

int exportMidi(const std::string& path, const std::string& outPath, std::optional<int> steps,
               std::ostream& err) {
    try {
        Setup setup = readIntoNewSetup(path);
        writeFile(outPath, MidiExport::render(setup, exportStepCount(setup, steps)));
        return 0;
    } catch (const SetupFileError& error) {
        return fail(err, error.what());
    } catch (const std::invalid_argument& error) {
        return fail(err, error.what());
    } catch (const std::length_error& error) {
        return fail(err, error.what());
    }
}

int exportAudio(const std::string& path, const std::string& outPath, std::optional<int> steps,
                std::ostream& err) {
    try {
        Setup setup = readIntoNewSetup(path);
        AudioExport::writeFile(setup, exportStepCount(setup, steps), outPath);
        return 0;
    } catch (const SetupFileError& error) {
        return fail(err, error.what());
    } catch (const std::exception& error) {
        return fail(err, error.what());
    }
}

}  // namespace DocumentCommands
