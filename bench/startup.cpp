// Start-up benchmark: the time from exec to the main window's first paint, over N runs each,
// with a fresh config and data folder per run and with a warm one (a run before has written
// everything), offscreen and under Xvfb with a window manager when they are installed. A bare
// Qt window of the same size (startup_bare_window) is timed the same way in the same run, as
// the yardstick. The program reports its first paint itself (GLIMMERSTAVE_REPORT_FIRST_PAINT).
//
//   startup [--runs N] [--program PATH] [--bare PATH] [--no-xvfb]

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

struct Settings {
    int runs = 20;
    std::string program;
    std::string bare;
    bool xvfb = true;
};

// Where a run keeps its config, data and runtime files.
struct Folders {
    fs::path root;
    static Folders make() {
        char pattern[] = "/tmp/glimmerstave-startup-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        Folders folders{made};
        for (const char* sub : {"config", "data", "runtime", "home"}) {
            fs::create_directories(folders.root / sub);
        }
        fs::permissions(folders.root / "runtime", fs::perms::owner_all);
        return folders;
    }
    void remove() const {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

struct Screen {
    std::string platform;  // QT_QPA_PLATFORM
    std::string display;   // DISPLAY, or empty
};

// Milliseconds from exec to the reported first paint; nothing when the program did not report
// within 20 s. The program is then asked to end (SIGTERM) and waited for.
std::optional<double> timeOneStart(const std::string& program, const Folders& folders,
                                   const Screen& screen) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const std::int64_t startNs = monotonicNs();
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        setenv("GLIMMERSTAVE_REPORT_FIRST_PAINT", "1", 1);
        setenv("XDG_CONFIG_HOME", (folders.root / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (folders.root / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (folders.root / "runtime").c_str(), 1);
        setenv("HOME", (folders.root / "home").c_str(), 1);
        setenv("QT_QPA_PLATFORM", screen.platform.c_str(), 1);
        if (screen.display.empty()) {
            unsetenv("DISPLAY");
        } else {
            setenv("DISPLAY", screen.display.c_str(), 1);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::optional<double> result;
    std::string output;
    const std::int64_t deadline = startNs + 20'000'000'000LL;
    while (!result && monotonicNs() < deadline) {
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(got));
        const std::size_t at = output.find("first-paint-ns ");
        if (at != std::string::npos && output.find('\n', at) != std::string::npos) {
            const long long paintedNs = std::atoll(output.c_str() + at + 15);
            result = static_cast<double>(paintedNs - startNs) / 1e6;
        }
    }
    close(pipeFds[0]);
    kill(child, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return result;
}

struct Figures {
    double median = 0;
    double max = 0;
    int failed = 0;
};

Figures summarise(std::vector<double> times, int failed) {
    Figures figures;
    figures.failed = failed;
    if (times.empty()) {
        return figures;
    }
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    figures.median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    figures.max = times.back();
    return figures;
}

// fresh: new folders for every run; otherwise one set, warmed by a run first.
Figures timeStarts(const std::string& program, const Screen& screen, int runs, bool fresh) {
    std::vector<double> times;
    int failed = 0;
    std::optional<Folders> warm;
    if (!fresh) {
        warm = Folders::make();
        timeOneStart(program, *warm, screen);
    }
    for (int run = 0; run < runs; ++run) {
        const Folders folders = fresh ? Folders::make() : *warm;
        if (const std::optional<double> ms = timeOneStart(program, folders, screen)) {
            times.push_back(*ms);
        } else {
            ++failed;
        }
        if (fresh) {
            folders.remove();
        }
    }
    if (warm) {
        warm->remove();
    }
    return summarise(times, failed);
}

void print(const char* label, const Figures& figures) {
    std::printf("  %-26s median %7.1f ms   max %7.1f ms", label, figures.median, figures.max);
    if (figures.failed > 0) {
        std::printf("   (%d runs did not paint)", figures.failed);
    }
    std::printf("\n");
}

void benchScreen(const Settings& settings, const Screen& screen, const char* name) {
    std::printf("%s (%d runs each):\n", name, settings.runs);
    // Interleaved with the program's runs would be fairer still, but each set is short.
    const Figures bare = timeStarts(settings.bare, screen, settings.runs, false);
    const Figures warm = timeStarts(settings.program, screen, settings.runs, false);
    const Figures fresh = timeStarts(settings.program, screen, settings.runs, true);
    print("bare Qt window", bare);
    print("glimmerstave, warm config", warm);
    print("glimmerstave, fresh config", fresh);
    if (bare.median > 0) {
        std::printf("  warm median / bare median: %.1fx\n", warm.median / bare.median);
    }
}

std::string findInPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= list.size()) {
        const std::size_t end = std::min(list.find(':', begin), list.size());
        const fs::path candidate = fs::path(list.substr(begin, end - begin)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return {};
}

pid_t spawn(const std::vector<std::string>& args, const std::string& display) {
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (!display.empty()) {
            setenv("DISPLAY", display.c_str(), 1);
        }
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

void stop(pid_t child) {
    if (child > 0) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
}

// Xvfb on a free display with openbox managing it, for as long as the benchmark runs.
void benchUnderXvfb(const Settings& settings) {
    const std::string xvfb = findInPath("Xvfb");
    if (xvfb.empty()) {
        std::printf("Xvfb: not installed, skipped\n");
        return;
    }
    int number = 90 + static_cast<int>(getpid() % 100);
    while (access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0 ||
           access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) {
        ++number;
    }
    const std::string display = ":" + std::to_string(number);
    const pid_t server =
        spawn({xvfb, display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "");
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    const std::int64_t deadline = monotonicNs() + 10'000'000'000LL;
    while (access(socket.c_str(), F_OK) != 0 && monotonicNs() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_t manager = -1;
    std::string name = "Xvfb, no window manager";
    if (const std::string openbox = findInPath("openbox"); !openbox.empty()) {
        manager = spawn({openbox}, display);
        // It takes the screen within a moment; the first runs would otherwise race it.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        name = "Xvfb with openbox";
    }
    benchScreen(settings, Screen{"xcb", display}, name.c_str());
    stop(manager);
    stop(server);
}

std::string besideThisProgram(const char* relative) {
    std::error_code ignored;
    const fs::path self = fs::read_symlink("/proc/self/exe", ignored);
    return (self.parent_path() / relative).lexically_normal();
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    settings.program = besideThisProgram("../glimmerstave");
    settings.bare = besideThisProgram("helpers/startup_bare_window");
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue) {
            settings.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--program" && hasValue) {
            settings.program = argv[++i];
        } else if (arg == "--bare" && hasValue) {
            settings.bare = argv[++i];
        } else if (arg == "--no-xvfb") {
            settings.xvfb = false;
        } else {
            std::fprintf(stderr,
                         "usage: startup [--runs N] [--program PATH] [--bare PATH] [--no-xvfb]\n");
            return 2;
        }
    }
    std::printf("startup: exec to first paint of %s\n", settings.program.c_str());
    benchScreen(settings, Screen{"offscreen", ""}, "offscreen");
    if (settings.xvfb) {
        benchUnderXvfb(settings);
    }
    return 0;
}
