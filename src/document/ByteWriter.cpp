#include "ByteWriter.h"

#include <bit>
#include <stdexcept>

void ByteWriter::writeLittleEndian(std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void ByteWriter::writeInt16(std::int16_t value) {
    writeUint16(static_cast<std::uint16_t>(value));
}

void ByteWriter::writeInt32(std::int32_t value) {
    writeUint32(static_cast<std::uint32_t>(value));
}

void ByteWriter::writeUint16(std::uint16_t value) {
    writeLittleEndian(value, 2);
}

void ByteWriter::writeUint32(std::uint32_t value) {
    writeLittleEndian(value, 4);
}

void ByteWriter::writeFloat32(float value) {
    writeUint32(std::bit_cast<std::uint32_t>(value));
}

void ByteWriter::writeFloat64(double value) {
    writeLittleEndian(std::bit_cast<std::uint64_t>(value), 8);
}

void ByteWriter::writeByte(std::uint8_t value) {
    bytes_.push_back(value);
}

void ByteWriter::writeCountedString(std::string_view text) {
    const std::size_t length = text.size();
    if (length < 0xFF) {
        writeByte(static_cast<std::uint8_t>(length));
    } else if (length < 0xFFFE) {
        // 0xFFFE itself would announce 16-bit characters, so it already takes the long form.
        writeByte(0xFF);
        writeUint16(static_cast<std::uint16_t>(length));
    } else if (length <= 0xFFFFFFFFu) {
        writeByte(0xFF);
        writeUint16(0xFFFF);
        writeUint32(static_cast<std::uint32_t>(length));
    } else {
        throw std::length_error("text too long for a setup file");
    }
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}
