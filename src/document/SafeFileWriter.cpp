#include "SafeFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>

#include "SetupFileError.h"

namespace {

std::string resolveLinks(const std::string& path) {
    std::error_code error;
    const std::filesystem::path given(path);
    if (!std::filesystem::is_symlink(given, error)) {
        return path;
    }
    std::filesystem::path target = std::filesystem::weakly_canonical(given, error);
    return error ? path : target.string();
}

std::string folderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 generator{std::random_device{}()};
    return std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + "-" +
           std::to_string(generator() % 1000000u);
}

}  // namespace

SafeFileWriter::SafeFileWriter(const std::string& path)
    : path_(path), targetPath_(resolveLinks(path)) {
    const std::filesystem::path target(targetPath_);
    if (!target.has_filename()) {
        throw SetupFileError::cannotWrite(path_, EISDIR, SetupFileError::SaveStep::Create);
    }
    struct stat existing {};
    const bool targetExists = ::stat(targetPath_.c_str(), &existing) == 0;
    if (targetExists && !S_ISREG(existing.st_mode)) {
        throw SetupFileError::cannotWrite(path_, S_ISDIR(existing.st_mode) ? EISDIR : EACCES,
                                          SetupFileError::SaveStep::Write);
    }
    // The rename would replace a file we may not write to; keep write protection meaningful.
    if (targetExists && ::access(targetPath_.c_str(), W_OK) != 0) {
        throw SetupFileError::cannotWrite(path_, errno, SetupFileError::SaveStep::Write);
    }
    // A hidden name in the same folder, so the rename never crosses file systems.
    const std::string prefix = (target.parent_path() / ("." + target.filename().string())).string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = prefix + ".saving-" + uniqueSuffix();
        // 0666 less the umask, as for any new file; an existing file's mode is copied below.
        descriptor_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor_ >= 0) {
            temporaryPath_ = std::move(candidate);
            break;
        }
        if (errno != EEXIST) {
            throw SetupFileError::cannotWrite(path_, errno, SetupFileError::SaveStep::Create);
        }
    }
    if (descriptor_ < 0) {
        throw SetupFileError::cannotWrite(path_, EEXIST, SetupFileError::SaveStep::Create);
    }
    if (targetExists) {
        // Best effort: a file we may not chmod is still saved.
        (void)::fchmod(descriptor_, existing.st_mode & 07777);
    }
}

SafeFileWriter::~SafeFileWriter() {
    discard();
}

void SafeFileWriter::discard() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
}

void SafeFileWriter::write(std::span<const std::uint8_t> bytes) { writeBytes(bytes, -1); }

void SafeFileWriter::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    writeBytes(bytes, static_cast<std::int64_t>(offset));
}

void SafeFileWriter::writeBytes(std::span<const std::uint8_t> bytes, std::int64_t offset) {
    if (descriptor_ < 0) {
        throw SetupFileError::cannotWrite(path_, EBADF, SetupFileError::SaveStep::Write);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            offset < 0 ? ::write(descriptor_, bytes.data() + done, bytes.size() - done)
                       : ::pwrite(descriptor_, bytes.data() + done, bytes.size() - done,
                                  static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            discard();
            throw SetupFileError::cannotWrite(path_, error, SetupFileError::SaveStep::Write);
        }
        done += static_cast<std::size_t>(written);
    }
}

void SafeFileWriter::commit() {
    if (descriptor_ < 0) {
        throw SetupFileError::cannotWrite(path_, EBADF, SetupFileError::SaveStep::Write);
    }
    if (::fsync(descriptor_) != 0) {
        const int error = errno;
        discard();
        throw SetupFileError::cannotWrite(path_, error, SetupFileError::SaveStep::Write);
    }
    const int closeResult = ::close(descriptor_);
    descriptor_ = -1;
    if (closeResult != 0) {
        const int error = errno;
        discard();
        throw SetupFileError::cannotWrite(path_, error, SetupFileError::SaveStep::Write);
    }
    if (::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
        const int error = errno;
        discard();
        throw SetupFileError::cannotWrite(path_, error, SetupFileError::SaveStep::Rename);
    }
    temporaryPath_.clear();
    // Make the rename itself durable; the data is already safe if this fails.
    const int folder = ::open(folderOf(targetPath_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}
