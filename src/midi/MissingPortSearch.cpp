#include "midi/MissingPortSearch.h"

#include <cstddef>

#include "core/Setup.h"
#include "midi/OutputPort.h"

MissingPortSearch::MissingPortSearch(Setup& setup, OutputPort& port) : setup_(setup), port_(port) {
    timer_.setInterval(kPeriod);
    timer_.callOnTimeout([this] { lookAgain(); });
}

void MissingPortSearch::start() {
    timer_.start();
}

bool MissingPortSearch::lookAgain() {
    PortState& port = setup_.port;
    // A port that is there but fails to open is another matter: other instances lend theirs.
    if (port.portId != PortState::kMissingPortId || port.portName.empty()) {
        return false;
    }
    port_.refreshPortTable();
    for (int i = 0; i < port.deviceCount; ++i) {
        if (port.portNames[static_cast<std::size_t>(i)] == port.portName) {
            // A copy: selecting writes the setup's name.
            const std::string name = port.portName;
            port_.selectPortByName(name);
            return port.portId != PortState::kMissingPortId;
        }
    }
    return false;
}
