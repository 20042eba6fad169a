#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _snd_seq;
struct snd_seq_event;

class MidiInputSink;

// The program's ALSA sequencer input: a client named after the program with one port "in"
// that other clients (a patchbay, a session manager) may connect to, and that subscribes a
// chosen source port by its name. Every event that arrives is stamped by the sequencer with
// the real time of a queue of our own, turned into MIDI bytes and handed to the sink on a
// thread of the input's own, with the stamp on CLOCK_MONOTONIC.
//
// The source is followed by name, as the output follows its target: when it goes away and a
// port of the same name appears again, that port is subscribed again (the System announce
// port tells; a look once a second catches a port renamed into the name).
//
// A machine without a sequencer has no ALSA input: open() fails quietly, and the rest does
// nothing. Every member but the sink call runs on the window thread; each may block briefly.
class AlsaMidiInput {
public:
    explicit AlsaMidiInput(MidiInputSink* sink);
    AlsaMidiInput(const AlsaMidiInput&) = delete;
    AlsaMidiInput& operator=(const AlsaMidiInput&) = delete;
    // Stops the input thread and closes the client.
    ~AlsaMidiInput();

    // Creates the client, its port and queue, and starts the input thread. False (and
    // nothing open) without a sequencer. Once only.
    bool open();
    bool isOpen() const { return seq_ != nullptr; }

    // Subscribes the index-th port (0: the first) named `name` as listSources() names it, in
    // place of the one before; "" subscribes none. Followed by name from now on.
    void setSource(const std::string& name, int occurrence = 0);
    // Whether the chosen source is there and subscribed to the port now.
    bool sourceConnected() const { return connected_.load(std::memory_order_acquire); }

    // Every port of another client that others may read from and subscribe to, as
    // "client name:port name (ALSA)", the way the output list names ALSA ports. The ports of
    // this process's own clients are left out. Empty without a sequencer.
    static std::vector<std::string> listSources();

    // The MIDI bytes of one sequencer event (up to 3, into bytes); 0 for the events that
    // are not passed on (System Exclusive, announcements, anything without MIDI meaning).
    static int decode(const snd_seq_event& event, std::uint8_t* bytes);

    // How often the input thread looks again for a missing source.
    static constexpr int kLookPeriodMs = 1000;

private:
    struct Address {
        int client = -1;
        int port = -1;
        bool operator==(const Address&) const = default;
    };

    bool createPorts();
    // The input thread.
    void run();
    void handle(const snd_seq_event& event);
    void announced(const snd_seq_event& event);
    // Subscribes the chosen source when it is there and not subscribed yet; mutex_ held.
    void followSourceLocked();
    void unsubscribeLocked();
    bool subscriptionExists(const Address& source) const;
    // Queue real time to engine time: see measureOffset().
    void measureOffset();
    bool isStamped(const snd_seq_event& event) const;
    static std::int64_t stampUs(const snd_seq_event& event);
    std::int64_t engineTimeUs(const snd_seq_event& event) const;

    MidiInputSink* sink_;
    _snd_seq* seq_ = nullptr;
    int inPort_ = -1;
    int announcePort_ = -1;
    int queue_ = -1;
    int stopFd_ = -1;
    std::thread thread_;

    // The choice of source and the port subscribed for it; the window thread sets them,
    // the input thread follows the source with them.
    std::mutex mutex_;
    std::string source_;
    int occurrence_ = 0;
    Address subscribed_;
    std::atomic<bool> connected_{false};

    // Engine time minus queue real time, in microseconds, as last measured; input thread only.
    std::int64_t offsetUs_ = 0;
    bool offsetKnown_ = false;
};
