#include <time.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/DocumentCommands.h"
#include "app/MainWindow.h"
#include "app/MidiCommands.h"
#include "app/ShutdownSignals.h"
#include "core/Random.h"
#include "panels/MainPanel.h"
#include "panels/PanelIds.h"

namespace {

// The program's generator is seeded once, with the milliseconds since the system started.
std::uint32_t millisecondsSinceBoot() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
}

int runWindow(int argc, char** argv, const CommandLine& commandLine) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Glimmerstave");
    Random::seed(millisecondsSinceBoot());

    MainWindow::Options options;
    options.setupPath = commandLine.setupPath;
    options.midiLogPath = commandLine.midiLogPath;
    options.midiClock = commandLine.midiClock;
    options.jackTransport = commandLine.jackTransport;
    MainWindow window(std::move(options));
    window.initialise();

    ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &ShutdownSignals::shutdownRequested, &window,
                     [&window](int) { window.closeWithoutQuestion(); });

    if (!commandLine.screenshotPath.empty()) {
        window.show();
        QTimer::singleShot(0, &window, [&window, &commandLine] {
            const bool saved = window.window()->grab().save(QString::fromStdString(commandLine.screenshotPath));
            if (!saved) {
                std::fprintf(stderr, "glimmerstave: could not write %s\n",
                             commandLine.screenshotPath.c_str());
            }
            window.closeWithoutQuestion();
            QCoreApplication::exit(saved ? 0 : 1);
        });
        return QApplication::exec();
    }
    window.show();
    if (commandLine.play) {
        QTimer::singleShot(0, &window, [&window] {
            if (!window.player().isRunning()) {
                window.panel().PlayButton().SetState(1);
                window.player().toggle();
            }
        });
    }
    QObject::connect(&application, &QApplication::lastWindowClosed, &application,
                     &QApplication::quit);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    MidiCommands::prepareEnvironment();
    const std::vector<std::string> words(argv + 1, argv + argc);
    const CommandLine commandLine = CommandLine::parse(words);
    switch (commandLine.mode) {
        case CommandLine::Mode::Help:
            std::puts(CommandLine::helpText());
            std::puts(DocumentCommands::kHelpText);
            return 0;
        case CommandLine::Mode::Document:
            return DocumentCommands::run(commandLine.documentArgs, std::cout, std::cerr);
        case CommandLine::Mode::ListPorts:
            return MidiCommands::listPorts(stdout);
        case CommandLine::Mode::Error:
            std::fprintf(stderr, "glimmerstave: %s\n", commandLine.error.c_str());
            return 2;
        case CommandLine::Mode::Window:
            break;
    }
    return runWindow(argc, argv, commandLine);
}
