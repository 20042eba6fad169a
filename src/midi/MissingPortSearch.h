#pragma once

#include <chrono>

#include <QTimer>

class OutputPort;
class Setup;

// While the setup names a port that is not there (port id -2: "Could not find port"), looks
// for it again about once a second and opens it when it turns up. A synthesizer or a MIDI
// bridge started after the program, or a client that names its port a moment after making
// it, is then played to without choosing the port again. Owned by the main window beside the
// port; runs on the window thread.
class MissingPortSearch {
public:
    static constexpr std::chrono::milliseconds kPeriod{1000};

    // Both must outlive the search.
    MissingPortSearch(Setup& setup, OutputPort& port);

    // Looks once every period from now on.
    void start();
    // One look: when the wanted port is missing, lists the ports again and, when the name is
    // there now, selects and opens it. True when it was found.
    bool lookAgain();

private:
    Setup& setup_;
    OutputPort& port_;
    QTimer timer_;
};
