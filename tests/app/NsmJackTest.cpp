// Two copies of the program in one session of a fake NSM server, playing to one JACK server
// of the test's own: each copy's JACK client carries the client_id the session gave it, so
// the session's saved connections find the same copy again after a reload.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../midi/JackTestSupport.h"
#include "FakeNsmServer.h"
#include "core/Setup.h"
#include "document/SetupRecord.h"
#include "document/SetupWriter.h"

namespace {

using jacktest::JackServer;
using jacktest::Recorder;

// The ports of the JACK client named exactly `client`.
std::vector<std::string> portsOf(jack_client_t* observer, const std::string& client) {
    std::vector<std::string> names;
    const std::string pattern = "^" + client + ":";
    if (const char** ports = jack_get_ports(observer, pattern.c_str(), nullptr, 0)) {
        for (const char** port = ports; *port != nullptr; ++port) {
            names.emplace_back(*port);
        }
        jack_free(ports);
    }
    return names;
}

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        jacktest::sleepMicroseconds(5000);
    }
    return true;
}

TEST(NsmOnJack, TwoCopiesInOneSessionNameTheirJackClientsAfterTheirClientIds) {
    const std::string serverName = "glimmerstave-nsm-" + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    JackServer jack;
    ASSERT_TRUE(jack.start(serverName)) << "jackd (package jackd2) did not start";
    // A port each: two copies on one port would share it, the second borrowing the first's.
    Recorder recorder;
    ASSERT_TRUE(recorder.open());
    Recorder second;
    ASSERT_TRUE(second.open("second"));
    const std::array<std::string, 2> targets{"recorder:in", "second:in"};

    QTemporaryDir home;
    const QString root = home.path();
    const std::array<std::string, 2> ids{"nAAAA", "nBBBB"};
    std::array<std::string, 2> prefixes;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        prefixes[i] = (root + "/Glimmerstave.").toStdString() + ids[i];
        SetupRecord record = SetupRecord::fromSetup(::Setup(), 0, 0, 0);
        record.portName = targets[i] + " (JACK)";
        SetupWriter::writeFile(prefixes[i] + ".qov", record);
    }
    FakeNsmServer manager;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NSM_URL", QString::fromStdString(manager.url()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    std::array<QProcess, 2> copies;
    for (QProcess& copy : copies) {
        copy.setProcessEnvironment(environment);
        copy.setProcessChannelMode(QProcess::ForwardedChannels);
        copy.start(GLIMMERSTAVE_PROGRAM, {});
        ASSERT_TRUE(copy.waitForStarted(10000));
    }
    ASSERT_TRUE(manager.waitFor([&] { return manager.clientCount() == 2; }));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        manager.answerAnnounce(i);
        manager.send("/nsm/client/open", {prefixes[i], "Glimmerstave", ids[i]}, i);
    }
    const auto opened = [&] {
        int replies = 0;
        for (const FakeNsmServer::Message& message : manager.received) {
            replies += message.path == "/reply" && message.strings.at(0) == "/nsm/client/open";
        }
        return replies;
    };
    ASSERT_TRUE(manager.waitFor([&] { return opened() == 2; }));

    // Each copy's client, under its client_id, with its output connected to the recorder (the
    // connection may follow the port's registration by a few cycles).
    const auto connectedTo = [&](const std::vector<std::string>& ports, const std::string& target) {
        return !ports.empty() && std::all_of(ports.begin(), ports.end(), [&](const auto& port) {
            jack_port_t* own = jack_port_by_name(recorder.client(), port.c_str());
            return own != nullptr && jack_port_connected_to(own, target.c_str()) != 0;
        });
    };
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_TRUE(waitUntil([&] { return connectedTo(portsOf(recorder.client(), ids[i]), targets[i]); }))
            << "no JACK client named " << ids[i] << " playing to " << targets[i];
    }
    EXPECT_TRUE(portsOf(recorder.client(), "Glimmerstave.*").empty());

    for (QProcess& copy : copies) {
        copy.terminate();
        EXPECT_TRUE(copy.waitForFinished(10000));
    }
    recorder.close();
    second.close();
    jack.stop();
}

}  // namespace
