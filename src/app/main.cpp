#include <cstdio>
#include <cstring>

#include "core/Setup.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("Usage: glimmerstave [FILE]\n"
                      "A real-time MIDI step sequencer.\n"
                      "\n"
                      "Options:\n"
                      "  --help    show this text");
            return 0;
        }
    }
    std::puts("Glimmerstave: the window is not built yet; see --help.");
    return 0;
}
