#pragma once

#include <string>

// The names this program's clients carry on the JACK server and the ALSA sequencer. On its
// own each is "Glimmerstave" and a suffix; under a session manager the client_id the session
// gave this copy takes the program's name's place (the NSM convention), so that two copies in
// one session stay apart and the connections the session saved find the same copy after a
// reload. Every JACK and ALSA client of the program takes its name from here as it opens;
// one already open keeps the name it had. Thread-safe.
class ClientNames {
public:
    static constexpr const char* kProgramName = "Glimmerstave";

    // The session's client_id for this copy; empty when there is none (again).
    static void setSessionClientId(const std::string& clientId);
    static std::string sessionClientId();

    // The program's name or the session's client_id, then suffix (" list", " synth", ...),
    // cut to the length a JACK client name may have.
    static std::string jackClientName(const std::string& suffix = {});
    // The same within the sequencer's 63 characters.
    static std::string alsaClientName(const std::string& suffix = {});
};
