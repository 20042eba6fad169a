#include <time.h>

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/DocumentCommands.h"
#include "app/FirstPaintReport.h"
#include "app/MainWindow.h"
#include "sync/TimeKeeper.h"
#include "app/MidiCommands.h"
#include "app/NsmSession.h"
#include "app/ShutdownSignals.h"
#include "core/Random.h"
#include "panels/MainPanel.h"
#include "panels/PanelIds.h"
#include "session/NsmClient.h"

namespace {

// The program's generator is seeded once, with the milliseconds since the system started.
std::uint32_t millisecondsSinceBoot() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
}

// The session manager named in $NSM_URL, or nullptr (also, with a message, when it cannot
// be reached: the program then runs on its own).
std::unique_ptr<NsmClient> connectToSessionManager() {
    const char* url = std::getenv(NsmClient::kUrlVariable);
    if (url == nullptr || *url == '\0') {
        return nullptr;
    }
    std::string error;
    std::unique_ptr<NsmClient> client = NsmClient::create(url, &error);
    if (!client) {
        std::fprintf(stderr, "glimmerstave: %s\n", error.c_str());
    }
    return client;
}

constexpr const char* kNoDisplayText =
    "glimmerstave: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset "
    "or unreachable); the options of --help that need no screen still work\n";

// The platform Qt starts on when the user chose none. A screenshot needs no screen: without a
// display it renders offscreen. The window is only tried where a display is named, with the
// offscreen platform as the fallback that tells an unreachable X server from a crash.
// False when the window cannot be shown at all.
bool choosePlatform(bool needsScreen) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return true;
    }
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        return true;
    }
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
        return true;
    }
    if (needsScreen) {
        return false;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

int runWindow(int argc, char** argv, const CommandLine& commandLine) {
    const bool needsScreen = commandLine.screenshotPath.empty();
    const bool platformChosenHere = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!choosePlatform(needsScreen)) {
        std::fputs(kNoDisplayText, stderr);
        return 1;
    }
    QApplication application(argc, argv);
    if (needsScreen && platformChosenHere &&
        QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        std::fputs(kNoDisplayText, stderr);
        return 1;
    }
    QApplication::setApplicationName("Glimmerstave");
    Random::seed(millisecondsSinceBoot());

    // Under a session manager the session decides which setup opens, and when the window shows.
    std::unique_ptr<NsmClient> nsm = connectToSessionManager();
    MainWindow::Options options;
    options.setupPath = commandLine.setupPath;
    options.midiLogPath = commandLine.midiLogPath;
    options.sessionManaged = nsm != nullptr;
    options.link = commandLine.link;
    options.midiClock = commandLine.midiClock;
    options.jackTransport = commandLine.jackTransport;
    options.followClock = commandLine.followClock;
    options.midiInput = commandLine.midiInput;
    MainWindow window(std::move(options));
    window.initialise();
    FirstPaintReport::installIfAsked(window);
    if (nsm) {
        // Hidden is not closed: the program ends when the session manager says so.
        QApplication::setQuitOnLastWindowClosed(false);
        NsmSession session(window, *nsm);
        session.start(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString());
        ShutdownSignals shutdownSignals;
        QObject::connect(&shutdownSignals, &ShutdownSignals::shutdownRequested, &window,
                         [&window](int) { window.closeWithoutQuestion(); });
        return QApplication::exec();
    }

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
            // Following a MIDI clock, the clock starts playback, not --play.
            if (!window.player().isRunning() && !window.time().clockFollowed()) {
                window.panel().PlayButton().SetState(1);
                window.time().toggle(false);
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
        case CommandLine::Mode::Version:
            std::puts(CommandLine::versionText());
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
