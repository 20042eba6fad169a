// Two main windows in one process, each with Link on and an instance bus of its own, so that
// whatever passes between them went through the Link session: tempo, start and stop both ways,
// Ctrl+Space for this copy only, a peer's tempo leaving the setup unchanged, and Link turned off
// in mid-play. And one copy following the JACK transport of a server of the test's own as well,
// where Link leads and the transport follows.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include <ableton/Link.hpp>

#include "../midi/JackTestSupport.h"

#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "panels/CommandIds.h"
#include "panels/MainPanel.h"
#include "panels/MenuBar.h"
#include "panels/MenuTables.h"
#include "sync/LinkSession.h"
#include "sync/LinkSessionWatch.h"
#include "sync/TimeKeeper.h"
#include "toolkit/InputState.h"

namespace {

// Runs the window thread's events until done() or the deadline.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class ControlKey : public InputState {
public:
    ControlKey() { InputState::Install(this); }
    ~ControlKey() override { InputState::Install(nullptr); }
    bool IsControlHeld() const override { return held; }
    bool IsShiftHeld() const override { return false; }
    bool IsAltHeld() const override { return false; }
    bool held = false;
};

// One copy of the program: a window with Link on, its own bus and a MIDI log.
class Copy {
public:
    explicit Copy(bool jackTransport = false) {
        ::chmod(dir_.path().toLocal8Bit().constData(), 0700);
        MainWindow::Options options;
        options.drivers = OutputPort::Drivers{};
        options.busDirectory = dir_.path().toStdString();
        options.clock.calibrationMs = 1;
        options.clock.realtimePriority = 0;
        options.link = true;
        options.jackTransport = jackTransport;
        window_ = std::make_unique<MainWindow>(std::move(options));
        window_->initialise();
        window_->show();
    }
    ~Copy() {
        if (window_->player().isRunning()) {
            window_->player().stop();
        }
        window_->setup().dirty = false;
    }

    MainWindow& operator*() { return *window_; }
    MainWindow* operator->() { return window_.get(); }
    LinkSession& session() { return *window_->time().linkSession(); }
    // Waits until the engine has moved on by `steps` steps (its play position, seen changing).
    bool playsOn(int steps) {
        int seen = 0;
        int last = position();
        return waitFor([&] {
            const int now = position();
            seen += now != last ? 1 : 0;
            last = now;
            return seen >= steps;
        });
    }

private:
    QTemporaryDir dir_;
    int position() {
        std::lock_guard guard(window_->player().engineLock());
        return window_->setup().port.currentStep;
    }

    std::unique_ptr<MainWindow> window_;
};

class LinkWindows : public testing::Test {
protected:
    void SetUp() override {
        NoteBox::setHandler([](const std::string&) {});
        a = std::make_unique<Copy>(aFollowsTheTransport);
        b = std::make_unique<Copy>();
        // Every step sounds, so that playing shows in the logs.
        for (Copy* copy : {a.get(), b.get()}) {
            for (Step& step : (*copy)->setup().measures[0].steps) {
                step.on = 1;
            }
            (*copy)->setup().selectedMeasure = 0;
        }
        ASSERT_TRUE(waitFor([&] {
            return (*a)->time().peerCount() >= 1 && (*b)->time().peerCount() >= 1;
        })) << "the two copies did not find each other";
    }
    void TearDown() override {
        b.reset();
        a.reset();
        NoteBox::setHandler({});
    }

    static bool near(double x, double y) { return std::fabs(x - y) < 1e-3; }

    ControlKey keys;
    bool aFollowsTheTransport = false;
    std::unique_ptr<Copy> a;
    std::unique_ptr<Copy> b;
};

TEST_F(LinkWindows, TheMenuItemAndTheDiagnosticLineShowThePeers) {
    MenuBar& menu = (*a)->panel().Menu();
    ASSERT_TRUE(menu.ShowPopup(MenuTables::kMidiMenu, 10, 10));
    QMenu* popup = menu.CurrentPopup();
    ASSERT_NE(popup, nullptr);
    QAction* item = MenuTables::FindAction(popup, CommandIds::ID_ABLETON_LINK);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(item->text().toStdString(), "Ableton Link (1 peer)");
    EXPECT_EQ(item->toolTip().toStdString(), "Ableton Link: on, 1 peer");
    popup->close();
    (*a)->showStatus("60:1  ");
    EXPECT_EQ((*a)->panel().StatusLine().GetText(), "60:1    Ableton Link: on, 1 peer");
}

