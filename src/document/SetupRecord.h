#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Measure.h"
#include "core/Setup.h"

// Everything a setup file holds, as read (older layouts already converted and every value
// clamped into the model's limits) or as about to be written. Reading fills one of these
// without touching the live Setup; applyTo() then commits it in one go, so a file that fails
// half-way never leaves a half-read setup behind.
class SetupRecord {
public:
    SetupRecord();
    virtual ~SetupRecord() = default;

    // The file fields of a live setup, for writing. The base colour and the window position
    // are the window's, not the Setup's.
    static SetupRecord fromSetup(const Setup& setup, std::int32_t baseColor,
                                 std::int32_t windowLeft, std::int32_t windowTop);

    // Copies the file fields into setup: fileVersion, tempoEditMode, bpm, port.portId,
    // port.channel, port.portName (only when the file stores one), selectedMeasure, mute,
    // the eight measures, stepsPerMeasure, polyphonic, and volume and transpose (only when the
    // file stores them). Nothing else: path, title, dirty, the play position and the port
    // itself are the caller's. Either everything changes or, when copying runs out of
    // memory, nothing does. Hold the engine lock while a Player may be playing setup.
    void applyTo(Setup& setup) const;
    // The same, taking this record's note arrays instead of copying them (the setup's old
    // arrays end up here). Cannot fail, so it is what runs under the engine lock.
    void moveInto(Setup& setup) noexcept;

    bool operator==(const SetupRecord& other) const;

    float fileVersion = 2.9f;
    std::int16_t tempoEditMode = 0;
    double bpm = 126.0;
    std::int32_t portId = 0;
    std::int16_t channel = 1;
    std::int16_t selectedMeasure = 0;
    std::int32_t mute = 0;
    // Colour 0x00BBGGRR from which the panels derive their scheme.
    std::int32_t baseColor = 0;
    std::array<Measure, Setup::kMeasureCount> measures;
    // Screen position of the main window's top-left corner.
    std::int32_t windowLeft = 0;
    std::int32_t windowTop = 0;
    std::int32_t stepsPerMeasure = Setup::kMaxStepsPerMeasure;
    std::int32_t polyphonic = 1;
    // Files before 2.0 store neither; the setup keeps the values it had.
    std::optional<std::int16_t> volume;
    std::optional<std::int16_t> transpose;
    // Files before 2.9 store no port name; the port is then chosen by portId.
    std::optional<std::string> portName;
};
