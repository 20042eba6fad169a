#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/DocumentCommands.h"
#include "app/MidiCommands.h"
#include "core/Setup.h"

int main(int argc, char** argv) {
    MidiCommands::prepareEnvironment();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: glimmerstave [FILE]\n"
                      "A real-time MIDI step sequencer.\n"
                      "\n"
                      "Options:\n"
                      "  --help    show this text\n"
                      "  --list-ports      print the MIDI output ports (index and name) and exit\n"
                      "  --midi-log FILE   append every MIDI message sent to FILE");
            std::puts(DocumentCommands::kHelpText);
            return 0;
        }
        if (DocumentCommands::isDocumentOption(argv[i])) {
            return DocumentCommands::run(std::vector<std::string>(argv + i, argv + argc),
                                         std::cout, std::cerr);
        }
        if (std::strcmp(argv[i], "--list-ports") == 0) {
            return MidiCommands::listPorts(stdout);
        }
        if (std::strcmp(argv[i], "--midi-log") == 0) {
            if (i + 1 >= argc) {
                std::fputs("glimmerstave: --midi-log needs a file name\n", stderr);
                return 2;
            }
            MidiCommands::setMidiLogPath(argv[++i]);
            continue;
        }
    }
    std::puts("Glimmerstave: the window is not built yet; see --help.");
    return 0;
}
