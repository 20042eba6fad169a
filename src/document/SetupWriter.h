#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SetupRecord.h"

class ByteWriter;

// Writes a SetupRecord as a version 2.9 setup file: the 30-byte header, eight measures of
// sixteen steps (all sixteen, whatever stepsPerMeasure is) and the trailer with the port name.
class SetupWriter {
public:
    static constexpr float kVersion = 2.9f;

    // The file's bytes. Volume, transpose and port name missing from the record are written
    // as 80, 0 and the empty name.
    static std::vector<std::uint8_t> serialize(const SetupRecord& record);
    // Writes the file through SafeFileWriter: the previous file at path survives any failure.
    // Throws SetupFileError.
    static void writeFile(const std::string& path, const SetupRecord& record);

private:
    static void writeStep(ByteWriter& out, const Step& step);
};
