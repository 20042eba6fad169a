#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "decor/CSubclassWnd.h"

namespace {

// An event that carries a value, so a hook can hand something else down the chain.
class ProbeEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 41);
    explicit ProbeEvent(int carried) : QEvent(kType), value(carried) {}
    int value;
};

// A window that notes every probe its own handling receives.
class ProbeWindow : public QWidget {
public:
    explicit ProbeWindow(std::vector<std::string>& log) : log_(log) {}

protected:
    bool event(QEvent* event) override {
        if (event->type() == ProbeEvent::kType) {
            log_.push_back("window:" + std::to_string(static_cast<ProbeEvent*>(event)->value));
            return true;
        }
        return QWidget::event(event);
    }

private:
    std::vector<std::string>& log_;
};

class RecordingHook : public CSubclassWnd {
public:
    RecordingHook(std::string name, std::vector<std::string>& log)
        : name_(std::move(name)), log_(log) {}
    bool consume = false;
    int replaceWith = 0;

protected:
    bool HandleMessage(QEvent* event) override {
        if (event->type() != ProbeEvent::kType) {
            return PassOn(event);
        }
        log_.push_back(name_);
        if (consume) {
            return true;
        }
        if (replaceWith != 0) {
            ProbeEvent replaced(replaceWith);
            return PassOn(&replaced);
        }
        return PassOn(event);
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

class SubclassWnd : public testing::Test {
protected:
    void Probe(int value = 1) {
        ProbeEvent event(value);
        QCoreApplication::sendEvent(window.get(), &event);
    }

    std::vector<std::string> log;
    std::unique_ptr<ProbeWindow> window = std::make_unique<ProbeWindow>(log);
};

using Log = std::vector<std::string>;

TEST_F(SubclassWnd, NewestHookRunsFirstAndTheWindowOnceAtTheEnd) {
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    Probe();
    EXPECT_EQ(log, (Log{"second", "first", "window:1"}));
    EXPECT_EQ(CSubclassWnd::HeadHook(window.get()), &second);
    EXPECT_EQ(second.NextHook(), &first);
}

TEST_F(SubclassWnd, RemovingTheFirstInstalledKeepsTheSecondWorking) {
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    first.AttachToWindow(nullptr);
    Probe();
    EXPECT_EQ(log, (Log{"second", "window:1"}));
    EXPECT_EQ(second.NextHook(), nullptr);
    EXPECT_EQ(first.Window(), nullptr);
    EXPECT_EQ(CSubclassWnd::HeadHook(window.get()), &second);
}

TEST_F(SubclassWnd, RemovingTheNewestLeavesTheOlderAsHead) {
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    second.AttachToWindow(nullptr);
    Probe();
    EXPECT_EQ(log, (Log{"first", "window:1"}));
    EXPECT_EQ(CSubclassWnd::HeadHook(window.get()), &first);
}

TEST_F(SubclassWnd, OriginalHandlingComesBackOnlyWhenTheLastHookGoes) {
    const std::size_t before = CSubclassWnd::HookedWindowCount();
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    first.AttachToWindow(nullptr);
    EXPECT_EQ(CSubclassWnd::HookedWindowCount(), before + 1);
    second.AttachToWindow(nullptr);
    EXPECT_EQ(CSubclassWnd::HookedWindowCount(), before);
    EXPECT_EQ(CSubclassWnd::HeadHook(window.get()), nullptr);
    Probe(7);
    EXPECT_EQ(log, (Log{"window:7"}));
}

TEST_F(SubclassWnd, AHookThatHandlesAnEventEndsItsJourney) {
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    second.consume = true;
    Probe();
    EXPECT_EQ(log, (Log{"second"}));
}

TEST_F(SubclassWnd, AHookMayPassADifferentEventOn) {
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    second.replaceWith = 5;
    Probe(1);
    EXPECT_EQ(log, (Log{"second", "first", "window:5"}));
}

TEST_F(SubclassWnd, ADestroyedHookLeavesTheChain) {
    RecordingHook first("first", log);
    first.AttachToWindow(window.get());
    {
        RecordingHook passing("passing", log);
        passing.AttachToWindow(window.get());
    }
    Probe();
    EXPECT_EQ(log, (Log{"first", "window:1"}));
    EXPECT_EQ(first.NextHook(), nullptr);
}

TEST_F(SubclassWnd, ADestroyedWindowUnhooksEveryHook) {
    const std::size_t before = CSubclassWnd::HookedWindowCount();
    RecordingHook first("first", log), second("second", log);
    first.AttachToWindow(window.get());
    second.AttachToWindow(window.get());
    window.reset();
    EXPECT_EQ(first.Window(), nullptr);
    EXPECT_EQ(second.Window(), nullptr);
    EXPECT_EQ(second.NextHook(), nullptr);
    EXPECT_EQ(CSubclassWnd::HookedWindowCount(), before);
}

TEST_F(SubclassWnd, AttachingToAnotherWindowMovesTheHook) {
    std::vector<std::string> otherLog;
    ProbeWindow other(otherLog);
    RecordingHook hook("hook", log);
    hook.AttachToWindow(window.get());
    hook.AttachToWindow(&other);
    Probe();
    EXPECT_EQ(log, (Log{"window:1"}));
    EXPECT_EQ(CSubclassWnd::HeadHook(window.get()), nullptr);
    EXPECT_EQ(CSubclassWnd::HeadHook(&other), &hook);
}

}  // namespace
