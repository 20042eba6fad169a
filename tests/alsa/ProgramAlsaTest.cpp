// The program itself on a real kernel sequencer (run inside the guest of run-in-guest.sh):
// offscreen, playing a setup whose port is a recorder client's, with --play and --midi-log.
// What arrives is what the log says was sent, in order, and what the setup holds; the port
// list names the sequencer's ports; the end of playback sends one All Notes Off; a recorder
// that restarts, one that appears late, and one that names its port after making it are all
// played to; and MIDI clock comes as one Start and six clocks a step, also with two copies on
// one port. Only order, content and connections are checked: time in the guest is emulated.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AlsaRecorder.h"
#include "core/Setup.h"
#include "document/SetupRecord.h"
#include "document/SetupWriter.h"

namespace {

using Message = AlsaRecorder::Message;
using Messages = std::vector<Message>;

// Generous: the guest's CPU is emulated, and the program starts Qt and reads its libraries
// over 9p; a loaded host makes that several times slower still.
constexpr auto kPatience = std::chrono::seconds(90);

bool isNoteOn(const Message& message) {
    return message.size() == 3 && (message[0] & 0xF0) == 0x90 && message[2] != 0;
}
bool isAllNotesOff(const Message& message) {
    return message.size() == 3 && (message[0] & 0xF0) == 0xB0 && message[1] == 123;
}
int countNoteOns(const Messages& messages) {
    return static_cast<int>(std::count_if(messages.begin(), messages.end(), isNoteOn));
}
int countOf(const Messages& messages, std::uint8_t status) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), Message{status}));
}
auto noteOns(int count) {
    return [count](const Messages& messages) { return countNoteOns(messages) >= count; };
}

// Timing Clocks between each two note-ons that follow each other (every step plays one).
std::vector<int> clocksPerStep(const Messages& messages) {
    std::vector<int> counts;
    int clocks = -1;
    for (const Message& message : messages) {
        if (isNoteOn(message)) {
            if (clocks >= 0) {
                counts.push_back(clocks);
            }
            clocks = 0;
        } else if (message == Message{0xF8} && clocks >= 0) {
            ++clocks;
        }
    }
    return counts;
}

int stepsWithout6Clocks(const std::vector<int>& clocks) {
    return static_cast<int>(
        std::count_if(clocks.begin(), clocks.end(), [](int n) { return n != 6; }));
}

