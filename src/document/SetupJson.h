#pragma once

#include <string>

#include "SetupRecord.h"

// The setup as JSON, for scripts and for checking what a file holds. Keys are the model's
// field names; numbers that are not finite (a damaged tempo, say) are written as null so the
// output always parses.
namespace SetupJson {

// The record exactly as given.
std::string format(const SetupRecord& record);

// What the program's setup holds after reading this record into a new setup: fields the file
// does not store (volume and transpose before 2.0, the port name before 2.9) show the new
// setup's values, 80, 0 and "".
std::string formatAsRead(const SetupRecord& record);

}  // namespace SetupJson
