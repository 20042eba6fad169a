#pragma once

// Stand-ins for the output port's collaborators: devices that record what reaches them, a
// driver over them, and an in-process bus that delivers broadcasts to several ports in order.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/FixedPeriodTimeline.h"
#include "midi/MidiDriver.h"
#include "midi/OutputPort.h"

using Bytes = std::array<std::uint8_t, 3>;

// A device; `exclusive` ones admit one open connection at a time.
class FakeDevice {
public:
    FakeDevice(std::string deviceName, bool exclusiveOpen)
        : name(std::move(deviceName)), exclusive(exclusiveOpen) {}

    void receive(const std::uint8_t* bytes) {
        std::lock_guard guard(mutex_);
        if (openConnections_ == 0) {
            ++sendsWhileClosed_;
        }
        received_.push_back({bytes[0], bytes[1], bytes[2]});
        changed_.notify_all();
    }
    void setOpen(int delta) {
        std::lock_guard guard(mutex_);
        openConnections_ += delta;
        changed_.notify_all();
    }
    int openConnections() {
        std::lock_guard guard(mutex_);
        return openConnections_;
    }
    int sendsWhileClosed() {
        std::lock_guard guard(mutex_);
        return sendsWhileClosed_;
    }
    std::vector<Bytes> received() {
        std::lock_guard guard(mutex_);
        return received_;
    }
    // Waits (bounded) until `count` messages have arrived.
    bool waitForMessages(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return received_.size() >= count; });
    }
    bool waitForOpenConnections(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return openConnections_ == count; });
    }

    const std::string name;
    const bool exclusive;
    // A device with a clock of its own: each connection to it has a frame schedule, and
    // reports it here as it closes.
    bool framed = false;
    std::function<void(StepTimeline* closing)> onClose;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> received_;
    int openConnections_ = 0;
    int sendsWhileClosed_ = 0;
};

class FakeConnection : public MidiConnection {
public:
    explicit FakeConnection(std::shared_ptr<FakeDevice> device) : device_(std::move(device)) {
        device_->setOpen(+1);
    }
    ~FakeConnection() override {
        if (device_->onClose) {
            device_->onClose(frameTimeline());
        }
        device_->setOpen(-1);
    }
    bool send(const std::uint8_t* bytes) override {
        device_->receive(bytes);
        return true;
    }
    StepTimeline* frameTimeline() override { return device_->framed ? &frames_ : nullptr; }

private:
    std::shared_ptr<FakeDevice> device_;
    FixedPeriodTimeline frames_;
};

class FakeDriver : public MidiDriver {
public:
    std::shared_ptr<FakeDevice> add(const std::string& name, bool exclusive = false) {
        devices.push_back(std::make_shared<FakeDevice>(name, exclusive));
        return devices.back();
    }
    std::vector<std::string> listDevices() override {
        std::vector<std::string> names;
        for (const auto& device : devices) {
            names.push_back(device->name);
        }
        return names;
    }
    std::unique_ptr<MidiConnection> open(const std::string& name, int occurrence) override {
        ++opens;
        for (const auto& device : devices) {
            if (device->name != name || occurrence-- > 0) {
                continue;
            }
            if (device->exclusive && device->openConnections() > 0) {
                return nullptr;
            }
            return std::make_unique<FakeConnection>(device);
        }
        return nullptr;
    }

    std::vector<std::shared_ptr<FakeDevice>> devices;
    int opens = 0;
};

struct PortMessage {
    int message;
    std::intptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const PortMessage&) const = default;
};

// Delivers every broadcast to each member port's own queue; pump() hands them out in order,
// one message per member per round, as separate window threads would.
class FakeBus {
public:
    void join(OutputPort& port) {
        members_.push_back(std::make_unique<Member>(Member{&port, {}}));
        port.setBroadcast([this](int message, std::intptr_t wParam, std::intptr_t lParam) {
            log.push_back({message, wParam, lParam});
            for (auto& member : members_) {
                member->inbox.push_back({message, wParam, lParam});
            }
            return static_cast<int>(members_.size());
        });
    }
    void leave(OutputPort& port) {
        std::erase_if(members_, [&](const auto& member) { return member->port == &port; });
    }
    void pump() {
        for (bool delivered = true; delivered;) {
            delivered = false;
            for (std::size_t i = 0; i < members_.size(); ++i) {
                Member& member = *members_[i];
                if (member.inbox.empty()) {
                    continue;
                }
                const PortMessage next = member.inbox.front();
                member.inbox.pop_front();
                member.port->handlePortMessage(next.message, next.wParam, next.lParam);
                delivered = true;
            }
        }
    }

    std::vector<PortMessage> log;

private:
    struct Member {
        OutputPort* port;
        std::deque<PortMessage> inbox;
    };
    std::vector<std::unique_ptr<Member>> members_;
};
