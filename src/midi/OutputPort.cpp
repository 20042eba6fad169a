#include "midi/OutputPort.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/Messages.h"
#include "core/Setup.h"
#include "core/StepTimeline.h"
#include "midi/ClaimedConnection.h"
#include "midi/DeviceClaim.h"
#include "midi/MidiLog.h"
#include "midi/PortRelay.h"

OutputPort::OutputPort(Setup& setup, Drivers drivers)
    : setup_(setup), drivers_(std::move(drivers)), instanceId_(::getpid()) {
    if (drivers_.mapper != nullptr) {
        // On the synthesizer's thread, while the connection exists: only hand the news on.
        drivers_.mapper->setLateFailureHandler(
            [this](const MidiConnection* connection, const std::string& reason) {
                if (post_) {
                    post_([this, connection, reason] { openFailedLater(connection, reason); });
                }
            });
    }
}

OutputPort::~OutputPort() {
    // The relay thread goes first: it may still be playing a borrower's message.
    relay_.reset();
    std::shared_ptr<MidiConnection> own;
    std::unique_ptr<PortRelayLink> borrowed;
    {
        std::lock_guard guard(portLock_);
        target_ = nullptr;
        own = std::move(own_);
        borrowed = std::move(borrowed_);
    }
}

void OutputPort::setBroadcast(Broadcast broadcast) {
    broadcast_ = std::move(broadcast);
}

void OutputPort::setShowNote(ShowNote showNote) {
    showNote_ = std::move(showNote);
}

void OutputPort::setPost(Post post) {
    post_ = std::move(post);
}

void OutputPort::setTimelineListener(TimelineChange listener) {
    timelineListener_ = std::move(listener);
    announcedTimeline_ = nullptr;
    announceFrameTimeline();
}

void OutputPort::setMidiLog(MidiLog* log) {
    std::lock_guard guard(portLock_);
    log_ = log;
}

bool OutputPort::enableLending(const std::string& directory, std::intptr_t instanceId) {
    if (relay_ != nullptr || instanceId == 0) {
        return false;
    }
    auto relay = std::make_unique<PortRelayServer>(portLock_, [this] { return own_; });
    if (!relay->listen(RelayPath::forInstance(directory, instanceId))) {
        return false;
    }
    relay_ = std::move(relay);
    relayDirectory_ = directory;
    instanceId_ = instanceId;
    return true;
}

void OutputPort::sendShort(int status, int data1, int data2) {
    sendShortDue(status, data1, data2, 0);
}

void OutputPort::sendShortDue(int status, int data1, int data2, std::int64_t lateUs) {
    sendShortAt(status, data1, data2, StepTimeline::kNever, lateUs);
}

void OutputPort::sendShortAt(int status, int data1, int data2, std::int64_t dueUs,
                             std::int64_t lateUs) {
    // Data bytes are seven bits on the wire; the log records them as they are sent.
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(status & 0xFF),
                                   static_cast<std::uint8_t>(data1 & 0x7F),
                                   static_cast<std::uint8_t>(data2 & 0x7F)};
    std::lock_guard guard(portLock_);
    if (target_ == nullptr || (bytes[0] >= kFirstSystemByte && target_ != own_.get())) {
        return;
    }
    StepTimeline* timeline = dueTimeline_.load(std::memory_order_acquire);
    std::uint32_t frame = 0;
    const bool sent = dueUs != StepTimeline::kNever && timeline != nullptr &&
                              timeline->deviceFrameOf(dueUs, frame)
                          ? target_->sendAtFrame(bytes, frame, dueUs, lateUs)
                          : target_->sendAt(bytes, dueUs, lateUs);
    if (sent && log_ != nullptr) {
        log_->record(logPortName_, bytes);
    }
}

void OutputPort::setDueTimeline(StepTimeline* timeline) {
    dueTimeline_.store(timeline, std::memory_order_release);
}

StepTimeline* OutputPort::frameTimeline() {
    std::lock_guard guard(portLock_);
    return target_ != nullptr && target_ == own_.get() ? own_->frameTimeline() : nullptr;
}

std::int64_t OutputPort::outputLatencyUs() {
    std::lock_guard guard(portLock_);
    return target_ != nullptr && target_ == own_.get() ? target_->latencyUs() : 0;
}

