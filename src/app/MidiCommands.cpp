#include "app/MidiCommands.h"

#include "midi/MidiLog.h"
#include "midi/SystemDrivers.h"

namespace {

std::string& logPath() {
    static std::string path;
    return path;
}

}  // namespace

namespace MidiCommands {

void prepareEnvironment() { forbidJackServerStart(); }

int listPorts(std::FILE* out) { return printPortTable(out, makeSystemDrivers()); }

void setMidiLogPath(const std::string& path) { logPath() = path; }

const std::string& midiLogPath() { return logPath(); }

std::unique_ptr<MidiLog> openMidiLog(std::string* error) {
    if (logPath().empty()) {
        return nullptr;
    }
    return MidiLog::open(logPath(), error);
}

}  // namespace MidiCommands
