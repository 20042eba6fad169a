// The program under a session manager: a fake NSM server over UDP in this process drives a
// real main window (offscreen) through announce, open, save, dirty and clean, a session
// switch, hide and show; and the program itself ends cleanly on SIGTERM.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "FakeNsmServer.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "app/NsmSession.h"
#include "document/SetupFile.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "panels/MenuTables.h"
#include "session/NsmClient.h"

namespace {

using namespace CommandIds;

void pollQt() {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
}

class NsmSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(busDir.path().toLocal8Bit().constData(), 0700);
        MainWindow::Options options;
        options.drivers = OutputPort::Drivers{};
        options.busDirectory = busDir.path().toStdString();
        options.clock.calibrationMs = 1;
        options.clock.realtimePriority = 0;
        options.sessionManaged = true;
        window = std::make_unique<MainWindow>(std::move(options));
        window->initialise();
        std::string error;
        client = NsmClient::create(server.url(), &error);
        ASSERT_NE(client, nullptr) << error;
        session = std::make_unique<NsmSession>(*window, *client);
        session->start("glimmerstave");
        ASSERT_TRUE(server.waitFor([this] { return server.announced(); }, pollQt));
        if (answersAnnounce()) {
            server.answerAnnounce();
        }
    }
    virtual bool answersAnnounce() const { return true; }

    void TearDown() override {
        session.reset();
        window->setup().dirty = false;
        window.reset();
    }

    // Sends a request and waits for its /reply or /error.
    const FakeNsmServer::Message* request(const std::string& path,
                                          const std::vector<std::string>& args = {}) {
        const std::size_t from = server.received.size();
        server.send(path, args);
        server.waitFor([&] { return server.answerTo(path, from) != nullptr; }, pollQt);
        return server.answerTo(path, from);
    }
    bool waitForMessage(const std::string& path, std::size_t from) {
        return server.waitFor([&] { return server.find(path, from) != nullptr; }, pollQt);
    }
    std::string prefix(const std::string& name) const {
        return sessionDir.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string statusText() { return window->panel().StatusLine().GetText(); }
    bool fileMenuOffers(int command) {
        MenuBar& menu = window->panel().Menu();
        if (!menu.ShowPopup(MenuTables::kFileMenu, 10, 10) || menu.CurrentPopup() == nullptr) {
            return false;
        }
        QMenu* popup = menu.CurrentPopup();
        const bool enabled = MenuTables::FindAction(popup, command)->isEnabled();
        popup->close();
        return enabled;
    }

    QTemporaryDir busDir;
    QTemporaryDir sessionDir;
    FakeNsmServer server;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<NsmClient> client;
    std::unique_ptr<NsmSession> session;
};

// Dialogs and message boxes showing: none may wait for the user under a session manager.
int openDialogs() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->isVisible() && qobject_cast<QDialog*>(widget) != nullptr ? 1 : 0;
    }
    return count;
}

TEST_F(NsmSessionTest, AnnouncesItselfAndWaitsForOpenBeforeItShowsOrMakesAFile) {
    const FakeNsmServer::Message* announce = server.find("/nsm/server/announce");
    ASSERT_NE(announce, nullptr);
    ASSERT_EQ(announce->strings.size(), 3u);
    EXPECT_EQ(announce->strings[0], "Glimmerstave");
    EXPECT_EQ(announce->strings[1], ":switch:dirty:optional-gui:");
    EXPECT_EQ(announce->strings[2], "glimmerstave");
    EXPECT_EQ(announce->ints, (std::vector<int>{1, 2, static_cast<int>(::getpid())}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->setup().path.empty());
    EXPECT_TRUE(QDir(sessionDir.path()).isEmpty());
}

TEST_F(NsmSessionTest, OpenOfANewFileSavesASetupThereAtOnceAndShowsTheWindow) {
    const std::string file = prefix("Glimmerstave.nABCD") + ".qov";
    const FakeNsmServer::Message* answer =
        request("/nsm/client/open", {prefix("Glimmerstave.nABCD"), "Glimmerstave", "nABCD"});
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->path, "/reply");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(session->sessionFile(), file);
    EXPECT_EQ(window->setup().path, file);
    EXPECT_TRUE(waitForMessage("/nsm/client/gui_is_shown", 0));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(waitForMessage("/nsm/client/is_clean", 0));
    EXPECT_EQ(server.find("/nsm/client/is_dirty"), nullptr);
}

