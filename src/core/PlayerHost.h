#pragma once

#include <cstdint>
#include <string>

// The engine's way out to the window and to other running instances. The main window
// implements it; tests and the command-line exporter record or ignore it.
class PlayerHost {
public:
    virtual ~PlayerHost() = default;

    // Queues a message for the main window. Called from the clock thread with the engine lock
    // held: must not allocate, block or call back into the Player.
    virtual void postMessage(int message, std::intptr_t wParam, std::intptr_t lParam) = 0;

    // Everything below runs on the window thread only, never with the engine lock held.
    // Posts to every running instance, this one included; returns how many were reached.
    virtual int broadcastToInstances(int message, std::intptr_t wParam, std::intptr_t lParam) = 0;
    virtual void setStepColumnLit(int column, bool lit) = 0;
    // index -1: no loop selector is marked as playing.
    virtual void markPlayingMeasure(int index) = 0;
    virtual void showPlayReleased() = 0;
    virtual void showStatus(const std::string& text) = 0;
};
