// A running instance without a window, for tests of port lending between processes: the
// instance bus, an output port whose one device ("Harness Desk") admits one process at a
// time, and commands on stdin:
//   select NAME | send HH HH HH | release | reopen-all | state | quit
// It prints "ready <id>" once started, "state handle=H count=C here=P port=I" after every
// command and every bus message, "device HH HH HH" for each message the device plays and
// "device closed" when this process lets go of the device.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/Messages.h"
#include "core/Setup.h"
#include "midi/InstanceBus.h"
#include "midi/OutputPort.h"
#include "midi/SystemDrivers.h"

namespace {

void say(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
}

class DeskConnection : public MidiConnection {
public:
    explicit DeskConnection(int lockFd) : lockFd_(lockFd) {}
    ~DeskConnection() override {
        ::close(lockFd_);
        say("device closed");
    }
    bool send(const std::uint8_t* bytes) override {
        char line[32];
        const int length = std::snprintf(line, sizeof line, "device %02X %02X %02X\n", bytes[0],
                                         bytes[1], bytes[2]);
        return ::write(STDOUT_FILENO, line, static_cast<std::size_t>(length)) == length;
    }

private:
    int lockFd_;
};

// The device is "open" while this process holds an exclusive lock on the lock file.
class DeskDriver : public MidiDriver {
public:
    explicit DeskDriver(std::string lockPath) : lockPath_(std::move(lockPath)) {}
    std::vector<std::string> listDevices() override { return {"Harness Desk"}; }
    std::unique_ptr<MidiConnection> open(const std::string& device, int) override {
        if (device != "Harness Desk") {
            return nullptr;
        }
        const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            return nullptr;
        }
        return std::make_unique<DeskConnection>(fd);
    }

private:
    std::string lockPath_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: port_harness LOCKFILE\n");
        return 2;
    }
    forbidJackServerStart();
    QCoreApplication application(argc, argv);

    InstanceBus bus;
    const std::intptr_t id = ::getpid();
    if (!bus.start(InstanceBus::defaultDirectory(), id)) {
        say("error " + bus.errorText());
        return 1;
    }
    ::Setup setup;
    OutputPort::Drivers drivers;
    drivers.devices.push_back(std::make_unique<DeskDriver>(argv[1]));
    OutputPort port(setup, std::move(drivers));
    port.setBroadcast([&](int message, std::intptr_t wParam, std::intptr_t lParam) {
        return bus.broadcast(message, wParam, lParam);
    });
    port.setShowNote([](const std::string& text) { say("note " + text); });
    if (!port.enableLending(bus.directory(), id)) {
        say("error lending");
        return 1;
    }

    auto printState = [&] {
        char line[128];
        std::snprintf(line, sizeof line, "state handle=%ld count=%d here=%d port=%d",
                      static_cast<long>(setup.port.handle), setup.port.shareCount,
                      setup.portOpenedHere, setup.port.portId);
        say(line);
    };
    QObject::connect(&bus, &InstanceBus::messageReceived,
                     [&](int message, qintptr wParam, qintptr lParam) {
                         port.handlePortMessage(message, wParam, lParam);
                         printState();
                     });

    auto run = [&](const std::string& command) {
        if (command.rfind("select ", 0) == 0) {
            port.releasePort();
            port.selectPortByName(command.substr(7));
        } else if (command.rfind("send ", 0) == 0) {
            unsigned status = 0, data1 = 0, data2 = 0;
            if (std::sscanf(command.c_str() + 5, "%x %x %x", &status, &data1, &data2) == 3) {
                port.sendShort(static_cast<int>(status), static_cast<int>(data1),
                               static_cast<int>(data2));
            }
        } else if (command == "release") {
            port.releasePort();
        } else if (command == "reopen-all") {
            bus.broadcast(Messages::UM_REOPEN_PORT, 0, 0);
        } else if (command == "quit") {
            QCoreApplication::quit();
            return;
        }
        printState();
    };

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[512];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(count));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            run(command);
        }
    });

    port.enumeratePorts();
    say("ready " + std::to_string(id));
    const int status = QCoreApplication::exec();
    port.releasePort();
    return status;
}
