#pragma once

#include <string>
#include <vector>

// What the program was asked to do on its command line. Options start with "--"; every
// other word is part of the setup path (joined with single spaces, so an unquoted path with
// blanks stays whole).
struct CommandLine {
    enum class Mode {
        Window,    // open the window (the usual case)
        Help,      // --help
        Version,   // --version
        Document,  // --dump / --convert / --export-midi, with documentArgs
        ListPorts, // --list-ports
        Error,     // error says what is wrong
    };

    static CommandLine parse(const std::vector<std::string>& words);
    static const char* helpText();
    // "Glimmerstave <version>", the version the about box shows, and the licence.
    static const char* versionText();

    Mode mode = Mode::Window;
    std::string setupPath;
    std::string midiLogPath;
    std::string screenshotPath;
    bool play = false;
    // --link: Ableton Link on for this run, whatever the stored preference says.
    bool link = false;
    // --midi-clock, --jack-transport: turned on for this run (the preferences stay).
    bool midiClock = false;
    bool jackTransport = false;
    // --follow-clock: follow the MIDI clock at the input for this run; --midi-input NAME: the
    // input's source for this run (the preferences stay).
    bool followClock = false;
    std::string midiInput;
    std::vector<std::string> documentArgs;
    std::string error;
};
