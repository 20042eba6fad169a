#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Measure.h"
#include "PortState.h"

// The document: eight measures of sixteen steps plus tempo, port, playback and edit state.
// One per running instance, owned by the main window; files overwrite it in place.
class Setup {
public:
    static constexpr int kMeasureCount = 8;
    static constexpr int kMaxStepsPerMeasure = 16;
    static constexpr const char* kTitlePrefix = " -  +  \xC3\xB7  x";

    // Every step of the eight measures gets random values from the program's generator.
    Setup();
    virtual ~Setup() = default;

    std::int32_t stepsPerMeasure = kMaxStepsPerMeasure;
    PortState port;
    std::int32_t cpuCyclesPerMs = 0;
    std::string title;
    std::string path;
    float fileVersion = 0.0f;
    std::int16_t tempoEditMode = 0;
    double bpm = 126.0;
    std::int16_t selectedMeasure = 0;
    std::int16_t undoMeasureIndex = -1;
    std::int16_t playingMeasure = 0;
    std::int32_t mute = 0;
    std::int32_t polyphonic = 1;
    std::array<Measure, kMeasureCount> measures;
    Measure copyMeasure;
    Measure undoMeasure;
    bool dirty = false;
    std::int16_t portOpenedHere = 0;
    std::int16_t repeatCount = 0;
    std::int16_t volume = 80;
    std::int16_t transpose = 0;
    std::int32_t undoVolume = 0;
    std::int32_t undoTranspose = 0;
    std::int32_t undoMute = 0;
    double undoBpm = 0.0;
    bool highResTimer = true;
    // Preferences beside highResTimer, not stored in setup files: MIDI clock out, following
    // and driving the JACK transport.
    bool midiClock = false;
    bool jackTransport = false;
};
