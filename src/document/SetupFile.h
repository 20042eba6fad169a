#pragma once

#include <cstdint>
#include <string>

#include "SetupRecord.h"

class EngineLock;
class Setup;

// Opening and saving a setup as the window layer does it. Each operation either succeeds as a
// whole or throws SetupFileError (what() is the text for the user) and leaves the Setup,
// its path, title and dirty flag, and the file on disk exactly as they were.
namespace SetupFile {

// " -  +  ÷  x :   " followed by the file's name without its folder.
std::string captionFor(const std::string& path);

// Reads the file at path into a record; the live setup is not involved yet.
SetupRecord read(const std::string& path);

// Commits a record read from path: the file fields (under engineLock when one is given, as
// the step routine may be reading the measures), then path, title and a clear dirty flag.
// The port lookup, the window position and the base colour are left to the caller: the
// record carries portName (when the file stores one), portId, windowLeft/Top and baseColor.
void commitRead(const SetupRecord& record, const std::string& path, Setup& setup,
                EngineLock* engineLock);

// read() then commitRead(); returns the record for the caller's own steps.
SetupRecord open(const std::string& path, Setup& setup, EngineLock* engineLock);

// Saves setup as version 2.9 through a temporary file, then sets path and title and clears
// dirty. On failure none of them changes and the previous file is intact.
void save(const std::string& path, Setup& setup, std::int32_t baseColor, std::int32_t windowLeft,
          std::int32_t windowTop);

}  // namespace SetupFile
