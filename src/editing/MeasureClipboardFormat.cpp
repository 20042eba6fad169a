#include "MeasureClipboardFormat.h"

#include <array>
#include <cstddef>
#include <limits>

namespace {

void putUint16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putInt16(std::vector<std::uint8_t>& out, std::int16_t value) {
    putUint16(out, static_cast<std::uint16_t>(value));
}

void putUint32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFU));
    }
}

void putValues(std::vector<std::uint8_t>& out, const Step& step) {
    putInt16(out, step.program);
    putInt16(out, step.velocity);
    putInt16(out, step.pan);
    putInt16(out, step.duration);
}

// Reads fields from the front of the clipboard bytes, refusing to read past their end.
class ClipboardReader {
public:
    explicit ClipboardReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t remaining() const { return bytes_.size() - position_; }

    std::uint16_t readUint16() { return static_cast<std::uint16_t>(readLittleEndian(2)); }
    std::int16_t readInt16() { return static_cast<std::int16_t>(readUint16()); }
    std::uint32_t readUint32() { return static_cast<std::uint32_t>(readLittleEndian(4)); }
    std::int32_t readInt32() { return static_cast<std::int32_t>(readUint32()); }

private:
    std::uint32_t readLittleEndian(std::size_t size) {
        if (remaining() < size) {
            throw MeasureClipboardError(MeasureClipboardFormat::kEndOfDataMessage);
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(bytes_[position_ + i]) << (8 * i);
        }
        position_ += size;
        return value;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

void readValues(ClipboardReader& reader, Step& step) {
    step.program = reader.readInt16();
    step.velocity = reader.readInt16();
    step.pan = reader.readInt16();
    step.duration = reader.readInt16();
}

void readStepV3(ClipboardReader& reader, Step& step) {
    step.on = reader.readInt16();
    std::uint32_t count = reader.readUint16();
    if (count == MeasureClipboardFormat::kWideCountMarker) {
        count = reader.readUint32();
    }
    // Each note takes four bytes: a count larger than that can only be damaged data, and must
    // not turn into an allocation.
    if (count > reader.remaining() / 4) {
        throw MeasureClipboardError(MeasureClipboardFormat::kEndOfDataMessage);
    }
    step.notes.setSize(static_cast<std::ptrdiff_t>(count));
    for (std::uint32_t i = 0; i < count; ++i) {
        step.notes[static_cast<std::ptrdiff_t>(i)] = reader.readInt32();
    }
    readValues(reader, step);
}

void readStepV2(ClipboardReader& reader, Step& step) {
    step.on = reader.readInt16();
    const std::int16_t note = reader.readInt16();
    step.notes.setSize(1);
    step.notes[0] = note;
    readValues(reader, step);
}

}  // namespace

std::vector<std::uint8_t> MeasureClipboardFormat::encodeV3(const Measure& measure) {
    std::vector<std::uint8_t> out;
    for (const Step& step : measure.steps) {
        putInt16(out, step.on);
        const std::ptrdiff_t count = step.notes.size();
        if (static_cast<std::uint64_t>(count) > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("A step holds more notes than the clipboard can carry.");
        }
        if (count < kWideCountMarker) {
            putUint16(out, static_cast<std::uint16_t>(count));
        } else {
            putUint16(out, kWideCountMarker);
            putUint32(out, static_cast<std::uint32_t>(count));
        }
        for (const std::int32_t note : step.notes) {
            putUint32(out, static_cast<std::uint32_t>(note));
        }
        putValues(out, step);
    }
    return out;
}

std::vector<std::uint8_t> MeasureClipboardFormat::encodeV2(const Measure& measure) {
    std::vector<std::uint8_t> out;
    out.reserve(Measure::kStepCount * 12);
    for (const Step& step : measure.steps) {
        putInt16(out, step.on);
        // The note a step without notes shows, without adding it to the step.
        const std::int32_t first = step.notes.empty() ? 0 : step.notes[0];
        putInt16(out, static_cast<std::int16_t>(first));
        putValues(out, step);
    }
    return out;
}

void MeasureClipboardFormat::decode(std::span<const std::uint8_t> bytes, int layout,
                                    Measure& target) {
    if (layout != kLayoutV3 && layout != kLayoutV2) {
        throw std::invalid_argument("unknown measure clipboard layout");
    }
    // Read into a copy so that data ending early never leaves the measure half pasted.
    std::array<Step, Measure::kStepCount> steps;
    ClipboardReader reader(bytes);
    for (Step& step : steps) {
        if (layout == kLayoutV3) {
            readStepV3(reader, step);
        } else {
            readStepV2(reader, step);
        }
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        target.steps[i] = steps[i];
    }
}
