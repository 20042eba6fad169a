#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/EngineLock.h"
#include "core/MidiOut.h"
#include "midi/MidiDriver.h"

class DeviceClaim;
class MidiLog;
class PortRelayLink;
class PortRelayServer;
class Setup;

// The one MIDI output port a running instance plays to: the port table of the setup's
// PortState, choosing a port by name, opening, releasing and reopening it, lending it to other
// running instances and borrowing theirs, and sending short messages. Owned by the main window
// beside the Player; everything but sendShort runs on the window thread.
//
// The handle in PortState names the instance whose connection the sends go to: this
// instance's id when it opened the port itself, the lender's id while it borrows, 0 for none.
// A borrower relays every message to the lender, which plays it on its own connection.
class OutputPort : public MidiOut {
public:
    // Room in the PortState table: 49 devices, then "MIDI Mapper". Devices beyond that are
    // left out of the table.
    static constexpr int kMaxDevices = 49;
    static constexpr const char* kMapperName = "MIDI Mapper";
    static constexpr const char* kNotFoundText = "Could not find port: ";
    // System messages start here: MIDI clock (Timing Clock, Start, Continue, Stop) and Song
    // Position Pointer among them.
    static constexpr std::uint8_t kFirstSystemByte = 0xF0;

    using Broadcast = std::function<int(int message, std::intptr_t wParam, std::intptr_t lParam)>;
    using ShowNote = std::function<void(const std::string& text)>;
    using Post = std::function<void(std::function<void()> call)>;
    // Told which frame schedule (frameTimeline()) the sends now go to, nullptr for none.
    using TimelineChange = std::function<void(StepTimeline* timeline)>;

    struct Drivers {
        std::vector<std::unique_ptr<MidiDriver>> devices;  // listed in this order
        std::unique_ptr<MidiDriver> mapper;                // "MIDI Mapper"; may be null
    };

    // The setup is the instance's own; it must outlive the port.
    OutputPort(Setup& setup, Drivers drivers);
    OutputPort(const OutputPort&) = delete;
    OutputPort& operator=(const OutputPort&) = delete;
    ~OutputPort() override;

    // Collaborators, set before enumeratePorts(). Without a broadcast function nothing is
    // posted; without a note function the "NOTE!" texts go to stderr.
    void setBroadcast(Broadcast broadcast);
    void setShowNote(ShowNote showNote);
    // Runs a call on the window thread later; how a driver's report from a thread of its own
    // (the synthesizer failing after its open returned) reaches the port. Without it such
    // reports are ignored.
    void setPost(Post post);
    // Whoever plays to the own connection's frame schedule: told before the connection that
    // owns it can close or stop taking the sends, and of the next one once the port is
    // settled; told at once of the present one. Called on the window thread, never under the
    // port lock nor from the destructor. Without it nobody is told.
    void setTimelineListener(TimelineChange listener);
    // The monitor every sent message is recorded in, or nullptr. Must outlive the port.
    void setMidiLog(MidiLog* log);
    // Lets other instances borrow this instance's port and this instance borrow theirs:
    // the relay sockets live in `directory` (the instance bus's private directory), and
    // `instanceId` is the handle value this instance lends. False when the relay socket
    // cannot be made; lending then stays off.
    bool enableLending(const std::string& directory, std::intptr_t instanceId);
    std::intptr_t instanceId() const { return instanceId_; }

    // MidiOut.
    void sendShort(int status, int data1, int data2) override;
    // MIDI clock and song position (system messages) go out only on a connection this
    // instance opened: a borrower's clock would double the lender's.
    void sendShortDue(int status, int data1, int data2, std::int64_t lateUs) override;
    void sendShortAt(int status, int data1, int data2, std::int64_t dueUs,
                     std::int64_t lateUs) override;
    // The own connection's schedule in its device's frames (JackConnection), nullptr while
    // borrowing, silent or on a device without one. Valid until the port changes.
    StepTimeline* frameTimeline();
    // The latency of the connection the sends go to; 0 while borrowing or silent.
    std::int64_t outputLatencyUs() override;
    void setDueTimeline(StepTimeline* timeline) override;
    void enumeratePorts() override;
    void handlePortMessage(int message, std::intptr_t wParam, std::intptr_t lParam) override;