// One running copy of the program, its output and its MIDI log in files of its own.
class Program {
public:
    Program(std::string root, std::string name) : root_(std::move(root)), name_(std::move(name)) {}
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void start(const std::string& setupPath, std::vector<std::string> options) {
        std::filesystem::remove(logPath());
        std::vector<std::string> words{GLIMMERSTAVE_PROGRAM};
        words.insert(words.end(), options.begin(), options.end());
        for (const char* word : {"--play", "--midi-log"}) {
            words.emplace_back(word);
        }
        words.push_back(logPath());
        words.push_back(setupPath);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(outputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(word.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }

    // Waits until the window has been painted once (the setup has been read by then).
    bool waitForWindow() const {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            if (output().find("first-paint-ns") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Sends the signal and returns the exit status, -1 when it did not exit in time.
    int stop(int signal) {
        ::kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // What the log says was sent to `port`, as the bytes of each message.
    Messages logged(const std::string& port) const {
        Messages messages;
        std::ifstream in(logPath());
        for (std::string line; std::getline(in, line);) {
            if (line.find('\t' + port + '\t') == std::string::npos) {
                continue;
            }
            std::istringstream fields(line.substr(line.rfind('\t') + 1));
            Message message;
            for (unsigned byte = 0; fields >> std::hex >> byte;) {
                message.push_back(static_cast<std::uint8_t>(byte));
            }
            messages.push_back(message);
        }
        return messages;
    }

    std::string output() const {
        std::ifstream in(outputPath());
        std::string text;
        for (std::string line; std::getline(in, line);) {
            text += line + '\n';
        }
        return text;
    }

private:
    std::string logPath() const { return root_ + "/" + name_ + ".log"; }
    std::string outputPath() const { return root_ + "/" + name_ + ".out"; }

    std::string root_;
    std::string name_;
    pid_t pid_ = -1;
};

class ProgramOnAlsa : public ::testing::Test {
protected:
    static constexpr const char* kRecorderPort = "recorder:in (ALSA)";

    void SetUp() override {
        root_ = ::testing::TempDir() + "glimmerstave-alsa-" + std::to_string(::getpid());
        std::filesystem::create_directories(root_ + "/runtime");
        std::filesystem::permissions(root_ + "/runtime", std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("GLIMMERSTAVE_REPORT_FIRST_PAINT", "1", 1);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    // A setup playing middle C on every step (or no step at all) to `port`.
    std::string writeSetup(const std::string& name, const std::string& port, bool notes = true) {
        ::Setup setup;
        setup.mute = 0;
        setup.transpose = 0;
        for (int m = 0; m < Setup::kMeasureCount; ++m) {
            Measure& measure = setup.measures[static_cast<std::size_t>(m)];
            measure.next = static_cast<std::int16_t>(m);
            for (Step& step : measure.steps) {
                step.on = notes ? 1 : 0;
                step.setNotes(IntArray{0});
                step.velocity = 100;
            }
        }
        SetupRecord record = SetupRecord::fromSetup(setup, 0, 0, 0);
        record.portName = port;
        const std::string path = root_ + "/" + name + ".qov";
        SetupWriter::writeFile(path, record);
        return path;
    }

    std::string root_;
};

TEST_F(ProgramOnAlsa, ListsTheSequencersPortsByName) {
    AlsaRecorder recorder;
    ASSERT_TRUE(recorder.open("recorder", "in"));
    const std::string command = std::string(GLIMMERSTAVE_PROGRAM) + " --list-ports";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string listed;
    for (char buffer[256]; std::fgets(buffer, sizeof buffer, pipe) != nullptr;) {
        listed += buffer;
    }
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_NE(listed.find("\tMidi Through:Midi Through Port-0 (ALSA)\n"), std::string::npos)
        << listed;
    EXPECT_NE(listed.find(std::string("\t") + kRecorderPort + "\n"), std::string::npos) << listed;
    EXPECT_NE(listed.find("\tMIDI Mapper\n"), std::string::npos) << listed;
}

// The whole run with clock on, closed by SIGTERM: everything logged arrived, nothing else, in
// order; the notes are the setup's; Start comes first and six clocks make a step; Stop, then
// one All Notes Off, end it.
TEST_F(ProgramOnAlsa, PlaysWhatItLogsWithClockAndEndsWithOneAllNotesOff) {
    AlsaRecorder recorder;
    ASSERT_TRUE(recorder.open("recorder", "in"));
    Program program(root_, "clock");
    program.start(writeSetup("clock", kRecorderPort), {"--midi-clock"});
    ASSERT_TRUE(recorder.waitFor(noteOns(6), kPatience)) << program.output();
    ASSERT_EQ(program.stop(SIGTERM), 0) << program.output();

    const Messages received = recorder.messages();
    EXPECT_EQ(received, program.logged(kRecorderPort));
    ASSERT_FALSE(received.empty());
    // Middle C on channel 1, as the setup has it on every step (the velocity is scaled by
    // the volume).
    const int others = static_cast<int>(
        std::count_if(received.begin(), received.end(), [](const Message& message) {
            return isNoteOn(message) && (message[0] != 0x90 || message[1] != 60);
        }));
    EXPECT_EQ(others, 0);
    EXPECT_EQ(received.front(), Message{0xFA});
    EXPECT_EQ(countOf(received, 0xFA), 1);
    const std::vector<int> clocks = clocksPerStep(received);
    ASSERT_GE(clocks.size(), 5u);
    EXPECT_EQ(stepsWithout6Clocks(clocks), 0) << "of " << clocks.size() << " steps";

    const auto lastNote = std::find_if(received.rbegin(), received.rend(), isNoteOn);
    const Messages tail(lastNote.base(), received.end());
    EXPECT_EQ(std::count_if(tail.begin(), tail.end(), isAllNotesOff), 1);
    EXPECT_TRUE(isAllNotesOff(received.back()));
    EXPECT_EQ(countOf(tail, 0xFC), 1);
}

// A recorder that quits and starts again is played to again; SIGINT closes as SIGTERM does.
TEST_F(ProgramOnAlsa, ARecorderThatRestartsIsFoundAgainAndSigintEndsWithAllNotesOff) {
    auto first = std::make_unique<AlsaRecorder>();
    ASSERT_TRUE(first->open("recorder", "in"));
    Program program(root_, "restart");
    program.start(writeSetup("restart", kRecorderPort), {});
    ASSERT_TRUE(first->waitFor(noteOns(2), kPatience)) << program.output();
    first->close();

    AlsaRecorder again;
    ASSERT_TRUE(again.open("recorder", "in"));
    ASSERT_TRUE(again.waitFor(noteOns(3), kPatience)) << "not reconnected";
    ASSERT_EQ(program.stop(SIGINT), 0) << program.output();
    const Messages received = again.messages();
    ASSERT_FALSE(received.empty());
    EXPECT_TRUE(isAllNotesOff(received.back()));
    // The second recorder heard the end of what was logged.
    const Messages sent = program.logged(kRecorderPort);
    ASSERT_GE(sent.size(), received.size());
    EXPECT_EQ(Messages(sent.end() - static_cast<long>(received.size()), sent.end()), received);
}

// The setup's port is not there when the program starts; it appears later under its name and
// is played to. Then it goes, and comes back as a port that gets its name only after it was
// made (the kernel announces no rename): it is played to again. The log begins with what the
// first heard and ends with what the second heard.
TEST_F(ProgramOnAlsa, APortThatAppearsLateOrIsNamedLateIsPlayedTo) {
    Program program(root_, "late");
    program.start(writeSetup("late", "late:in (ALSA)"), {});
    ASSERT_TRUE(program.waitForWindow()) << program.output();

    auto early = std::make_unique<AlsaRecorder>();
    ASSERT_TRUE(early->open("late", "in"));
    ASSERT_TRUE(early->waitFor(noteOns(2), kPatience)) << "a port that appeared is not found";
    early->close();

    AlsaRecorder renamed;
    ASSERT_TRUE(renamed.open("late", "unnamed"));
    ASSERT_TRUE(renamed.rename("in"));
    ASSERT_TRUE(renamed.waitFor(noteOns(2), kPatience)) << "a port named late is not found";
    ASSERT_EQ(program.stop(SIGTERM), 0) << program.output();

    // A message sent as the first one left reaches nobody: compare the two ends.
    const Messages sent = program.logged("late:in (ALSA)");
    const Messages first = early->messages();
    const Messages last = renamed.messages();
    ASSERT_GE(sent.size(), first.size() + last.size());
    EXPECT_EQ(Messages(sent.begin(), sent.begin() + static_cast<long>(first.size())), first);
    EXPECT_EQ(Messages(sent.end() - static_cast<long>(last.size()), sent.end()), last);
}

// Two copies with clock on play to one port; the second copy's setup has no notes. The port
// hears one Start and six clocks between each two steps of the first copy, before and after
// the second copy comes and goes, and no Stop until the first copy stops.
TEST_F(ProgramOnAlsa, TwoCopiesOnOnePortSendOneClock) {
    AlsaRecorder recorder;
    ASSERT_TRUE(recorder.open("recorder", "in"));
    Program first(root_, "first");
    first.start(writeSetup("first", kRecorderPort), {"--midi-clock"});
    ASSERT_TRUE(recorder.waitFor(noteOns(2), kPatience)) << first.output();

    Program second(root_, "second");
    second.start(writeSetup("second", kRecorderPort, false), {"--midi-clock"});
    ASSERT_TRUE(second.waitForWindow()) << second.output();
    const int before = countNoteOns(recorder.messages());
    ASSERT_TRUE(recorder.waitFor(noteOns(before + 8), kPatience));
    ASSERT_EQ(second.stop(SIGTERM), 0) << second.output();
    const int after = countNoteOns(recorder.messages());
    ASSERT_TRUE(recorder.waitFor(noteOns(after + 4), kPatience));
    ASSERT_EQ(first.stop(SIGTERM), 0) << first.output();

    const Messages received = recorder.messages();
    EXPECT_EQ(countOf(received, 0xFA), 1);
    const std::vector<int> clocks = clocksPerStep(received);
    EXPECT_EQ(stepsWithout6Clocks(clocks), 0) << "of " << clocks.size() << " steps";
    const auto lastNote = std::find_if(received.rbegin(), received.rend(), isNoteOn);
    EXPECT_EQ(countOf(Messages(received.begin(), lastNote.base()), 0xFC), 0);
}

}  // namespace
