#pragma once

#include <stdexcept>
#include <string>

// A failed read or save of a setup file. what() is the complete text shown to the user; it
// names the file. The operation that throws leaves the Setup and the file on disk as they were.
class SetupFileError : public std::runtime_error {
public:
    enum class Kind {
        EndOfFile,    // the file ends before its layout does
        Damaged,      // a count or length that no setup file can hold
        TooLarge,     // far larger than any setup file
        CannotOpen,   // missing, unreadable, a folder, ...
        CannotWrite,  // creating, writing, flushing or renaming failed
    };

    SetupFileError(Kind kind, const std::string& message);

    Kind kind() const { return kind_; }

    // "An attempt was made to access <file> past its end."
    static SetupFileError endOfFile(const std::string& fileName);
    // "<file> is damaged: <what>."
    static SetupFileError damaged(const std::string& fileName, const std::string& what);
    static SetupFileError tooLarge(const std::string& fileName);
    // The text for an errno value from opening or reading the file.
    static SetupFileError cannotOpen(const std::string& fileName, int errorNumber);
    // What a save failed at, named in its text.
    enum class SaveStep { Create, Write, Rename };
    // "<file> could not be created: <the system's text for errorNumber>." (written, renamed):
    // the real cause, since a folder that cannot be written is no missing file.
    static SetupFileError cannotWrite(const std::string& fileName, int errorNumber, SaveStep step);

private:
    Kind kind_;
};
