#include "SetupFile.h"

#include <filesystem>
#include <mutex>

#include "SetupReader.h"
#include "SetupWriter.h"
#include "core/EngineLock.h"
#include "core/Setup.h"

namespace SetupFile {

std::string captionFor(const std::string& path) {
    return std::string(Setup::kTitlePrefix) + " :   " +
           std::filesystem::path(path).filename().string();
}

SetupRecord read(const std::string& path) {
    return SetupReader::readFile(path);
}

void commitRead(const SetupRecord& record, const std::string& path, Setup& setup,
                EngineLock* engineLock) {
    // Everything that can throw happens before the first field changes; the copy is made
    // outside the lock, and the setup's old note arrays are freed after it.
    std::string caption = captionFor(path);
    std::string newPath = path;
    SetupRecord staged(record);
    if (engineLock != nullptr) {
        std::lock_guard guard(*engineLock);
        staged.moveInto(setup);
    } else {
        staged.moveInto(setup);
    }
    setup.path = std::move(newPath);
    setup.title = std::move(caption);
    setup.dirty = false;
}

SetupRecord open(const std::string& path, Setup& setup, EngineLock* engineLock) {
    SetupRecord record = read(path);
    commitRead(record, path, setup, engineLock);
    return record;
}

void save(const std::string& path, Setup& setup, std::int32_t baseColor, std::int32_t windowLeft,
          std::int32_t windowTop) {
    const SetupRecord record = SetupRecord::fromSetup(setup, baseColor, windowLeft, windowTop);
    std::string caption = captionFor(path);
    std::string newPath = path;
    SetupWriter::writeFile(path, record);
    setup.path = std::move(newPath);
    setup.title = std::move(caption);
    setup.dirty = false;
}

}  // namespace SetupFile