TEST_F(LinkWindows, TempoGoesBothWaysAndAPeersTempoLeavesTheSetupUnchanged) {
    (*a)->setup().dirty = false;
    (*b)->setup().dirty = false;
    (*a)->controller().SetBpm(140.0);
    ASSERT_TRUE(waitFor([&] { return near((*b)->setup().bpm, 140.0); }))
        << "b's tempo " << (*b)->setup().bpm;
    EXPECT_FALSE((*b)->setup().dirty) << "a tempo from the session is not an edit";
    (*b)->controller().SetBpm(97.0);
    ASSERT_TRUE(waitFor([&] { return near((*a)->setup().bpm, 97.0); }))
        << "a's tempo " << (*a)->setup().bpm;
    EXPECT_FALSE((*a)->setup().dirty);
}

TEST_F(LinkWindows, StartAndStopGoBothWays) {
    (*a)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return (*b)->player().isRunning(); })) << "a's start reached b";
    EXPECT_TRUE(a->session().isPlaying());
    // Peers keep the newest start or stop by the time each was made, as each peer's estimate of
    // the session's clock tells it: a stop within milliseconds of the start could lose.
    ASSERT_TRUE(b->playsOn(2));
    (*b)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return !(*a)->player().isRunning(); }))
        << "b's stop reached a; a's session plays " << a->session().isPlaying() << ", b's "
        << b->session().isPlaying() << ", b runs " << (*b)->player().isRunning();

    (*b)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return (*a)->player().isRunning(); })) << "b's start reached a";
    ASSERT_TRUE(a->playsOn(2));
    (*a)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return !(*b)->player().isRunning(); })) << "a's stop reached b";
}

TEST_F(LinkWindows, CtrlSpaceStartsThisCopyOnly) {
    (*a)->player().toggle(true);
    EXPECT_TRUE((*a)->player().isRunning());
    // a plays on the session's grid (its first bar may be up to a bar away) ...
    ASSERT_TRUE(a->playsOn(4)) << "a does not play";
    // ... while the session and b stay stopped.
    EXPECT_FALSE(a->session().isPlaying());
    EXPECT_FALSE(b->session().isPlaying());
    EXPECT_FALSE((*b)->player().isRunning());

    (*a)->player().toggle(true);
    EXPECT_FALSE((*a)->player().isRunning());
}

TEST_F(LinkWindows, SpaceAfterACtrlSpaceStartStopsOnlyThisCopy) {
    (*a)->player().toggle(true);
    ASSERT_TRUE(a->playsOn(2));
    (*b)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return a->session().isPlaying(); })) << "b's start reached a";
    ASSERT_TRUE(b->playsOn(2));
    (*a)->time().toggle(false);
    EXPECT_FALSE((*a)->player().isRunning());
    ASSERT_TRUE(b->playsOn(6)) << "a's stop ended the session for b";
    EXPECT_TRUE(a->session().isPlaying());
}

TEST_F(LinkWindows, ACopyThatEndsLeavesTheSessionPlayingForTheOthers) {
    (*a)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return (*b)->player().isRunning(); }));
    ASSERT_TRUE(b->playsOn(2));
    // As on SIGTERM or a session manager's quit.
    (*b)->closeWithoutQuestion();
    ASSERT_TRUE(a->playsOn(8)) << "b's end stopped a";
    EXPECT_TRUE(a->session().isPlaying());
}

TEST_F(LinkWindows, ACopyJoiningAPlayingSessionComesIn) {
    (*b)->time().setLinkEnabled(false);
    (*a)->player().toggle();
    ASSERT_TRUE(a->playsOn(2));
    EXPECT_FALSE((*b)->player().isRunning());
    (*b)->time().setLinkEnabled(true);
    ASSERT_TRUE(waitFor([&] { return (*b)->player().isRunning(); })) << "b did not join in";
    ASSERT_TRUE(b->playsOn(2));
    (*a)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return !(*b)->player().isRunning(); }));
}

TEST_F(LinkWindows, TurningLinkOffMidPlayKeepsPlayingAtTheSessionsTempo) {
    (*a)->controller().SetBpm(300.0);
    ASSERT_TRUE(waitFor([&] { return near((*b)->setup().bpm, 300.0); }));
    (*a)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return (*b)->player().isRunning(); }));
    // The menu item, as the user chooses it.
    (*a)->onCommand(CommandIds::ID_ABLETON_LINK);
    EXPECT_FALSE((*a)->time().linkEnabled());
    EXPECT_TRUE((*a)->player().isRunning());
    EXPECT_EQ((*a)->setup().bpm, (*b)->setup().bpm);
    ASSERT_TRUE(a->playsOn(4)) << "a stopped playing";
    EXPECT_TRUE((*b)->player().isRunning()) << "leaving the session stops nobody";
    // Stopping a now is its own business: the session plays on.
    (*a)->player().toggle();
    EXPECT_TRUE(b->session().isPlaying());
    (*b)->player().toggle();
}

