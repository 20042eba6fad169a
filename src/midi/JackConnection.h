#pragma once

#include <jack/jack.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "midi/JackFrameTimeline.h"
#include "midi/MidiBytes.h"
#include "midi/MidiDriver.h"
#include "midi/SpscRing.h"

// One open JACK device: a JACK client of its own with one MIDI output port, connected to the
// target port by the target's name. Made by JackMidiDriver, owned by the output port.
//
// The connection follows its target: when the target port goes away, sends are refused (and
// so not logged) until a port of the same name appears again, which is then connected by a
// watcher thread of the connection's own. Messages sent before a fresh connection has taken
// effect in the server's graph are held, not lost; closing first delivers what is queued.
//
// It follows the server too: when the server goes away (or drops the client), sends are
// refused and the watcher asks about once a second for a server of the same name, never
// starting one; when one answers, it opens a client of the same name again, registers the
// port and connects the target as soon as that is back.
class JackConnection : public MidiConnection, private JackFrameTimeline::FrameClock {
public:
    // Takes the client (already opened under clientName, not yet active) and connects its
    // new port to `target`. Returns once the connection carries data, or after kLiveWaitMs
    // with the messages held until it does; nullptr (client closed) when the target cannot
    // be connected.
    static std::unique_ptr<JackConnection> open(jack_client_t* client, std::string clientName,
                                                const std::string& target);
    JackConnection(const JackConnection&) = delete;
    JackConnection& operator=(const JackConnection&) = delete;
    // Delivers what is queued (waits up to kDrainWaitMs), then closes the client.
    ~JackConnection() override;

    bool send(const std::uint8_t* bytes) override;
    // Frame-exact placement: the message goes out on the frame of its due time (now - lateUs
    // by JACK's clock, converted with jack_time_to_frames) plus one period, the constant
    // latency that send() has too. A message handed over up to one period late still lands on
    // its frame; later ones go out at the start of the next cycle.
    bool sendDue(const std::uint8_t* bytes, std::int64_t lateUs) override;
    // The same with the due time itself: a due time that the frame timeline gave out goes on
    // its exact frame, and messages of one due time share one frame whatever the moment each
    // is handed over.
    bool sendAt(const std::uint8_t* bytes, std::int64_t dueUs, std::int64_t lateUs) override;
    // On the frame given, one period later: the leading timeline keeps this server's frames.
    bool sendAtFrame(const std::uint8_t* bytes, std::uint32_t frame, std::int64_t dueUs,
                     std::int64_t lateUs) override;
    // The steps in this server's frames, for when nothing else leads.
    StepTimeline* frameTimeline() override { return &timeline_; }
    // One period plus the playback latency that JACK reports for the ports we are connected
    // to; kept up to date by JACK's latency and graph notifications. Real-time safe.
    std::int64_t latencyUs() const override { return latencyUs_.load(std::memory_order_acquire); }

    // For diagnosis: events that met a full MIDI buffer and went out a cycle later, and
    // events lost altogether (the queue was full, or a cycle's buffer took nothing at all).
    std::uint64_t deferredEvents() const { return deferred_.load(std::memory_order_relaxed); }
    std::uint64_t droppedEvents() const { return dropped_.load(std::memory_order_relaxed); }
    // Events that came after the cycle meant for them had run, and went out at the start of
    // the next one.
    std::uint64_t eventsAfterTheirCycle() const {
        return missedCycle_.load(std::memory_order_relaxed);
    }
    // Whether the server of the client answers; false from its shutdown notice until a
    // server is found again.
    bool serverPresent() const { return serverAlive_.load(std::memory_order_acquire); }
    // Whether the client of a server that went away has been closed, and the server is being
    // looked for.
    bool lookingForServer() const { return looking_.load(std::memory_order_acquire); }
    // How many times the client was opened again after its server had gone.
    int serverReturns() const { return serverReturns_.load(std::memory_order_acquire); }

    // How long opening waits for the connection to take effect, and closing for the queue to
    // drain. The server normally needs one or two periods for either; the margin is for a
    // busy machine on which cycles come late.
    static constexpr int kLiveWaitMs = 2000;
    static constexpr int kDrainWaitMs = 500;
    // How long opening retries a target port that is listed but cannot be connected yet
    // (JACK lists a client's ports before the client is active).
    static constexpr int kConnectWaitMs = 1000;

