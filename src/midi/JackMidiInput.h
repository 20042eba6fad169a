#pragma once

#include <jack/jack.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiInputParser.h"

class MidiInputSink;

// The program's JACK MIDI input: a JACK client of its own, named ClientNames'
// jackClientName(" input") ("Glimmerstave input"), with one MIDI input port "in". Others may
// connect to it; it connects a chosen source port to it by the source's full JACK name and
// follows that name: a source that goes away and comes back is connected again.
//
// On JACK's process thread it reads the port's events, parses them (one parser, so running
// status carries from one event to the next) and hands each message to the sink with the time
// of its frame on CLOCK_MONOTONIC, as JackConnection converts frames.
//
// It never starts a JACK server. While none answers, a watcher thread of its own asks about
// once a second; when the server goes away it closes the client and asks again, and opens
// the client and port anew (and connects the source) when one answers.
//
// Every member runs on the window thread; each may block briefly.
class JackMidiInput {
public:
    static constexpr const char* kPortName = "in";

    explicit JackMidiInput(MidiInputSink* sink);
    JackMidiInput(const JackMidiInput&) = delete;
    JackMidiInput& operator=(const JackMidiInput&) = delete;
    // Stops the watcher and closes the client.
    ~JackMidiInput();

    // Opens the client now when a server answers, and starts the watcher either way. Once.
    void open();

    // Connects the port "client:port" (a JACK MIDI output) to ours in place of the one
    // before; "" connects none. Followed by name from now on. Once open, returns when the
    // watcher has acted on it (or after kApplyWaitMs on a stalled server).
    void setSource(const std::string& port);
    // Whether the chosen source exists and is connected to our port now.
    bool sourceConnected() const { return connected_.load(std::memory_order_acquire); }

    // Whether the client is open on a server that answers.
    bool clientOpen() const { return clientOpen_.load(std::memory_order_acquire); }
    // How many times the client was opened (1 after the first, one more per server return).
    int opens() const { return opens_.load(std::memory_order_acquire); }

    // Every MIDI output port of the server's other clients, "client:port (JACK)" the way the
    // output list names JACK ports; the ports of this process's own clients are left out.
    // Empty when no server answers.
    static std::vector<std::string> listSources();

    // How long setSource() waits for the watcher.
    static constexpr int kApplyWaitMs = 2000;

private:
    // The watcher thread.
    void watch();
    bool openClient();
    void closeClient();
    // Connects the chosen source when it is there and not connected; drops the one before.
    void followSource();

    // JACK's process thread.
    static int process(jack_nframes_t nframes, void* arg);
    void read(jack_nframes_t nframes);
    // JACK's notification thread: ports came, went or were connected; the server went away.
    static void portRegistered(jack_port_id_t, int, void* arg);
    static void portConnected(jack_port_id_t, jack_port_id_t, int, void* arg);
    static void serverGone(void* arg);
    void wake();

    std::string clientName_;
    // Opened, closed and used by the watcher; the process thread uses port_ while the client
    // is active.
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    MidiInputParser parser_;  // process thread (and the watcher while no client is active)
    std::atomic<bool> resetParser_{false};

    std::atomic<bool> serverAlive_{false};
    std::atomic<bool> clientOpen_{false};
    std::atomic<bool> connected_{false};
    std::atomic<int> opens_{0};

    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::condition_variable applied_;
    std::string source_;           // mutex_: the choice
    std::uint64_t requested_ = 0;  // mutex_: counts the choices made
    std::uint64_t done_ = 0;       // mutex_: the last choice the watcher acted on
    bool changed_ = false;         // mutex_
    bool stopping_ = false;        // mutex_
    std::string connectedSource_;  // watcher only: the source our port was connected to
    std::thread watcher_;
};
