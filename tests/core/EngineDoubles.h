#pragma once

// Recording stand-ins for the engine's collaborators: what the Player sends and shows.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/MidiOut.h"
#include "core/PlayerHost.h"
#include "core/StepTimer.h"

struct ShortMessage {
    int status;
    int data1;
    int data2;
    bool operator==(const ShortMessage&) const = default;
};

class RecordingPort : public MidiOut {
public:
    void sendShort(int status, int data1, int data2) override {
        sendShortDue(status, data1, data2, 0);
    }
    void sendShortDue(int status, int data1, int data2, std::int64_t lateUs) override {
        std::lock_guard guard(mutex);
        sent.push_back({status & 0xFF, data1 & 0xFF, data2 & 0xFF});
        lateness.push_back(lateUs);
    }
    std::int64_t outputLatencyUs() override { return latencyUs; }
    void enumeratePorts() override { ++enumerations; }
    void handlePortMessage(int message, std::intptr_t, std::intptr_t) override {
        portMessages.push_back(message);
    }
    std::vector<ShortMessage> take() {
        std::lock_guard guard(mutex);
        std::vector<ShortMessage> result;
        result.swap(sent);
        lateness.clear();
        return result;
    }

    std::mutex mutex;
    std::vector<ShortMessage> sent;
    // Per message sent: how long after its due time it was handed over.
    std::vector<std::int64_t> lateness;
    std::vector<int> portMessages;
    int enumerations = 0;
    std::int64_t latencyUs = 0;
};

struct PostedMessage {
    int message;
    std::intptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const PostedMessage&) const = default;
};

class RecordingHost : public PlayerHost {
public:
    void postMessage(int message, std::intptr_t wParam, std::intptr_t lParam) override {
        std::lock_guard guard(mutex);
        posted.push_back({message, wParam, lParam});
    }
    int broadcastToInstances(int message, std::intptr_t wParam, std::intptr_t lParam) override {
        broadcasts.push_back({message, wParam, lParam});
        return 1;
    }
    void setStepColumnLit(int column, bool lit) override {
        litChanges.push_back({column, lit});
    }
    void markPlayingMeasure(int index) override { playingMarks.push_back(index); }
    void showPlayReleased() override { ++playReleasedCount; }
    void showStatus(const std::string& text) override { statusShown.push_back(text); }

    std::vector<PostedMessage> takePosted() {
        std::lock_guard guard(mutex);
        std::vector<PostedMessage> result;
        result.swap(posted);
        return result;
    }
    int countPosted(int message) {
        std::lock_guard guard(mutex);
        int count = 0;
        for (const PostedMessage& p : posted) {
            count += p.message == message ? 1 : 0;
        }
        return count;
    }

    std::mutex mutex;
    std::vector<PostedMessage> posted;
    std::vector<PostedMessage> broadcasts;
    std::vector<std::pair<int, bool>> litChanges;
    std::vector<int> playingMarks;
    std::vector<std::string> statusShown;
    int playReleasedCount = 0;
};

// A clock whose time the test sets.
class ManualTimer : public StepTimer {
public:
    void startTimer() override {
        ++starts;
        active = true;
    }
    void stopTimer() override {
        ++stops;
        active = false;
    }
    void wake() override { ++wakes; }
    std::int64_t nowUs() const override { return now; }
    std::int32_t cyclesPerMs() const override { return 2395000; }

    std::int64_t now = 0;
    bool active = false;
    int starts = 0;
    int stops = 0;
    int wakes = 0;
};