// Another program (a DAW, LinkHut) plays the session before a copy joins it. Such a program
// says nothing new when a peer joins, as copies of this one do.
TEST(LinkJoin, ACopyJoiningASessionAnotherProgramPlaysComesInOnItsNextBar) {
    NoteBox::setHandler([](const std::string&) {});
    ControlKey keys;
    ableton::Link other(120.0);
    other.enableStartStopSync(true);
    LinkSessionWatch network;
    other.enable(true);
    const auto enabled = std::chrono::steady_clock::now();
    // Link forgets a start made before it is on the network; once it announces itself, it is.
    ASSERT_TRUE(waitFor([&] { return network.peerCount() > 0; }));
    auto state = other.captureAppSessionState();
    state.setIsPlayingAndRequestBeatAtTime(true, other.clock().micros(), 0.0, 4.0);
    other.commitAppSessionState(state);
    // Of two sessions less than half a second apart in age, Link keeps either; the other
    // program's, being older, is the one the copy joins, as it is on a stage.
    ASSERT_TRUE(waitFor([&] {
        return network.sessionPlays() &&
               std::chrono::steady_clock::now() - enabled > std::chrono::milliseconds(1500);
    }));
    {
        Copy copy;
        for (Step& step : copy->setup().measures[0].steps) {
            step.on = 1;
        }
        ASSERT_TRUE(waitFor([&] { return copy->player().isRunning(); }))
            << "the copy stayed out of the playing session";
        ASSERT_TRUE(copy.playsOn(2));
        EXPECT_EQ(copy.session().songPosition(0) % 16, 0) << "not on a bar";
        EXPECT_TRUE(other.captureAppSessionState().isPlaying());
    }
    NoteBox::setHandler({});
}

// As LinkWindows, with a JACK server of the test's own whose transport a follows too, and a
// client of the test's own that watches the transport.
class LinkWindowsWithTransport : public LinkWindows {
protected:
    void SetUp() override {
        const std::string name = "glimmerstave-link-transport-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ASSERT_TRUE(server_.start(name, 256)) << "jackd (package jackd2) did not start";
        jack_status_t status{};
        watcher_ = jack_client_open("watcher", JackNoStartServer, &status);
        ASSERT_NE(watcher_, nullptr);
        aFollowsTheTransport = true;
        LinkWindows::SetUp();
    }
    void TearDown() override {
        LinkWindows::TearDown();
        if (watcher_ != nullptr) {
            jack_client_close(watcher_);
        }
        server_.stop();
        ::unsetenv("JACK_DEFAULT_SERVER");
    }
    bool rolling() { return jack_transport_query(watcher_, nullptr) == JackTransportRolling; }
    // The tempo in the master's BBT, 0 without one.
    double bbtTempo() {
        jack_position_t position{};
        jack_transport_query(watcher_, &position);
        return (position.valid & JackPositionBBT) != 0 ? position.beats_per_minute : 0.0;
    }

    jacktest::JackServer server_;
    jack_client_t* watcher_ = nullptr;
};

TEST_F(LinkWindowsWithTransport, LinkLeadsTheEngineAndTheTransportFollowsIt) {
    // Space plays the session: b starts with a, and a's start rolls the transport.
    (*a)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return (*b)->player().isRunning(); })) << "a's start reached b";
    ASSERT_TRUE(waitFor([&] { return rolling(); })) << "the transport did not roll";
    ASSERT_TRUE(a->playsOn(2));
    // A tempo from the session reaches the transport, a being the timebase master.
    (*b)->controller().SetBpm(97.0);
    ASSERT_TRUE(waitFor([&] { return near(bbtTempo(), 97.0); })) << "BBT tempo " << bbtTempo();
    // b's stop, through the session, stops a and then the transport.
    (*b)->player().toggle();
    ASSERT_TRUE(waitFor([&] { return !(*a)->player().isRunning(); }));
    ASSERT_TRUE(waitFor([&] { return !rolling(); })) << "the transport still rolls";

    // With Link off, a follows the transport again.
    (*a)->time().setLinkEnabled(false);
    jack_transport_start(watcher_);
    ASSERT_TRUE(waitFor([&] { return (*a)->player().isRunning(); })) << "a ignores the transport";
    EXPECT_FALSE((*b)->player().isRunning());
    jack_transport_stop(watcher_);
    ASSERT_TRUE(waitFor([&] { return !(*a)->player().isRunning(); }));
}

}  // namespace