void OutputPort::refreshPortTable() {
    devices_.clear();
    for (const std::unique_ptr<MidiDriver>& driver : drivers_.devices) {
        for (std::string& name : driver->listDevices()) {
            if (static_cast<int>(devices_.size()) == kMaxDevices) {
                break;
            }
            const auto occurrence = std::count_if(
                devices_.begin(), devices_.end(),
                [&](const Device& d) { return d.driver == driver.get() && d.name == name; });
            devices_.push_back({driver.get(), std::move(name), static_cast<int>(occurrence)});
        }
    }
    PortState& port = setup_.port;
    port.deviceCount = static_cast<std::int32_t>(devices_.size());
    for (std::size_t i = 0; i < port.portNames.size(); ++i) {
        port.portNames[i].clear();
    }
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        port.portNames[i] = devices_[i].name;
    }
    port.portNames[devices_.size()] = kMapperName;
}

void OutputPort::enumeratePorts() {
    if (setup_.port.handle != 0) {
        return;
    }
    refreshPortTable();
    setup_.port.portId = PortState::kMapperPortId;
    selectPortByName(kMapperName);
}

void OutputPort::selectPortByName(const std::string& name) {
    PortState& port = setup_.port;
    port.portName = name;
    port.portId = PortState::kMissingPortId;
    if (name == kMapperName) {
        port.portId = PortState::kMapperPortId;
    } else {
        for (int i = 0; i < port.deviceCount; ++i) {
            if (port.portNames[static_cast<std::size_t>(i)] == name) {
                port.portId = i;  // the last equal name wins
            }
        }
        if (port.portId == PortState::kMissingPortId) {
            showNote(kNotFoundText + name);
        }
    }
    openPort();
}

void OutputPort::openPort() {
    PortState& port = setup_.port;
    // Whatever is still held goes first, so that a device that admits one user at a time can
    // be opened again by the same instance.
    if (port.handle != 0) {
        dropHandle(false);
    }
    std::unique_ptr<MidiConnection> connection = openConnection(port.portId);
    if (connection != nullptr) {
        useOwnConnection(std::move(connection));
        port.shareCount = 1;
        setup_.portOpenedHere = 1;
    } else {
        setup_.portOpenedHere = 0;
        broadcast(Messages::UM_PORT_BUSY, 0, port.portId);
    }
}

void OutputPort::muteSends() {
    std::lock_guard guard(portLock_);
    setTargetLocked(nullptr);
}

void OutputPort::releasePort() {
    PortState& port = setup_.port;
    // An instance whose open failed and that never borrowed holds nothing to give back; its
    // count must not go below 0 nor reach the others.
    if (port.handle == 0) {
        return;
    }
    const int remaining = port.shareCount - 1;
    if (remaining > 0) {
        if (relay_ != nullptr) {
            std::lock_guard guard(portLock_);
            relay_->acceptPendingLocked();
        }
        port.shareCount = static_cast<std::int16_t>(remaining);
        broadcast(Messages::UM_SHARE_COUNT, remaining, heldPortId_);
        if (own_ != nullptr) {
            std::erase_if(lentOut_, [](const auto& lent) { return lent.second.expired(); });
            lentOut_.emplace_back(heldPortId_, own_);
        }
        dropHandle(false);
    } else {
        port.shareCount = 0;
        dropHandle(true);
    }
}

