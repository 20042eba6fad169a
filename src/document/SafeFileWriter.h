#pragma once

#include <cstdint>
#include <span>
#include <string>

// Replaces a file without ever leaving it half-written: the bytes go into a new file in the
// same folder, which is flushed to disk and then renamed over the target in one step. Until
// commit() succeeds the old file is untouched; a writer destroyed without a commit (or after
// a failed one) removes its temporary file. Errors throw SetupFileError naming the target.
class SafeFileWriter {
public:
    // Creates the temporary file next to path (next to the file a symbolic link points to,
    // so the link survives). An existing target's permissions carry over.
    explicit SafeFileWriter(const std::string& path);
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;
    virtual ~SafeFileWriter();

    void write(std::span<const std::uint8_t> bytes);
    // Overwrites bytes already written, from offset on (a header whose sizes are known only
    // at the end); the end of the file stays where write() left it.
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Flushes the data to disk, renames the temporary file over the target and flushes the
    // folder. After a successful commit the writer is spent.
    void commit();

    const std::string& temporaryPath() const { return temporaryPath_; }

private:
    // Appends at the end (offset < 0) or overwrites from offset, retrying short writes.
    void writeBytes(std::span<const std::uint8_t> bytes, std::int64_t offset);
    void discard();

    std::string path_;        // as given, for messages
    std::string targetPath_;  // where the data lands (a link's target)
    std::string temporaryPath_;
    int descriptor_ = -1;
};