    // libjack does not take a client being opened on one thread while another is closed on
    // another; every open and close of ours holds this.
    static std::mutex& clientOpenMutex();

private:
    struct Event {
        jack_nframes_t frame = 0;
        std::uint8_t length = 0;
        std::uint8_t bytes[MidiBytes::kShortMessageSize] = {};
    };

    JackConnection(jack_client_t* client, std::string clientName, std::string target);
    // Registers the port on client_, sets the callbacks and activates it.
    bool attachClient();
    // Queues a message for the frame `frame` + one period; the client in use (ClientUse).
    bool queueLocked(const std::uint8_t* bytes, jack_nframes_t frame);
    // The frame of a due time in the engine's time base, by JACK's current estimate.
    jack_nframes_t estimateFrame(std::int64_t dueUs, std::int64_t lateUs);

    // Holds the client for a call from a sender or the timeline: never waits. False while the
    // client of a server that went away is being replaced.
    class ClientUse {
    public:
        explicit ClientUse(JackConnection& connection);
        ~ClientUse();
        ClientUse(const ClientUse&) = delete;
        ClientUse& operator=(const ClientUse&) = delete;
        explicit operator bool() const { return held_; }

    private:
        JackConnection& connection_;
        bool held_;
    };
    // Takes the client out of use and waits for calls under way to leave it.
    void withdrawClient();

    // JackFrameTimeline::FrameClock.
    bool sampleRate(double& rate) override;
    bool frameAt(std::int64_t timeUs, jack_nframes_t& frame) override;
    bool timeOf(jack_nframes_t frame, std::int64_t& timeUs) override;
    // Reports the period of added latency on the output port.
    static void reportLatency(jack_latency_callback_mode_t mode, void* arg);
    // Reads the playback latency of what the port is connected to into latencyUs_.
    void updateLatency();

    // JACK's process thread.
    static int process(jack_nframes_t nframes, void* arg);
    void deliver(void* buffer, jack_nframes_t nframes);
    void discardQueued();
    // JACK's notification thread: ports and the graph changed; the server went away.
    static void portRegistered(jack_port_id_t, int, void* arg);
    static int graphOrderChanged(void* arg);
    static void serverGone(void* arg);

    // The watcher thread: connects the target again whenever it reappears, and finds the
    // server again when it went away.
    void watch();
    void followTarget();
    // Closes the client of a server that went away, then tries once to open a fresh one.
    void findServerAgain();
    void wakeWatcher();
    void stopWatcher();
    // Waits until `done` holds or the time is up; false when the time ran out.
    template <typename Done>
    bool waitUntil(int milliseconds, Done done) const;

    // Taken by JACK's notification thread and by the watcher while it swaps the client of a
    // server that went away for a fresh one. Senders use ClientUse instead.
    std::mutex clientMutex_;
    std::atomic<bool> clientUsable_{true};
    std::atomic<int> clientUsers_{0};
    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    const std::string clientName_;
    const std::string target_;

    std::atomic<bool> serverAlive_{true};
    std::atomic<int> serverReturns_{0};
    std::atomic<bool> looking_{false};
    // Sends are taken while the target port exists and we are connected (or connecting) to it.
    std::atomic<bool> targetPresent_{false};
    // The process thread has seen the connection in the graph it runs; set and cleared there.
    std::atomic<bool> live_{false};
    // Counts the connections made to the target (0 before the first); lostGeneration_ is the
    // one the process thread saw go away, 0 while none is lost. Sends are refused while the
    // two are equal: the target has gone and has not been connected again.
    std::atomic<std::uint32_t> generation_{0};
    std::atomic<std::uint32_t> lostGeneration_{0};
    std::uint32_t liveGeneration_ = 0;  // the one last seen in the graph; process thread only
    // Process cycles completed, and how many of the last ones ended with nothing queued.
    std::atomic<std::uint32_t> cycles_{0};
    std::atomic<std::uint32_t> emptyCycles_{0};
    std::atomic<std::int64_t> latencyUs_{0};
    std::atomic<std::uint64_t> deferred_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> missedCycle_{0};
    SpscRing<Event, 1024> events_;
    JackFrameTimeline timeline_{*this};
    // The last due time placed by estimate and its frame: the sends of one output port come
    // one at a time (its lock), and those of one due time follow each other.
    std::int64_t lastDueUs_ = StepTimeline::kNever;
    jack_nframes_t lastDueFrame_ = 0;

    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool portsChanged_ = false;  // watchMutex_
    bool stopping_ = false;      // watchMutex_
    std::thread watcher_;
};