TEST_F(NsmSessionTest, ChangesAreDirtyUntilSaveWritesTheSessionFile) {
    ASSERT_NE(request("/nsm/client/open", {prefix("a"), "a", "nA"}), nullptr);
    const std::string file = prefix("a") + ".qov";
    const auto before = std::filesystem::file_size(file);
    const double bpm = window->setup().bpm;

    std::size_t from = server.received.size();
    window->onCommand(ID_RANDOMIZE);
    window->controller().SetBpm(bpm + 11.0);
    ASSERT_TRUE(waitForMessage("/nsm/client/is_dirty", from));
    from = server.received.size();
    const FakeNsmServer::Message* saved = request("/nsm/client/save");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->path, "/reply");
    EXPECT_TRUE(waitForMessage("/nsm/client/is_clean", from));
    EXPECT_EQ(SetupFile::read(file).bpm, bpm + 11.0);
    EXPECT_EQ(std::filesystem::file_size(file), before);
    EXPECT_EQ(openDialogs(), 0);
}

TEST_F(NsmSessionTest, ASecondOpenSwitchesToAnExistingFileWithoutAQuestion) {
    ASSERT_NE(request("/nsm/client/open", {prefix("first"), "first", "n1"}), nullptr);
    ::Setup other;
    other.bpm = 97.0;
    other.stepsPerMeasure = 8;
    SetupFile::save(prefix("second") + ".qov", other, 0x00336699, 10, 20);
    window->onCommand(ID_RANDOMIZE);  // unsaved changes: the manager saves when it wants to

    const FakeNsmServer::Message* answer =
        request("/nsm/client/open", {prefix("second"), "second", "n2"});
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->path, "/reply");
    EXPECT_EQ(window->setup().bpm, 97.0);
    EXPECT_EQ(window->setup().stepsPerMeasure, 8);
    EXPECT_EQ(session->sessionFile(), prefix("second") + ".qov");
    EXPECT_FALSE(window->setup().dirty);
    EXPECT_EQ(openDialogs(), 0);
}

TEST_F(NsmSessionTest, AnUnreadableSessionFileIsAnErrorWithTheReason) {
    ASSERT_NE(request("/nsm/client/open", {prefix("good"), "good", "n1"}), nullptr);
    {
        std::FILE* broken = std::fopen((prefix("broken") + ".qov").c_str(), "wb");
        ASSERT_NE(broken, nullptr);
        std::fputs("not a setup", broken);
        std::fclose(broken);
    }
    const FakeNsmServer::Message* answer =
        request("/nsm/client/open", {prefix("broken"), "b", "n2"});
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->path, "/error");
    EXPECT_EQ(answer->ints, (std::vector<int>{NsmClient::kErrorBadProject}));
    ASSERT_EQ(answer->strings.size(), 2u);
    EXPECT_NE(answer->strings[1].find("broken.qov"), std::string::npos) << answer->strings[1];
    EXPECT_EQ(session->sessionFile(), prefix("good") + ".qov");
    EXPECT_EQ(openDialogs(), 0);
}

TEST_F(NsmSessionTest, HideShowAndCloseOnlyHideTheWindowAndSayHow) {
    ASSERT_NE(request("/nsm/client/open", {prefix("gui"), "gui", "n1"}), nullptr);
    ASSERT_TRUE(waitForMessage("/nsm/client/gui_is_shown", 0));

    std::size_t from = server.received.size();
    server.send("/nsm/client/hide_optional_gui");
    ASSERT_TRUE(waitForMessage("/nsm/client/gui_is_hidden", from));
    EXPECT_FALSE(window->window()->isVisible());

    from = server.received.size();
    server.send("/nsm/client/show_optional_gui");
    ASSERT_TRUE(waitForMessage("/nsm/client/gui_is_shown", from));
    EXPECT_TRUE(window->window()->isVisible());

    from = server.received.size();
    window->onCommand(ID_RANDOMIZE);
    window->window()->close();
    ASSERT_TRUE(waitForMessage("/nsm/client/gui_is_hidden", from));
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_EQ(openDialogs(), 0) << "no save question under a session manager";
}