void OutputPort::reopenPort() {
    PortState& port = setup_.port;
    if (port.handle == instanceId_ && own_ != nullptr && heldPortId_ == port.portId) {
        // The port open here is the one wanted, and it follows its device by name: it stays,
        // and with it every connection that others made to it.
        return;
    }
    if (port.handle == instanceId_ && own_ != nullptr) {
        // Close before opening again; borrowers wait, silent, and follow to the new connection.
        withdrawFrameTimeline();
        std::vector<int> borrowers;
        std::vector<std::shared_ptr<MidiConnection>> detached;
        std::shared_ptr<MidiConnection> old;
        {
            std::lock_guard guard(portLock_);
            setTargetLocked(nullptr);
            if (relay_ != nullptr) {
                relay_->acceptPendingLocked();
                detached = relay_->detach(own_.get(), borrowers);
            }
            old = std::move(own_);
        }
        detached.clear();
        old.reset();
        std::unique_ptr<MidiConnection> fresh = openConnection(port.portId);
        if (fresh == nullptr) {
            port.handle = 0;
            return;
        }
        {
            std::lock_guard guard(portLock_);
            own_ = std::move(fresh);
            setTargetLocked(own_.get());
            if (relay_ != nullptr) {
                relay_->attach(borrowers, own_);
            }
        }
        announceFrameTimeline();
        return;
    }
    // No port, or a borrowed one: try an own open first.
    std::unique_ptr<MidiConnection> fresh = openConnection(port.portId);
    if (fresh != nullptr) {
        useOwnConnection(std::move(fresh));
        return;
    }
    // A borrower whose lender still answers keeps sounding through it.
    if (borrowed_ != nullptr && borrowed_->alive()) {
        return;
    }
    dropHandle(false);
}

void OutputPort::handlePortMessage(int message, std::intptr_t wParam, std::intptr_t lParam) {
    PortState& port = setup_.port;
    switch (message) {
        case Messages::UM_PORT_BUSY:
            if (lParam == port.portId && port.handle != 0) {
                broadcast(Messages::UM_SHARE_COUNT, port.shareCount, port.portId);
                broadcast(Messages::UM_PORT_HANDLE, port.handle, port.portId);
            }
            return;
        case Messages::UM_PORT_HANDLE:
            if (lParam == port.portId && port.handle == 0) {
                takeLentHandle(wParam);
            }
            return;
        case Messages::UM_SHARE_COUNT:
            if (lParam == port.portId) {
                port.shareCount = static_cast<std::int16_t>(wParam & 0xFFFF);
            }
            return;
        case Messages::UM_REOPEN_PORT:
            reopenPort();
            return;
        default:
            return;
    }
}

void OutputPort::takeLentHandle(std::intptr_t lender) {
    if (lender == instanceId_) {
        takeBackLentConnection();
        return;
    }
    if (lender == 0 || relayDirectory_.empty()) {
        return;
    }
    // A lender that has gone away lends nothing: the count stays as it is.
    std::unique_ptr<PortRelayLink> link =
        PortRelayLink::connect(RelayPath::forInstance(relayDirectory_, lender));
    if (link == nullptr) {
        return;
    }
    withdrawFrameTimeline();
    std::shared_ptr<MidiConnection> old;
    {
        std::lock_guard guard(portLock_);
        old = std::move(own_);
        borrowed_ = std::move(link);
        setTargetLocked(borrowed_.get());
    }
    PortState& port = setup_.port;
    port.handle = lender;
    heldPortId_ = port.portId;
    port.shareCount = static_cast<std::int16_t>(port.shareCount + 1);
    broadcast(Messages::UM_SHARE_COUNT, port.shareCount, port.portId);
}

void OutputPort::takeBackLentConnection() {
    PortState& port = setup_.port;
    std::shared_ptr<MidiConnection> lent;
    for (const auto& [portId, connection] : lentOut_) {
        if (portId == port.portId) {
            lent = connection.lock();
        }
    }
    if (lent == nullptr) {
        return;
    }
    std::erase_if(lentOut_, [&](const auto& entry) { return entry.second.lock() == lent; });
    {
        std::lock_guard guard(portLock_);
        own_ = std::move(lent);
        setTargetLocked(own_.get());
    }
    announceFrameTimeline();
    port.handle = instanceId_;
    heldPortId_ = port.portId;
    setup_.portOpenedHere = 1;
    port.shareCount = static_cast<std::int16_t>(port.shareCount + 1);
    broadcast(Messages::UM_SHARE_COUNT, port.shareCount, port.portId);
}

