// The program itself, offscreen, playing a setup whose port is a JACK recorder's input, with
// --play and --midi-log: everything it logs reaches the recorder in order, from step 0's
// first message to the All Notes Off of Stop when SIGTERM closes it; and a recorder that
// quits and starts again under its name is played to again.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../midi/JackTestSupport.h"
#include "core/Setup.h"
#include "document/SetupRecord.h"
#include "document/SetupWriter.h"

namespace {

using jacktest::JackServer;
using jacktest::Recorder;
using jacktest::sleepMicroseconds;
using Message = std::vector<std::uint8_t>;

constexpr auto kPatience = std::chrono::seconds(10);

class ProgramOnJack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new std::string(::testing::TempDir() + "glimmerstave-jack-" +
                                std::to_string(::getpid()));
        std::filesystem::create_directories(*root_);
        for (const char* sub : {"/runtime", "/config", "/data"}) {
            ::mkdir((*root_ + sub).c_str(), 0700);
        }
        ::setenv("XDG_RUNTIME_DIR", (*root_ + "/runtime").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (*root_ + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (*root_ + "/data").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const std::string name = "glimmerstave-program-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        server_ = new JackServer;
        serverUp_ = server_->start(name);
    }
    static void TearDownTestSuite() {
        server_->stop();
        delete server_;
        std::filesystem::remove_all(*root_);
        delete root_;
    }

    void SetUp() override {
        ASSERT_TRUE(serverUp_) << "jackd (package jackd2) did not start";
        recorder_ = std::make_unique<Recorder>();
        ASSERT_TRUE(recorder_->open());
        setupPath_ = *root_ + "/recorder.qov";
        logPath_ = *root_ + "/midi.log";
        SetupRecord record = SetupRecord::fromSetup(::Setup(), 0, 0, 0);
        record.portName = "recorder:in (JACK)";
        SetupWriter::writeFile(setupPath_, record);
    }
    void TearDown() override {
        if (program_ > 0) {
            ::kill(program_, SIGKILL);
            ::waitpid(program_, nullptr, 0);
        }
    }

    void launch() {
        std::filesystem::remove(logPath_);
        program_ = ::fork();
        if (program_ == 0) {
            const int out =
                ::open((*root_ + "/program.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execl(GLIMMERSTAVE_PROGRAM, GLIMMERSTAVE_PROGRAM, "--play", "--midi-log",
                    logPath_.c_str(), setupPath_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(program_, 0);
    }

    // SIGTERM, as a session manager or the desktop closes the program; its exit status.
    int terminate() {
        ::kill(program_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        int status = 0;
        while (::waitpid(program_, &status, WNOHANG) != program_) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            sleepMicroseconds(5000);
        }
        program_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // What the program logged as sent, as the bytes that go on the wire.
    std::vector<Message> logged() const {
        std::vector<Message> messages;
        std::ifstream in(logPath_);
        for (std::string line; std::getline(in, line);) {
            // Before the setup is read the program plays to "MIDI Mapper".
            if (line.find("\trecorder:in (JACK)\t") == std::string::npos) {
                continue;
            }
            std::istringstream fields(line.substr(line.rfind('\t') + 1));
            unsigned status = 0, data1 = 0, data2 = 0;
            fields >> std::hex >> status >> data1 >> data2;
            Message message{static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1),
                            static_cast<std::uint8_t>(data2)};
            const int kind = status & 0xF0;
            message.resize(kind == 0xC0 || kind == 0xD0 ? 2 : 3);
            messages.push_back(message);
        }
        return messages;
    }

    static Message received(const Recorder& recorder, int index) {
        const Recorder::Event& event = recorder.event(index);
        return Message(event.bytes.begin(), event.bytes.begin() + static_cast<long>(event.size));
    }
    static std::vector<Message> receivedFrom(const Recorder& recorder, int first) {
        std::vector<Message> messages;
        for (int i = first; i < recorder.count(); ++i) {
            messages.push_back(received(recorder, i));
        }
        return messages;
    }

    static bool isAllNotesOff(const Message& message) {
        return message.size() == 3 && (message[0] & 0xF0) == 0xB0 && message[1] == 123 &&
               message[2] == 0;
    }

    static JackServer* server_;
    static bool serverUp_;
    static std::string* root_;
    std::unique_ptr<Recorder> recorder_;
    std::string setupPath_;
    std::string logPath_;
    pid_t program_ = -1;
};

JackServer* ProgramOnJack::server_ = nullptr;
bool ProgramOnJack::serverUp_ = false;
std::string* ProgramOnJack::root_ = nullptr;

TEST_F(ProgramOnJack, EverythingLoggedArrivesFromStepZeroToTheAllNotesOffOfSigterm) {
    constexpr int kRuns = 3;
    for (int run = 0; run < kRuns; ++run) {
        const int first = recorder_->count();
        launch();
        ASSERT_TRUE(recorder_->waitForEvents(first + 8)) << "run " << run << ": nothing played";
        ASSERT_EQ(terminate(), 0) << "run " << run;

        const std::vector<Message> sent = logged();
        ASSERT_GE(sent.size(), 8u) << "run " << run;
        EXPECT_TRUE(isAllNotesOff(sent.back())) << "run " << run;
        // The program is gone: what it delivered has arrived.
        EXPECT_EQ(receivedFrom(*recorder_, first), sent) << "run " << run;
    }
}

TEST_F(ProgramOnJack, ARecorderThatQuitsAndStartsAgainIsPlayedToAgain) {
    launch();
    ASSERT_TRUE(recorder_->waitForEvents(4));
    recorder_->close();
    const int heardBefore = recorder_->count();

    Recorder again;
    ASSERT_TRUE(again.open());
    ASSERT_TRUE(again.waitForEvents(8)) << "the program did not reconnect by itself";
    ASSERT_EQ(terminate(), 0);

    const std::vector<Message> sent = logged();
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(isAllNotesOff(sent.back()));
    EXPECT_EQ(received(again, again.count() - 1), sent.back());
    // While no recorder was there nothing went out, so hardly anything was logged: at most
    // the messages of the step played as the first one quit.
    const int heard = heardBefore + again.count();
    EXPECT_GE(static_cast<int>(sent.size()), heard);
    EXPECT_LE(static_cast<int>(sent.size()), heard + 4);
}

}  // namespace