TEST_F(NsmSessionTest, TheSessionOwnsTheFileSoOpenAndSaveAsAreOff) {
    ASSERT_NE(request("/nsm/client/open", {prefix("menu"), "menu", "n1"}), nullptr);
    MenuBar& menu = window->panel().Menu();
    ASSERT_TRUE(menu.ShowPopup(MenuTables::kFileMenu, 10, 10));
    QMenu* popup = menu.CurrentPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_FALSE(MenuTables::FindAction(popup, ID_OPEN_SETUP)->isEnabled());
    EXPECT_FALSE(MenuTables::FindAction(popup, ID_SAVE_SETUP_AS)->isEnabled());
    EXPECT_TRUE(MenuTables::FindAction(popup, ID_EXPORT_AUDIO)->isEnabled());
    popup->close();

    // Nor does a dropped setup take the session's place.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(prefix("other") + ".qov"))});
    QDragEnterEvent enter(QPoint(300, 80), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window->window(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

// Every value of every step, to tell one setup's pattern from another's.
std::vector<int> pattern(const ::Setup& setup) {
    std::vector<int> values;
    for (const Measure& measure : setup.measures) {
        values.push_back(measure.next);
        for (const Step& step : measure.steps) {
            values.insert(values.end(), {step.program, step.velocity, step.pan, step.duration});
        }
    }
    return values;
}

TEST_F(NsmSessionTest, ANewSessionFileThatCannotBeWrittenLeavesTheSetupAsItWas) {
    ASSERT_NE(request("/nsm/client/open", {prefix("good"), "good", "n1"}), nullptr);
    window->onCommand(ID_RANDOMIZE);
    const std::vector<int> before = pattern(window->setup());
    // A folder cannot be made inside a plain file.
    std::FILE* blocker = std::fopen(prefix("blocker").c_str(), "wb");
    ASSERT_NE(blocker, nullptr);
    std::fclose(blocker);

    const FakeNsmServer::Message* answer =
        request("/nsm/client/open", {prefix("blocker") + "/inside/new", "new", "n2"});
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->path, "/error");
    EXPECT_EQ(answer->ints, (std::vector<int>{NsmClient::kErrorCreateFailed}));
    EXPECT_EQ(pattern(window->setup()), before);
    EXPECT_TRUE(window->setup().dirty);
    EXPECT_EQ(session->sessionFile(), prefix("good") + ".qov");
}

TEST_F(NsmSessionTest, APathThatCannotBeLookedAtIsAnErrorWithItsTextNotANewFile) {
    ASSERT_NE(request("/nsm/client/open", {prefix("good"), "good", "n1"}), nullptr);
    const std::vector<int> before = pattern(window->setup());
    // A link to itself: looking through it fails, and not with "no such file".
    std::filesystem::create_symlink("loop", prefix("loop"));

    const FakeNsmServer::Message* answer =
        request("/nsm/client/open", {prefix("loop") + "/setup", "loop", "n2"});
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->path, "/error");
    EXPECT_EQ(answer->ints, (std::vector<int>{NsmClient::kErrorBadProject}));
    ASSERT_EQ(answer->strings.size(), 2u);
    const std::string reason =
        std::make_error_code(std::errc::too_many_symbolic_link_levels).message();
    EXPECT_NE(answer->strings[1].find(reason), std::string::npos) << answer->strings[1];
    EXPECT_NE(answer->strings[1].find("loop/setup.qov"), std::string::npos);
    EXPECT_EQ(pattern(window->setup()), before);
    EXPECT_EQ(session->sessionFile(), prefix("good") + ".qov");
}

// Before the session has opened there is no file to save to: Save says so instead of asking
// for one.
TEST_F(NsmSessionTest, SaveBeforeTheSessionOpensAsksNothingAndSaysWhy) {
    int dialogsSeen = 0;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++dialogsSeen;
            modal->close();
        }
    });
    watchdog.start(20);
    window->onCommand(ID_SAVE_SETUP);
    watchdog.stop();
    EXPECT_EQ(dialogsSeen, 0);
    EXPECT_EQ(openDialogs(), 0);
    EXPECT_NE(statusText().find(MainWindow::kNotSavedBeforeSessionText), std::string::npos)
        << statusText();
    EXPECT_TRUE(QDir(sessionDir.path()).isEmpty());
}

