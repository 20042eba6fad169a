#include "app/MidiCommands.h"

#include "core/Setup.h"
#include "midi/MidiLog.h"
#include "midi/OutputPort.h"
#include "midi/SystemDrivers.h"

namespace {

std::string& logPath() {
    static std::string path;
    return path;
}

}  // namespace

namespace MidiCommands {

void prepareEnvironment() { forbidJackServerStart(); }

int listPorts(std::FILE* out) {
    Setup setup;
    OutputPort port(setup, makeSystemDrivers());
    port.refreshPortTable();
    for (int i = 0; i <= setup.port.deviceCount; ++i) {
        std::fprintf(out, "%d\t%s\n", i, setup.port.portNames[static_cast<std::size_t>(i)].c_str());
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

void setMidiLogPath(const std::string& path) { logPath() = path; }

const std::string& midiLogPath() { return logPath(); }

std::unique_ptr<MidiLog> openMidiLog(std::string* error) {
    if (logPath().empty()) {
        return nullptr;
    }
    return MidiLog::open(logPath(), error);
}

}  // namespace MidiCommands
