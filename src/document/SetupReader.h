#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "SetupRecord.h"

class ByteReader;
class Step;

// Reads a setup file of any version into a SetupRecord, converting the older layouts on the
// way. Never touches a live Setup: the caller applies the record once the read succeeded.
// Failures throw SetupFileError with the text for the user.
class SetupReader {
public:
    // Larger files are refused before anything is allocated for them. A real setup is a few
    // kilobytes; this leaves room for chords far beyond anything playable.
    static constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;

    // fileName only names the file in error messages.
    static SetupRecord parse(std::span<const std::uint8_t> bytes, const std::string& fileName);
    // Reads the whole file at path, then parses it.
    static SetupRecord readFile(const std::string& path);

private:
    static void readHeader(ByteReader& in, SetupRecord& record, float version);
    static void readMeasure(ByteReader& in, SetupRecord& record, int index, float version);
    static void readStep(ByteReader& in, Step& step, int measureIndex, int stepIndex,
                         float version);
    static void readTrailer(ByteReader& in, SetupRecord& record, float version);
    static void clampToModel(SetupRecord& record);
};