std::unique_ptr<MidiConnection> OutputPort::openConnection(int portId) {
    if (portId == PortState::kMapperPortId) {
        return drivers_.mapper != nullptr ? drivers_.mapper->open(kMapperName, 0) : nullptr;
    }
    if (portId >= 0 && portId < static_cast<int>(devices_.size())) {
        const Device& device = devices_[static_cast<std::size_t>(portId)];
        // One copy per device opens it; the others find it busy and borrow that copy's port,
        // so that the device hears one MIDI clock, whatever the driver.
        std::shared_ptr<DeviceClaim> claim = claimDevice(device.name);
        if (claim == nullptr) {
            return nullptr;
        }
        std::unique_ptr<MidiConnection> connection =
            device.driver->open(device.name, device.occurrence);
        if (connection == nullptr) {
            return nullptr;
        }
        return std::make_unique<ClaimedConnection>(std::move(connection), std::move(claim));
    }
    return nullptr;
}

std::shared_ptr<DeviceClaim> OutputPort::claimDevice(const std::string& name) {
    if (relayDirectory_.empty()) {
        // Without lending no other copy could borrow: each opens its own.
        return DeviceClaim::waived();
    }
    std::erase_if(claims_, [](const auto& held) { return held.second.expired(); });
    for (const auto& [heldName, claim] : claims_) {
        if (heldName == name) {
            // This copy's own, kept for its borrowers after it went elsewhere: open again.
            return claim.lock();
        }
    }
    std::shared_ptr<DeviceClaim> claim = DeviceClaim::take(relayDirectory_, name);
    if (claim != nullptr) {
        claims_.emplace_back(name, claim);
    }
    return claim;
}

void OutputPort::useOwnConnection(std::unique_ptr<MidiConnection> connection) {
    withdrawFrameTimeline();
    std::shared_ptr<MidiConnection> old;
    std::unique_ptr<PortRelayLink> oldLink;
    {
        std::lock_guard guard(portLock_);
        old = std::move(own_);
        oldLink = std::move(borrowed_);
        own_ = std::move(connection);
        setTargetLocked(own_.get());
    }
    announceFrameTimeline();
    setup_.port.handle = instanceId_;
    heldPortId_ = setup_.port.portId;
}

void OutputPort::dropHandle(bool closeOwn) {
    withdrawFrameTimeline();
    std::shared_ptr<MidiConnection> old;
    std::unique_ptr<PortRelayLink> oldLink;
    std::vector<std::shared_ptr<MidiConnection>> detached;
    {
        std::lock_guard guard(portLock_);
        setTargetLocked(nullptr);
        if (closeOwn && relay_ != nullptr && own_ != nullptr) {
            std::vector<int> borrowers;
            detached = relay_->detach(own_.get(), borrowers);
        }
        old = std::move(own_);
        oldLink = std::move(borrowed_);
    }
    // Closed here, outside the lock, unless borrowers still play through it.
    setup_.port.handle = 0;
}

void OutputPort::withdrawFrameTimeline() {
    if (announcedTimeline_ != nullptr) {
        announcedTimeline_ = nullptr;
        if (timelineListener_) {
            timelineListener_(nullptr);
        }
    }
}

void OutputPort::announceFrameTimeline() {
    StepTimeline* timeline = frameTimeline();
    if (timeline != announcedTimeline_) {
        announcedTimeline_ = timeline;
        if (timelineListener_) {
            timelineListener_(timeline);
        }
    }
}

void OutputPort::setTargetLocked(MidiConnection* target) {
    target_ = target;
    std::strncpy(logPortName_, setup_.port.portName.c_str(), sizeof logPortName_ - 1);
    logPortName_[sizeof logPortName_ - 1] = '\0';
}

void OutputPort::openFailedLater(const MidiConnection* connection, const std::string& reason) {
    PortState& port = setup_.port;
    // A report about a connection since closed or replaced changes nothing.
    if (connection == nullptr || own_.get() != connection || port.handle != instanceId_ ||
        port.portId != PortState::kMapperPortId) {
        return;
    }
    dropHandle(true);
    setup_.portOpenedHere = 0;
    broadcast(Messages::UM_PORT_BUSY, 0, port.portId);
    if (!lateFailureShown_) {
        lateFailureShown_ = true;
        showNote(reason);
    }
}

void OutputPort::showNote(const std::string& text) {
    if (showNote_) {
        showNote_(text);
    } else {
        std::fprintf(stderr, "NOTE! %s\n", text.c_str());
    }
}

int OutputPort::broadcast(int message, std::intptr_t wParam, std::intptr_t lParam) {
    return broadcast_ ? broadcast_(message, wParam, lParam) : 0;
}
