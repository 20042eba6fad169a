#include "app/CommandLine.h"

#include "app/DocumentCommands.h"
#include "document/PathRules.h"

namespace {

// Options of the window that take the next word as their value.
bool takeValue(const std::vector<std::string>& words, std::size_t& i, std::string& value,
               std::string& error, const char* what = "a file name") {
    if (i + 1 >= words.size()) {
        error = words[i] + " needs " + what;
        return false;
    }
    value = words[++i];
    return true;
}

}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& words) {
    CommandLine result;
    std::vector<std::string> pathWords;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--help") {
            result.mode = Mode::Help;
            return result;
        }
        if (word == "--version") {
            result.mode = Mode::Version;
            return result;
        }
        if (DocumentCommands::isDocumentOption(word)) {
            result.mode = Mode::Document;
            result.documentArgs.assign(words.begin() + static_cast<std::ptrdiff_t>(i),
                                       words.end());
            return result;
        }
        if (word == "--list-ports") {
            result.mode = Mode::ListPorts;
            return result;
        }
        if (word == "--play") {
            result.play = true;
        } else if (word == "--link") {
            result.link = true;
        } else if (word == "--midi-clock") {
            result.midiClock = true;
        } else if (word == "--jack-transport") {
            result.jackTransport = true;
        } else if (word == "--follow-clock") {
            result.followClock = true;
        } else if (word == "--midi-input") {
            if (!takeValue(words, i, result.midiInput, result.error, "a port name")) {
                result.mode = Mode::Error;
                return result;
            }
        } else if (word == "--midi-log") {
            if (!takeValue(words, i, result.midiLogPath, result.error)) {
                result.mode = Mode::Error;
                return result;
            }
        } else if (word == "--screenshot") {
            if (!takeValue(words, i, result.screenshotPath, result.error)) {
                result.mode = Mode::Error;
                return result;
            }
        } else if (word.starts_with("--")) {
            result.mode = Mode::Error;
            result.error = "unknown option " + word + " (see --help)";
            return result;
        } else {
            pathWords.push_back(word);
        }
    }
    result.setupPath = PathRules::CommandLinePath(pathWords);
    return result;
}

const char* CommandLine::helpText() {
    return "Usage: glimmerstave [OPTIONS] [FILE]\n"
           "A real-time MIDI step sequencer. FILE is a setup to open; the words of an unquoted\n"
           "path with blanks are joined.\n"
           "\n"
           "Options:\n"
           "  --help              show this text\n"
           "  --version           show the name and version and exit\n"
           "  --play              start playing once the window is up\n"
           "  --link              play in an Ableton Link session for this run (not stored)\n"
           "  --midi-clock        send MIDI clock for this run\n"
           "  --jack-transport    follow and drive the JACK transport for this run\n"
           "  --midi-input NAME   take MIDI input from the port NAME for this run (see --list-ports)\n"
           "  --follow-clock      follow the MIDI clock at the input for this run\n"
           "  --screenshot FILE   render the window after start-up to a PNG file and exit\n"
           "  --list-ports        print the MIDI ports and exit: each output as \"<index><TAB><name>\",\n"
           "                      then each input source as \"in<TAB><name>\"\n"
           "  --midi-log FILE     append every MIDI message sent to FILE";
}

const char* CommandLine::versionText() {
    return "Glimmerstave " GLIMMERSTAVE_VERSION
           "\n"
           "License GPL-3.0-or-later: GNU GPL version 3 or later.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.";
}