// A manager of the test's own that never answers the announce.
class SilentManagerTest : public NsmSessionTest {
protected:
    bool answersAnnounce() const override { return false; }
};

TEST_F(SilentManagerTest, WithoutAnAnswerTheProgramRunsOnItsOwnUntilALateAnswer) {
    ASSERT_TRUE(server.waitFor([this] { return window->isVisible(); }, pollQt))
        << "still invisible without an answer";
    EXPECT_FALSE(session->inSession());
    EXPECT_FALSE(window->sessionManaged());
    EXPECT_NE(statusText().find("did not answer"), std::string::npos) << statusText();
    EXPECT_TRUE(fileMenuOffers(ID_OPEN_SETUP));
    EXPECT_TRUE(fileMenuOffers(ID_SAVE_SETUP_AS));

    // The answer comes after all: the session takes the program back.
    server.answerAnnounce();
    const FakeNsmServer::Message* answer =
        request("/nsm/client/open", {prefix("late"), "late", "nL"});
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->path, "/reply");
    EXPECT_TRUE(session->inSession());
    EXPECT_TRUE(window->sessionManaged());
    EXPECT_EQ(session->sessionFile(), prefix("late") + ".qov");
    EXPECT_FALSE(fileMenuOffers(ID_OPEN_SETUP));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(SilentManagerTest, ARefusedAnnounceRunsWithoutTheSessionAndSaysWhy) {
    server.refuseAnnounce();
    ASSERT_TRUE(server.waitFor([this] { return window->isVisible(); }, pollQt));
    EXPECT_FALSE(window->sessionManaged());
    EXPECT_NE(statusText().find("refused"), std::string::npos) << statusText();
    EXPECT_NE(statusText().find("Incompatible API version"), std::string::npos);
    EXPECT_TRUE(fileMenuOffers(ID_OPEN_SETUP));
}

// A manager that cannot be reached: what could not be sent is named on stderr, with the reason.
TEST(NsmClientSend, AMessageThatCannotBeSentIsNamedOnStderrWithTheReason) {
    std::string error;
    // Nothing listens on TCP port 1 here: the connection is refused at once.
    std::unique_ptr<NsmClient> client = NsmClient::create("osc.tcp://127.0.0.1:1/", &error);
    ASSERT_NE(client, nullptr) << error;
    ::testing::internal::CaptureStderr();
    client->announce("glimmerstave");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("/nsm/server/announce"), std::string::npos) << said;
    EXPECT_NE(said.find(std::strerror(ECONNREFUSED)), std::string::npos) << said;
}

// The program itself: announced, opened, then SIGTERM ends it with status 0 and its
// instance socket gone.
TEST(NsmProgram, EndsCleanlyOnSigterm) {
    QTemporaryDir home;
    const QString root = home.path();
    for (const char* sub : {"/runtime", "/config", "/data", "/session"}) {
        ::mkdir((root + sub).toLocal8Bit().constData(), 0700);
    }
    FakeNsmServer server;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NSM_URL", QString::fromStdString(server.url()));
    environment.insert("XDG_RUNTIME_DIR", root + "/runtime");
    environment.insert("XDG_CONFIG_HOME", root + "/config");
    environment.insert("XDG_DATA_HOME", root + "/data");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("JACK_NO_START_SERVER", "1");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(GLIMMERSTAVE_PROGRAM, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    ASSERT_TRUE(server.waitFor([&] { return server.announced(); }));
    server.answerAnnounce();
    const std::string prefix = (root + "/session/Glimmerstave.nX").toStdString();
    server.send("/nsm/client/open", {prefix, "Glimmerstave", "nX"});
    ASSERT_TRUE(server.waitFor([&] { return server.answerTo("/nsm/client/open") != nullptr; }));
    EXPECT_EQ(server.answerTo("/nsm/client/open")->path, "/reply");
    EXPECT_TRUE(std::filesystem::exists(prefix + ".qov"));
    const auto busSockets = [&] {
        int count = 0;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator((root + "/runtime").toStdString())) {
            count += entry.path().extension() == ".bus" ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(busSockets(), 1);

    program.terminate();  // SIGTERM
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(busSockets(), 0);
}

}  // namespace
