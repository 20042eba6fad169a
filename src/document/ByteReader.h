#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Reads the little-endian fields and counted strings of a setup file from bytes in memory.
// Every read checks the bytes left first; running out throws SetupFileError::endOfFile for
// fileName, so a short or hostile file never reads past its end.
class ByteReader {
public:
    ByteReader(std::span<const std::uint8_t> bytes, std::string fileName);
    virtual ~ByteReader() = default;

    std::int16_t readInt16();
    std::uint16_t readUint16();
    std::int32_t readInt32();
    std::uint32_t readUint32();
    float readFloat32();
    double readFloat64();
    std::uint8_t readByte();
    void skip(std::size_t count);

    // The counted string: a one-byte length, or 0xFF and a 16-bit length, or 0xFF, 0xFFFF and
    // a 32-bit length, then the characters. 0xFF 0xFFFE announces 16-bit characters: another
    // length prefix follows, then that many UTF-16LE code units. The result is UTF-8 (8-bit
    // text that is not valid UTF-8 is taken as Windows-1252).
    std::string readCountedString();

    std::size_t remaining() const { return bytes_.size() - position_; }
    std::size_t position() const { return position_; }
    const std::string& fileName() const { return fileName_; }

private:
    std::span<const std::uint8_t> take(std::size_t count);
    std::uint64_t readLittleEndian(std::size_t size);
    // The length after the first prefix; wide is set when the 16-bit marker was seen.
    std::uint32_t readStringLength(bool allowWideMarker, bool& wide);

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    std::string fileName_;
};
