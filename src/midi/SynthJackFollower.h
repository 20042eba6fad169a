#pragma once

#include <jack/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Brings the built-in synthesizer's JACK audio output back when its server restarts.
// FluidSynth's JACK output goes silent for good when its server goes away, and says nothing.
// A JACK client of the follower's own, never activated, only listens for the server's
// shutdown; a thread of its own then closes the dead output and asks about once a second for
// a server of the same name, never starting one. When one answers, the output is opened again
// on the same synthesizer, so its sound font and channel programs stay. Owned by the
// synthesizer whose output it follows, which stops it before closing that output itself.
class SynthJackFollower {
public:
    // What becomes of the followed output. Both run on the follower's thread with
    // JackConnection::clientOpenMutex() held: FluidSynth opens and closes a JACK client.
    struct Output {
        std::function<void()> close;  // the output of a server that went away
        std::function<bool()> open;   // false when it did not open; tried again later
    };

    // How often a server that went away is looked for.
    static constexpr auto kLookPeriod = std::chrono::milliseconds(1000);

    // The output is open and playing to the server that runs now. Returns at once: the
    // listening client opens on the follower's thread.
    SynthJackFollower(std::string clientName, Output output);
    SynthJackFollower(const SynthJackFollower&) = delete;
    SynthJackFollower& operator=(const SynthJackFollower&) = delete;
    // Stops the thread and closes the listening client; the output stays as it is.
    ~SynthJackFollower();

private:
    void run();
    // Opens the listening client, and the output when it is closed. False without a server.
    bool findServer();
    // Closes the listening client and the output of a server that went away.
    void dropServer();
    // JACK's notification thread.
    static void serverGone(void* arg);

    const std::string clientName_;
    const Output output_;
    // The follower's thread only.
    jack_client_t* listener_ = nullptr;
    bool outputOpen_ = true;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool gone_ = false;      // mutex_
    bool stopping_ = false;  // mutex_
    std::thread thread_;
};
