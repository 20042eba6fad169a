// libFuzzer target for the setup file reader. Any input must either read or fail with
// SetupFileError; whatever reads must write, read back to the same record, render as JSON and
// play through the MIDI export without a fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "core/Setup.h"
#include "document/MidiExport.h"
#include "document/SetupFileError.h"
#include "document/SetupJson.h"
#include "document/SetupReader.h"
#include "document/SetupRecord.h"
#include "document/SetupWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<SetupRecord> record;
    try {
        record = SetupReader::parse(std::span<const std::uint8_t>(data, size), "fuzz.qov");
    } catch (const SetupFileError&) {
        return 0;
    }

    const std::vector<std::uint8_t> written = SetupWriter::serialize(*record);
    const SetupRecord reread = SetupReader::parse(written, "fuzz.qov");
    // Volume, transpose and the port name are always present in what the writer wrote.
    SetupRecord expected = *record;
    expected.fileVersion = SetupWriter::kVersion;
    expected.volume = record->volume.value_or(80);
    expected.transpose = record->transpose.value_or(0);
    expected.portName = record->portName.value_or(std::string());
    if (!(reread == expected) || SetupWriter::serialize(reread) != written) {
        std::abort();
    }

    const std::string json = SetupJson::formatAsRead(*record);
    if (json.empty()) {
        std::abort();
    }

    Setup setup;
    record->applyTo(setup);
    const std::vector<std::uint8_t> midi = MidiExport::render(setup, 2 * Measure::kStepCount);
    if (midi.size() < 14) {
        std::abort();
    }
    return 0;
}
