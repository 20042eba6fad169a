#include "ByteReader.h"

#include <bit>
#include <utility>
#include <vector>

#include "SetupFileError.h"
#include "TextEncoding.h"

namespace {

constexpr std::uint8_t kLongLength = 0xFF;
constexpr std::uint16_t kWideMarker = 0xFFFE;
constexpr std::uint16_t kHugeLength = 0xFFFF;

}  // namespace

ByteReader::ByteReader(std::span<const std::uint8_t> bytes, std::string fileName)
    : bytes_(bytes), fileName_(std::move(fileName)) {}

std::span<const std::uint8_t> ByteReader::take(std::size_t count) {
    if (count > remaining()) {
        throw SetupFileError::endOfFile(fileName_);
    }
    const auto result = bytes_.subspan(position_, count);
    position_ += count;
    return result;
}

std::uint64_t ByteReader::readLittleEndian(std::size_t size) {
    const auto field = take(size);
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = (value << 8) | field[i];
    }
    return value;
}

std::int16_t ByteReader::readInt16() {
    return static_cast<std::int16_t>(readUint16());
}

std::uint16_t ByteReader::readUint16() {
    return static_cast<std::uint16_t>(readLittleEndian(2));
}

std::int32_t ByteReader::readInt32() {
    return static_cast<std::int32_t>(readUint32());
}

std::uint32_t ByteReader::readUint32() {
    return static_cast<std::uint32_t>(readLittleEndian(4));
}

float ByteReader::readFloat32() {
    return std::bit_cast<float>(readUint32());
}

double ByteReader::readFloat64() {
    return std::bit_cast<double>(readLittleEndian(8));
}

std::uint8_t ByteReader::readByte() {
    return take(1)[0];
}

void ByteReader::skip(std::size_t count) {
    take(count);
}

std::uint32_t ByteReader::readStringLength(bool allowWideMarker, bool& wide) {
    const std::uint8_t shortLength = readByte();
    if (shortLength < kLongLength) {
        return shortLength;
    }
    const std::uint16_t mediumLength = readUint16();
    if (mediumLength == kWideMarker) {
        if (!allowWideMarker) {
            throw SetupFileError::damaged(fileName_, "a text field has two character-width marks");
        }
        wide = true;
        return readStringLength(false, wide);
    }
    if (mediumLength < kHugeLength) {
        return mediumLength;
    }
    return readUint32();
}

std::string ByteReader::readCountedString() {
    bool wide = false;
    const std::uint32_t length = readStringLength(true, wide);
    if (!wide) {
        const auto characters = take(length);
        return TextEncoding::fileTextToUtf8(
            std::string_view(reinterpret_cast<const char*>(characters.data()), characters.size()));
    }
    // Check the whole length before allocating for it.
    if (length > remaining() / 2) {
        throw SetupFileError::endOfFile(fileName_);
    }
    std::vector<std::uint16_t> units(length);
    for (std::uint16_t& unit : units) {
        unit = readUint16();
    }
    return TextEncoding::utf16ToUtf8(units);
}
