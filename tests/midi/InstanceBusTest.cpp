// The instance bus between endpoints in one process: every instance reached, its own
// included, order kept past a full receive queue, stale sockets removed, and the private
// directory's checks.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QtCore/qtestsupport_core.h>
#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "midi/InstanceBus.h"

namespace {

struct Received {
    int message;
    qintptr wParam;
    qintptr lParam;
    bool operator==(const Received&) const = default;
};

// An endpoint and everything it received.
struct Endpoint {
    Endpoint() {
        QObject::connect(&bus, &InstanceBus::messageReceived,
                         [this](int message, qintptr wParam, qintptr lParam) {
                             received.push_back({message, wParam, lParam});
                         });
    }
    InstanceBus bus;
    std::vector<Received> received;
};

// Runs the event loop until every endpoint holds `count` messages, for at most ten seconds
// of wall-clock time: past a full receive queue the sender's retry timer has to go round.
bool deliverUntil(std::initializer_list<Endpoint*> endpoints, std::size_t count) {
    return QTest::qWaitFor(
        [&] {
            return std::all_of(endpoints.begin(), endpoints.end(), [&](const Endpoint* endpoint) {
                return endpoint->received.size() >= count;
            });
        },
        10'000);
}

// A socket bound in the directory by "another instance" that this test controls.
int bindRawSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class InstanceBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glimmerstave-bus-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        runtime = pattern;
        directory = runtime + "/glimmerstave";
    }
    void TearDown() override { std::filesystem::remove_all(runtime); }

    std::string runtime;
    std::string directory;
};

TEST_F(InstanceBusTest, EveryInstanceReceivesABroadcastItsSenderIncluded) {
    Endpoint a, b, c;
    ASSERT_TRUE(a.bus.start(directory, 1)) << a.bus.errorText();
    ASSERT_TRUE(b.bus.start(directory, 2));
    ASSERT_TRUE(c.bus.start(directory, 3));

    EXPECT_EQ(a.bus.broadcast(1424, 2, -1), 3);
    ASSERT_TRUE(deliverUntil({&a, &b, &c}, 1));
    for (Endpoint* endpoint : {&a, &b, &c}) {
        EXPECT_EQ(endpoint->received, std::vector<Received>{(Received{1424, 2, -1})});
    }
}

TEST_F(InstanceBusTest, ParametersCrossTheBusWhole) {
    Endpoint a, b;
    ASSERT_TRUE(a.bus.start(directory, 1));
    ASSERT_TRUE(b.bus.start(directory, 2));
    const qintptr big = static_cast<qintptr>(0x7FFFFFFF12345678LL);
    a.bus.broadcast(1324, big, -2);
    a.bus.broadcast(0, 0, 0);
    ASSERT_TRUE(deliverUntil({&b}, 2));
    EXPECT_EQ(b.received, (std::vector<Received>{{1324, big, -2}, {0, 0, 0}}));
}

TEST_F(InstanceBusTest, OrderIsKeptPastAFullReceiveQueue) {
    Endpoint a, b;
    ASSERT_TRUE(a.bus.start(directory, 1));
    ASSERT_TRUE(b.bus.start(directory, 2));
    // Nobody reads while these go out: the kernel queues only a few per receiver.
    constexpr int kCount = 40;
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(a.bus.broadcast(2000 + i, i, 0), 2);
    }
    b.bus.broadcast(3000, 0, 0);
    ASSERT_TRUE(deliverUntil({&a, &b}, kCount + 1));

    std::vector<int> fromA;
    for (const Received& received : b.received) {
        if (received.message < 3000) {
            fromA.push_back(received.message);
        }
    }
    ASSERT_EQ(fromA.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(fromA[static_cast<std::size_t>(i)], 2000 + i);
    }
    EXPECT_EQ(a.received.size(), static_cast<std::size_t>(kCount + 1));
}

