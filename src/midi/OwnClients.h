#pragma once

#include <string>

// The JACK and ALSA clients of this process that have MIDI ports: the output list offers
// other clients' input ports and the MIDI input other clients' output ports, never the
// program's own (which would feed the program back into itself). Kept by whoever opens such a
// client, from its opening to its closing. Thread-safe.
class OwnClients {
public:
    // JACK clients by the names the server gave them (a name taken already gets a "-01").
    static void addJack(const std::string& name);
    static void removeJack(const std::string& name);
    static bool isJack(const std::string& name);

    // Sequencer clients by their client numbers.
    static void addAlsa(int client);
    static void removeAlsa(int client);
    static bool isAlsa(int client);
};
