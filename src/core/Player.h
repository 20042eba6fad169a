#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "EngineLock.h"
#include "FixedPeriodTimeline.h"
#include "SoundingNote.h"
#include "StepTimeline.h"

class MidiOut;
class PlayerHost;
class Setup;
class StepTimer;
class StepTimeline;
class Step;

// The playback engine: plays the playing measure step by step to the output port, keeps the
// sounding notes, advances through steps, repeats and chained measures, and tells the window
// what to show. Owned by the main window; the step routine runs on the clock thread.
//
// Every public operation takes the engine lock itself. Edits of the playing data made
// elsewhere must hold engineLock() while they change it.
class Player {
public:
    // Length of one step (a sixteenth note) in milliseconds, with the program's historical
    // single-precision constants: 15000 / bpm to within a few parts in 10^8.
    static double periodForBpm(double bpm);

    Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    virtual ~Player();

    // Once, from the main window's start-up: stores the collaborators, lists and opens the
    // ports, and asks every running instance to reopen its port.
    void init(PlayerHost& host, Setup& setup, StepTimer& clock, MidiOut& port);
    // The timeline that says when each step is due; nullptr: the fixed-period schedule. A pass
    // already playing goes on from its last step on the new timeline. The timeline must stay
    // alive until it is replaced. Window thread.
    void setTimeline(StepTimeline* timeline);

    // Starting and stopping. alone: for this copy only, as Ctrl+Space asks; a shared clock is
    // then neither started nor stopped for the others, and the others are not told. A pass begun
    // alone also ends alone. The engine never asks the keyboard what the user meant.
    void start(bool alone = false);
    void stop(bool alone = false);
    void toggle(bool alone = false);
    // Whether the current pass was begun for this copy only.
    bool passAlone();
    void playStep();
    // The clock's tick at time nowUs (same base as StepTimer::nowUs): plays at most one step
    // when one is due. Returns whether a step was played. Clock thread.
    bool tick(std::int64_t nowUs);
    // When the next step is due, in StepTimer::nowUs time; INT64_MAX when none will be. While
    // running, the timeline's answer for the next step.
    std::int64_t nextDueUs();

    // MIDI clock on the output port: Start with the first step, 6 Timing Clocks per step
    // (24 per quarter note) at sixths of each step's span on the timeline, Stop before the All
    // Notes Off of a stop. Taken up by the next pass when changed during one.
    void setMidiClock(bool on);
    bool midiClock();

    void onTempoChanged();
    // keepPlaying: the user edits another measure while the playing one goes on (Ctrl held).
    void onMeasureSelected(int index, bool keepPlaying = false);
    void jumpToMeasure(int index);
    void handleMessage(int message, std::intptr_t wParam, std::intptr_t lParam);
    // All Notes Off on every channel.
    void killAllSound();
    // Every end of playback on a port, the pass going on elsewhere or not: Stop for MIDI clock
    // followers (when clock went out), then All Notes Off on every channel. A pass that goes on
    // tells the followers of its next port where it is (Song Position Pointer, Continue) with
    // its next step. Engine lock held by the caller.
    void silencePortLocked();

    bool isRunning() const { return running_.load(std::memory_order_acquire); }
    EngineLock& engineLock() { return engineLock_; }
    // The sounding notes as "note:countdown  " pairs, as last refreshed by the step routine.
    std::string statusText();
    std::vector<SoundingNote> soundingNotes();
    double period();

private:
    static constexpr std::size_t kMaxSoundingNotes = 127;  // offsets are clamped to -59..67

    void playStepLocked();
    // Plays the pass's next step (due at dueUs) with its clock ticks, the ones missed before
    // it first.
    void playDueStepLocked(std::int64_t dueUs, std::int64_t nowUs);
    // When the pass's step is to be handed to the port: its due time, early by the port's
    // latency on a shared clock so that the sound lands on the shared grid.
    std::int64_t handOverUsLocked(std::int64_t step);
    // How early that is: the port's latency on a shared clock, else 0.
    std::int64_t leadUsLocked();
    // When what is due at dueUs on tick `tick` of the pass may go to the port: at its due
    // time, or ahead of it by the port's latency and a margin once the timeline has settled that
    // tick's time (heard it, or keeps it in frames) and the port places messages in time.
    std::int64_t releaseUsLocked(std::int64_t dueUs, std::int64_t tick);
    // On a shared clock: passes over the steps that are too late to play, keeping the measure
    // position, so that the pass goes on at the step of the clock's phase without a burst.
    void skipLateStepsLocked(std::int64_t nowUs);
    // MIDI clock for a pass that begins, or goes on after a jump: Start at the song's start,
    // else Song Position Pointer and Continue (Stop first while followers run).
    void startClockLocked(std::int64_t dueUs, std::int64_t nowUs);
    // Sends the clock ticks due by nowUs that come before the next step.
    void sendDueTicksLocked(std::int64_t nowUs);
    // When clock tick `tick` of the pass is due (6 per step); kNever when it will not come.
    std::int64_t tickDueUsLocked(std::int64_t tick);
    void sendClockLocked(int status, std::int64_t dueUs, std::int64_t nowUs);
    void releaseNotesLocked(bool stepIsActive);
    void strikeNotesLocked(const Step& step, bool stepIsActive);
    void recordSoundingNotesLocked(const Step& step);
    void advanceLocked();
    // Begins a pass on the timeline (alone: this copy only); returns step 0's due time.
    std::int64_t restartLocked(bool alone);
    void haltLocked();
    void refreshStatusLocked();
    void sendOnChannel(int kind, int data1, int data2);
    // The due time of what sendOnChannel sends, as lateness at the time of sending.
    std::int64_t lateUsLocked() const;
    void updatePositionDisplay(bool show);
    void markPlaying(int index);

    PlayerHost* host_ = nullptr;
    Setup* setup_ = nullptr;
    StepTimer* clock_ = nullptr;
    MidiOut* port_ = nullptr;

    EngineLock engineLock_;
    FixedPeriodTimeline fixedTimeline_;
    StepTimeline* timeline_ = &fixedTimeline_;
    std::atomic<bool> running_{false};
    double period_ = 0.0;
    // The number of the pass's step to play next.
    std::int64_t nextStep_ = 0;
    // MIDI clock: wanted, sending in this pass (Start went out), and the pass's next tick.
    bool midiClock_ = false;
    bool clockRunning_ = false;
    std::int64_t nextTick_ = 0;
    // Followers must be told the position again with the next step (a jump, a new port).
    bool clockResync_ = false;
    // The current pass was begun for this copy only.
    bool passAlone_ = false;
    // How early steps are handed over on a shared clock: the port's latency, read per step.
    std::int64_t leadUs_ = 0;
    // Due time of the messages being sent by the step routine; kNever: due now.
    std::int64_t sendDueUs_ = StepTimeline::kNever;
    std::vector<SoundingNote> soundingNotes_;

    std::array<char, 4096> statusBuffer_{};

    // Position display, window thread only.
    int litColumn_ = -1;
    std::int32_t updateCounter_ = 0;
};
