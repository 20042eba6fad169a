#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Builds the bytes of a setup file: little-endian fields, no padding, and the counted string
// of the file format (always with 8-bit characters; the UTF-8 text is stored as it is).
class ByteWriter {
public:
    virtual ~ByteWriter() = default;

    void writeInt16(std::int16_t value);
    void writeInt32(std::int32_t value);
    void writeUint16(std::uint16_t value);
    void writeUint32(std::uint32_t value);
    void writeFloat32(float value);
    void writeFloat64(double value);
    void writeByte(std::uint8_t value);
    // n < 255: one byte n; n < 65534: 0xFF and n as 16 bits; else 0xFF, 0xFFFF and n as 32 bits.
    void writeCountedString(std::string_view text);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t> takeBytes() { return std::move(bytes_); }

private:
    void writeLittleEndian(std::uint64_t value, int size);

    std::vector<std::uint8_t> bytes_;
};