    // Fills the port table from the drivers without opening anything.
    void refreshPortTable();
    // The last device of that name (or "MIDI Mapper"), then openPort(). A name not in the
    // table shows "Could not find port: " + name and the open fails.
    void selectPortByName(const std::string& name);
    // Opens portId. Whatever was still held is let go first, so a device that admits one
    // user can be opened again by its holder. Success: count 1, opened here. Failure:
    // UM_PORT_BUSY is broadcast and the port stays silent until someone lends one.
    void openPort();
    // One user less. Others still using it: the count is broadcast and this instance stops
    // sending (its connection stays open for its borrowers). Last user: closed. Without a
    // port held it does nothing, so the count never goes below 0 nor reaches the others.
    void releasePort();
    // Drops every send from now on until a port is opened or borrowed again; quick, so that
    // a caller holding the engine lock can end the engine's output before a slow release.
    void muteSends();
    // Closes and opens portId again; count and "opened here" stay. A lender's borrowers
    // follow to the new connection. A borrower tries its own open and keeps its lender when
    // that fails and the lender still answers; with the lender gone it falls silent.
    void reopenPort();

private:
    struct Device {
        MidiDriver* driver;
        std::string name;
        int occurrence;  // how many devices of this driver with this name come before it
    };

    std::unique_ptr<MidiConnection> openConnection(int portId);
    // This copy's claim on a device, nullptr while another copy holds it.
    std::shared_ptr<DeviceClaim> claimDevice(const std::string& name);
    // Makes `connection` this instance's own open port and points the sends at it; whatever
    // was held before is let go.
    void useOwnConnection(std::unique_ptr<MidiConnection> connection);
    // UM_PORT_HANDLE: borrow from the lender, unless it no longer answers.
    void takeLentHandle(std::intptr_t lender);
    // UM_PORT_HANDLE naming this instance: it lent this port, went elsewhere and came back
    // while a borrower kept the connection open. It plays on that connection again.
    void takeBackLentConnection();
    // Stops sending anywhere; when closeOwn, the own connection is closed even if other
    // instances still borrow it.
    void dropHandle(bool closeOwn);
    void setTargetLocked(MidiConnection* target);
    // The listener hears of the own connection's frame schedule: withdrawn before the
    // connection can go, announced once the sends go somewhere new.
    void withdrawFrameTimeline();
    void announceFrameTimeline();
    // The synthesizer behind `connection` could not be opened after all: when it is still
    // this instance's own port, the open fails as any failed open does, and the user is told
    // once per run why it is silent and what to do.
    void openFailedLater(const MidiConnection* connection, const std::string& reason);
    void showNote(const std::string& text);
    int broadcast(int message, std::intptr_t wParam, std::intptr_t lParam);

    Setup& setup_;
    Drivers drivers_;
    std::vector<Device> devices_;
    Broadcast broadcast_;
    ShowNote showNote_;
    Post post_;
    TimelineChange timelineListener_;
    StepTimeline* announcedTimeline_ = nullptr;
    bool lateFailureShown_ = false;
    std::intptr_t instanceId_;
    std::string relayDirectory_;

    // The port lock: the sends against every change of where they go.
    EngineLock portLock_;
    MidiConnection* target_ = nullptr;  // where sendShort goes; port lock
    std::atomic<StepTimeline*> dueTimeline_{nullptr};
    MidiLog* log_ = nullptr;                   // port lock
    char logPortName_[96] = {};                // port lock
    std::shared_ptr<MidiConnection> own_;      // this instance's open port
    std::unique_ptr<PortRelayLink> borrowed_;  // the link to a lender
    std::unique_ptr<PortRelayServer> relay_;   // serves borrowers of own_
    // The port the handle belongs to: a setup read from a file names its port before the old
    // one is released, and the release speaks of the port it lets go.
    int heldPortId_ = 0;
    // Own connections left to borrowers when this instance went to another port, by port id.
    std::vector<std::pair<int, std::weak_ptr<MidiConnection>>> lentOut_;
    // The devices this copy holds open, by name, lent out or not.
    std::vector<std::pair<std::string, std::weak_ptr<DeviceClaim>>> claims_;
};