TEST_F(InstanceBusTest, AStaleSocketIsSkippedAndRemoved) {
    Endpoint a;
    ASSERT_TRUE(a.bus.start(directory, 1));
    const std::string stale = directory + "/77.bus";
    ::close(bindRawSocket(stale));  // its owner is gone; the name stays
    ASSERT_TRUE(std::filesystem::exists(stale));

    EXPECT_EQ(a.bus.broadcast(1124, 0, 0), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    ASSERT_TRUE(deliverUntil({&a}, 1));
}

TEST_F(InstanceBusTest, OnlyInstanceSocketsAreReceivers) {
    Endpoint a;
    ASSERT_TRUE(a.bus.start(directory, 1));
    const int relay = bindRawSocket(directory + "/5.port");
    { std::ofstream(directory + "/notes.bus.txt") << "x"; }
    EXPECT_EQ(a.bus.broadcast(1124, 0, 0), 1);
    EXPECT_TRUE(std::filesystem::exists(directory + "/5.port"));
    ::close(relay);
}

TEST_F(InstanceBusTest, AtMostOneHundredReceiversTheSenderAmongThem) {
    Endpoint a;
    ASSERT_TRUE(a.bus.start(directory, 1));
    std::vector<int> others;
    for (int i = 0; i < 120; ++i) {
        others.push_back(bindRawSocket(directory + "/" + std::to_string(1000 + i) + ".bus"));
        ASSERT_GE(others.back(), 0);
    }
    EXPECT_EQ(a.bus.broadcast(1224, 0, 0), 100);
    ASSERT_TRUE(deliverUntil({&a}, 1));
    for (int fd : others) {
        ::close(fd);
    }
}

TEST_F(InstanceBusTest, ForeignDatagramsAreIgnored) {
    Endpoint a, b;
    ASSERT_TRUE(a.bus.start(directory, 1));
    ASSERT_TRUE(b.bus.start(directory, 2));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (directory + "/2.bus").c_str());
    const char junk[24] = "not a bus packet at all";
    ::sendto(fd, junk, 5, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::sendto(fd, junk, sizeof junk, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
    a.bus.broadcast(1624, 0, 0);
    ASSERT_TRUE(deliverUntil({&b}, 1));
    EXPECT_EQ(b.received, std::vector<Received>{(Received{1624, 0, 0})});
}

TEST_F(InstanceBusTest, WithoutABusAnInstanceStillHearsItself) {
    Endpoint a;
    EXPECT_FALSE(a.bus.isRunning());
    EXPECT_EQ(a.bus.broadcast(1624, 0, 0), 1);
    ASSERT_TRUE(deliverUntil({&a}, 1));
    EXPECT_EQ(a.received, std::vector<Received>{(Received{1624, 0, 0})});
}

// ---- The private directory ----

TEST_F(InstanceBusTest, TheDirectoryIsMadePrivate) {
    Endpoint a;
    ASSERT_TRUE(a.bus.start(directory, 1));
    struct stat status {};
    ASSERT_EQ(::stat(directory.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((directory + "/1.bus").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u);
}

TEST_F(InstanceBusTest, AnOwnDirectoryOthersCanReadIsTightened) {
    ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
    ::chmod(directory.c_str(), 0755);
    Endpoint a;
    ASSERT_TRUE(a.bus.start(directory, 1));
    struct stat status {};
    ::stat(directory.c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(InstanceBusTest, ADirectoryOthersCanWriteIsRefused) {
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
    ::chmod(directory.c_str(), 0777);
    Endpoint a;
    EXPECT_FALSE(a.bus.start(directory, 1));
    EXPECT_NE(a.bus.errorText().find("written by other users"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(directory + "/1.bus"));
}

TEST_F(InstanceBusTest, ADirectoryOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a directory to another user";
    }
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
    ASSERT_EQ(::chown(directory.c_str(), 65534, 65534), 0);
    Endpoint a;
    EXPECT_FALSE(a.bus.start(directory, 1));
    EXPECT_NE(a.bus.errorText().find("another user"), std::string::npos);
}

TEST_F(InstanceBusTest, ASymlinkInPlaceOfTheDirectoryIsRefused) {
    const std::string elsewhere = runtime + "/elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), directory.c_str()), 0);
    Endpoint a;
    EXPECT_FALSE(a.bus.start(directory, 1));
}

TEST_F(InstanceBusTest, ASocketPathTooLongIsRefusedNotCut) {
    std::string deep = runtime + "/" + std::string(100, 'd');
    Endpoint a;
    EXPECT_FALSE(a.bus.start(deep, 1));
    EXPECT_NE(a.bus.errorText().find("too long"), std::string::npos);
}

TEST(InstanceBusDirectory, RuntimeDirectoryWhenSetElseAPerUserTmpDirectory) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(InstanceBus::defaultDirectory(), "/run/user/1234/glimmerstave");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceBus::defaultDirectory(), "/tmp/glimmerstave-" + std::to_string(::geteuid()));
    if (saved != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
