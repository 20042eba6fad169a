// A test that hangs is killed by ctest at its timeout, and the log then says nothing of where
// it stood. Linked into the tests that start and stop JACK servers: a test that has run for
// kHangAfter prints every thread's stack (through gdb, where the machine has it) and aborts,
// so that a rare hang inside a library call leaves its place in the log.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Below the 120 s that ctest gives these tests, leaving gdb time to print.
constexpr auto kHangAfter = std::chrono::seconds(90);

std::int64_t secondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void printStacks() {
    const std::string pid = std::to_string(::getpid());
    const pid_t child = ::fork();
    if (child == 0) {
        ::execlp("gdb", "gdb", "-nx", "-batch", "-p", pid.c_str(), "-ex", "thread apply all bt",
                 static_cast<char*>(nullptr));
        std::fputs("(no gdb here to print the stacks)\n", stderr);
        ::_exit(127);
    }
    if (child > 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
}

class HangReport : public ::testing::EmptyTestEventListener {
public:
    HangReport() {
        std::thread([this] { watch(); }).detach();
    }

    void OnTestStart(const ::testing::TestInfo& info) override {
        test_.store(&info, std::memory_order_relaxed);
        startedAt_.store(secondsNow(), std::memory_order_release);
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        startedAt_.store(0, std::memory_order_release);
    }

private:
    [[noreturn]] void watch() {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const std::int64_t startedAt = startedAt_.load(std::memory_order_acquire);
            if (startedAt == 0 || secondsNow() - startedAt < kHangAfter.count()) {
                continue;
            }
            const ::testing::TestInfo* test = test_.load(std::memory_order_relaxed);
            std::fprintf(stderr, "\n%s.%s has run for %lld s and is taken to hang; its threads:\n",
                         test->test_suite_name(), test->name(),
                         static_cast<long long>(kHangAfter.count()));
            std::fflush(stderr);
            printStacks();
            std::abort();
        }
    }

    std::atomic<const ::testing::TestInfo*> test_{nullptr};
    std::atomic<std::int64_t> startedAt_{0};
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new HangReport);
    return true;
}();

}  // namespace
