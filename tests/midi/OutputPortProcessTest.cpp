// Two program processes share one port: the second one's open fails (the device admits one
// process), it borrows the first one's port, and its notes reach the device through the
// first. When the first goes away the second falls silent, then opens the port itself at the
// next reopen request.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// One harness process with pipes to its stdin and stdout.
class Harness {
public:
    Harness(const std::string& lockFile, const std::string& runtimeDirectory) {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
            ::setenv("XDG_RUNTIME_DIR", runtimeDirectory.c_str(), 1);
            ::execl(PORT_HARNESS, PORT_HARNESS, lockFile.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input_ = toChild[1];
        output_ = fromChild[0];
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;
    ~Harness() {
        if (pid_ > 0) {
            kill();
        }
        ::close(input_);
        ::close(output_);
    }

    void command(const std::string& text) {
        const std::string line = text + "\n";
        ASSERT_EQ(::write(input_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }

    // Reads lines until one equals `wanted` (true) or ten seconds pass or the process ends.
    bool waitForLine(const std::string& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            for (std::size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
                const std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                lines.push_back(line);
                if (line == wanted) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd readable{output_, POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char chunk[1024];
            const ssize_t count = ::read(output_, chunk, sizeof chunk);
            if (count <= 0) {
                return false;
            }
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    void kill() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    pid_t pid() const { return pid_; }
    std::vector<std::string> lines;

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string buffer_;
};

std::string state(pid_t handle, int count, int here, int port) {
    return "state handle=" + std::to_string(handle) + " count=" + std::to_string(count) +
           " here=" + std::to_string(here) + " port=" + std::to_string(port);
}

class OutputPortProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glimmerstave-runtime-XXXXXX";  // made with mode 0700
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        runtime = pattern;
        lockFile = runtime + "/desk.lock";
    }
    void TearDown() override { std::filesystem::remove_all(runtime); }

    std::string runtime;
    std::string lockFile;
};

TEST_F(OutputPortProcesses, TheSecondBorrowsTheFirstsPortAndItsNotesArriveThroughIt) {
    Harness first(lockFile, runtime);
    ASSERT_TRUE(first.waitForLine("ready " + std::to_string(first.pid())));
    first.command("select Harness Desk");
    ASSERT_TRUE(first.waitForLine(state(first.pid(), 1, 1, 0)));

    Harness second(lockFile, runtime);
    ASSERT_TRUE(second.waitForLine("ready " + std::to_string(second.pid())));
    second.command("select Harness Desk");
    // Its own open fails, it broadcasts busy, the first lends, the second takes it.
    ASSERT_TRUE(second.waitForLine(state(first.pid(), 2, 0, 0)));
    ASSERT_TRUE(first.waitForLine(state(first.pid(), 2, 1, 0)));

    second.command("send 90 3C 64");
    second.command("send 92 40 2C");
    ASSERT_TRUE(first.waitForLine("device 90 3C 64"));
    ASSERT_TRUE(first.waitForLine("device 92 40 2C"));
    first.command("send 80 3C 00");
    ASSERT_TRUE(first.waitForLine("device 80 3C 00"));

    // The lender goes away: the borrower stays up and silent...
    const pid_t lender = first.pid();
    first.kill();
    second.command("send 90 3E 64");
    second.command("state");
    ASSERT_TRUE(second.waitForLine(state(lender, 2, 0, 0)));
    // ...and opens the port itself when asked to reopen.
    second.command("reopen-all");
    ASSERT_TRUE(second.waitForLine(state(second.pid(), 2, 0, 0)));
    second.command("send 90 41 50");
    ASSERT_TRUE(second.waitForLine("device 90 41 50"));
    for (const std::string& line : second.lines) {
        EXPECT_NE(line, "device 90 3E 64") << "a note sent while silent surfaced later";
    }
    // The dead lender's bus socket was cleared away by the broadcast.
    EXPECT_FALSE(std::filesystem::exists(runtime + "/glimmerstave/" +
                                         std::to_string(lender) + ".bus"));
}

TEST_F(OutputPortProcesses, TheLastUserClosesThePortWhoeverLeavesFirst) {
    Harness first(lockFile, runtime);
    ASSERT_TRUE(first.waitForLine("ready " + std::to_string(first.pid())));
    first.command("select Harness Desk");
    ASSERT_TRUE(first.waitForLine(state(first.pid(), 1, 1, 0)));
    Harness second(lockFile, runtime);
    ASSERT_TRUE(second.waitForLine("ready " + std::to_string(second.pid())));
    second.command("select Harness Desk");
    ASSERT_TRUE(second.waitForLine(state(first.pid(), 2, 0, 0)));

    // The lender lets go first: the count drops to 1 everywhere, the borrower still sounds.
    first.command("release");
    ASSERT_TRUE(first.waitForLine(state(0, 1, 1, 0)));
    ASSERT_TRUE(second.waitForLine(state(first.pid(), 1, 0, 0)));
    second.command("send 90 30 30");
    ASSERT_TRUE(first.waitForLine("device 90 30 30"));

    // The borrower lets go last: the first closes the device when it sees the borrower hang
    // up, and a third process can then open it.
    second.command("release");
    ASSERT_TRUE(second.waitForLine(state(0, 0, 0, 0)));
    ASSERT_TRUE(first.waitForLine("device closed"));
    Harness third(lockFile, runtime);
    ASSERT_TRUE(third.waitForLine("ready " + std::to_string(third.pid())));
    third.command("select Harness Desk");
    EXPECT_TRUE(third.waitForLine(state(third.pid(), 1, 1, 0)));
}

}  // namespace
