#include "SetupFileError.h"

#include <cerrno>
#include <system_error>

namespace {

// The file-error texts users of the program have always seen, with the file in place of %1.
std::string fileErrorText(const std::string& fileName, int errorNumber) {
    switch (errorNumber) {
        case ENOENT:
        case ENOTDIR:
            return fileName + " was not found.";
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return fileName + " could not be accessed.";
        case EMFILE:
        case ENFILE:
            return fileName + " could not be opened because there are too many open files.";
        case ENAMETOOLONG:
            return fileName + " contains an invalid path.";
        case ENOSPC:
        case EDQUOT:
            return "Disk full while accessing " + fileName + ".";
        case EIO:
            return "A hardware I/O error was reported while accessing " + fileName + ".";
        default:
            return "An unexpected error occurred while accessing " + fileName + ".";
    }
}

}  // namespace

SetupFileError::SetupFileError(Kind kind, const std::string& message)
    : std::runtime_error(message), kind_(kind) {}

SetupFileError SetupFileError::endOfFile(const std::string& fileName) {
    return SetupFileError(Kind::EndOfFile,
                          "An attempt was made to access " + fileName + " past its end.");
}

SetupFileError SetupFileError::damaged(const std::string& fileName, const std::string& what) {
    return SetupFileError(Kind::Damaged, fileName + " is damaged: " + what + ".");
}

SetupFileError SetupFileError::tooLarge(const std::string& fileName) {
    return SetupFileError(Kind::TooLarge, fileName + " is too large to be a setup file.");
}

SetupFileError SetupFileError::cannotOpen(const std::string& fileName, int errorNumber) {
    return SetupFileError(Kind::CannotOpen, fileErrorText(fileName, errorNumber));
}

SetupFileError SetupFileError::cannotWrite(const std::string& fileName, int errorNumber,
                                           SaveStep step) {
    const char* failed = step == SaveStep::Create  ? " could not be created: "
                         : step == SaveStep::Write ? " could not be written: "
                                                   : " could not be renamed into place: ";
    return SetupFileError(Kind::CannotWrite,
                          fileName + failed + std::generic_category().message(errorNumber) + ".");
}
