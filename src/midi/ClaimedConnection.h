#pragma once

#include <memory>

#include "midi/DeviceClaim.h"
#include "midi/MidiDriver.h"

// A device connection together with this copy's claim on the device: the claim lasts as long
// as the connection, lent to other copies or not. Made and owned by the output port; every
// call goes to the connection inside.
class ClaimedConnection : public MidiConnection {
public:
    ClaimedConnection(std::unique_ptr<MidiConnection> connection,
                      std::shared_ptr<DeviceClaim> claim)
        : connection_(std::move(connection)), claim_(std::move(claim)) {}
    // The connection closes (and drains) before the claim goes.
    ~ClaimedConnection() override { connection_.reset(); }

    bool send(const std::uint8_t* bytes) override { return connection_->send(bytes); }
    bool sendDue(const std::uint8_t* bytes, std::int64_t lateUs) override {
        return connection_->sendDue(bytes, lateUs);
    }
    bool sendAt(const std::uint8_t* bytes, std::int64_t dueUs, std::int64_t lateUs) override {
        return connection_->sendAt(bytes, dueUs, lateUs);
    }
    bool sendAtFrame(const std::uint8_t* bytes, std::uint32_t frame, std::int64_t dueUs,
                     std::int64_t lateUs) override {
        return connection_->sendAtFrame(bytes, frame, dueUs, lateUs);
    }
    std::int64_t latencyUs() const override { return connection_->latencyUs(); }
    StepTimeline* frameTimeline() override { return connection_->frameTimeline(); }

private:
    std::unique_ptr<MidiConnection> connection_;
    std::shared_ptr<DeviceClaim> claim_;
};
