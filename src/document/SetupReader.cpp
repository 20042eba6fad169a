#include "SetupReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "ByteReader.h"
#include "SetupFileError.h"

namespace {

// The layout changes, each compared as a single-precision float like the stored version.
constexpr float kMeasureLinks = 1.003f;  // measures store next and repeats
constexpr float kNarrowColumns = 1.1f;   // the window width formula changes
constexpr float kMonophonicFlag = 1.5f;  // a monophonic flag follows the window rectangle
constexpr float kCompactLayout = 2.0f;   // one colour, 16-bit on/duration, window position
constexpr float kNoteArrays = 2.5f;      // counted note arrays, durations stored as is
constexpr float kPortName = 2.9f;        // the port name follows the trailer

// An unordered comparison (a version that is not a number) counts as older than everything.
bool olderThan(float version, float threshold) {
    return !(version >= threshold);
}

// Old durations were kept on a 0..127 scale; this constant (0.13385826), just below 17/127,
// maps them onto 0..16 the way the program always has. Given by its bits to be exact.
constexpr float kOldDurationScale = std::bit_cast<float>(0x3E091224u);

std::int16_t rescaleOldDuration(std::int16_t duration) {
    // In double the product is exact, so 127 stays just below 17 and truncates to 16.
    return static_cast<std::int16_t>(static_cast<double>(duration) *
                                     static_cast<double>(kOldDurationScale));
}

// Old files stored the window rectangle; the number of columns followed from its width.
std::int32_t stepsFromOldWidth(std::int32_t left, std::int32_t right, float version) {
    const std::int64_t width = static_cast<std::int64_t>(right) - left;
    const std::int64_t steps =
        olderThan(version, kNarrowColumns) ? (width - 122) / 35 : (width - 110) / 30;
    // Clamped into 1..16 later; only keep it from wrapping around here.
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        steps, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::string placeOf(int measureIndex, int stepIndex) {
    return "loop " + std::to_string(measureIndex + 1) + ", step " + std::to_string(stepIndex + 1);
}

}  // namespace

SetupRecord SetupReader::parse(std::span<const std::uint8_t> bytes, const std::string& fileName) {
    ByteReader in(bytes, fileName);
    SetupRecord record;
    const float version = in.readFloat32();
    record.fileVersion = version;
    readHeader(in, record, version);
    for (int index = 0; index < Setup::kMeasureCount; ++index) {
        readMeasure(in, record, index, version);
    }
    readTrailer(in, record, version);
    // Anything after the last field of the version is ignored.
    clampToModel(record);
    return record;
}

void SetupReader::readHeader(ByteReader& in, SetupRecord& record, float version) {
    record.tempoEditMode = in.readInt16();
    record.bpm = in.readFloat64();
    record.portId = in.readInt32();
    record.channel = in.readInt16();
    record.selectedMeasure = in.readInt16();
    record.mute = in.readInt32();
    record.baseColor = in.readInt32();
    if (olderThan(version, kCompactLayout)) {
        // Three colours then; the scheme's base colour is the second.
        record.baseColor = in.readInt32();
        in.readInt32();
    }
}

void SetupReader::readMeasure(ByteReader& in, SetupRecord& record, int index, float version) {
    Measure& measure = record.measures[static_cast<std::size_t>(index)];
    if (olderThan(version, kCompactLayout)) {
        in.readInt32();
    }
    if (olderThan(version, kMeasureLinks)) {
        in.readInt16();
        measure.next = static_cast<std::int16_t>(index);
        measure.repeats = 1;
    } else {
        measure.next = in.readInt16();
        measure.repeats = in.readInt16();
    }
    for (int stepIndex = 0; stepIndex < Measure::kStepCount; ++stepIndex) {
        readStep(in, measure.steps[static_cast<std::size_t>(stepIndex)], index, stepIndex, version);
    }
}

void SetupReader::readStep(ByteReader& in, Step& step, int measureIndex, int stepIndex,
                           float version) {
    if (olderThan(version, kNoteArrays)) {
        step.notes.setSize(1);
        step.notes[0] = in.readInt16();
    } else {
        const std::int32_t count = in.readInt32();
        if (count < 0) {
            throw SetupFileError::damaged(in.fileName(),
                                          "the note count of " + placeOf(measureIndex, stepIndex) +
                                              " is negative (" + std::to_string(count) + ")");
        }
        // Checked before resizing, so a hostile count cannot make us allocate for it.
        if (static_cast<std::size_t>(count) > in.remaining() / 4) {
            throw SetupFileError::endOfFile(in.fileName());
        }
        step.notes.setSize(count);
        for (std::int32_t i = 0; i < count; ++i) {
            step.notes[i] = in.readInt32();
        }
    }
    step.program = in.readInt16();
    step.velocity = in.readInt16();
    step.pan = in.readInt16();
    if (olderThan(version, kCompactLayout)) {
        step.on = in.readInt32() != 0 ? 1 : 0;
        step.duration = in.readInt32() == 1 ? 0 : 127;
    } else {
        step.duration = in.readInt16();
        step.on = in.readInt16();
    }
    if (olderThan(version, kNoteArrays)) {
        step.duration = rescaleOldDuration(step.duration);
    }
}

void SetupReader::readTrailer(ByteReader& in, SetupRecord& record, float version) {
    if (olderThan(version, kCompactLayout)) {
        const std::int32_t left = in.readInt32();
        const std::int32_t top = in.readInt32();
        const std::int32_t right = in.readInt32();
        in.readInt32();  // bottom: the window's height never changed
        if (olderThan(version, kMonophonicFlag)) {
            record.polyphonic = 0;
        } else {
            record.polyphonic = in.readInt32() == 0 ? 1 : 0;
        }
        record.stepsPerMeasure = stepsFromOldWidth(left, right, version);
        record.windowLeft = left;
        record.windowTop = top;
        return;
    }
    record.windowLeft = in.readInt32();
    record.windowTop = in.readInt32();
    record.stepsPerMeasure = in.readInt32();
    record.polyphonic = in.readInt32();
    if (version > kCompactLayout) {
        record.volume = in.readInt16();
        record.transpose = in.readInt16();
    } else {
        record.volume = 80;
        record.transpose = 0;
    }
    if (!olderThan(version, kPortName)) {
        record.portName = in.readCountedString();
    }
}

void SetupReader::clampToModel(SetupRecord& record) {
    // The rest of the program relies on these limits; a file can hold anything.
    constexpr int kLastMeasure = Setup::kMeasureCount - 1;
    record.selectedMeasure = std::clamp<std::int16_t>(record.selectedMeasure, 0, kLastMeasure);
    for (Measure& measure : record.measures) {
        measure.next = std::clamp<std::int16_t>(measure.next, 0, kLastMeasure);
    }
    record.channel = std::clamp<std::int16_t>(record.channel, 1, 16);
    record.stepsPerMeasure =
        std::clamp<std::int32_t>(record.stepsPerMeasure, 1, Setup::kMaxStepsPerMeasure);
}

SetupRecord SetupReader::readFile(const std::string& path) {
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw SetupFileError::cannotOpen(path, errno);
    }
    std::vector<std::uint8_t> bytes;
    struct stat info {};
    if (::fstat(::fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode)) {
        if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileSize) {
            throw SetupFileError::tooLarge(path);
        }
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    }
    // The limit is checked again while reading: the file may grow, or not be a plain file.
    std::uint8_t buffer[4096];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        if (got > 0) {
            if (bytes.size() + got > kMaxFileSize) {
                throw SetupFileError::tooLarge(path);
            }
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        if (got < sizeof buffer) {
            if (std::ferror(file.get())) {
                // Reading a folder fails here with EISDIR.
                throw SetupFileError::cannotOpen(path, errno != 0 ? errno : EIO);
            }
            break;
        }
    }
    return parse(bytes, path);
}
