#include "MidiExport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "core/MidiOut.h"
#include "core/Player.h"
#include "core/PlayerHost.h"
#include "core/Setup.h"
#include "core/StepTimer.h"

namespace {

using TimedMessage = MidiExport::TimedMessage;

// Collects what the Player sends, stamped with the tick of the step being played.
class RecordingMidiOut : public MidiOut {
public:
    void sendShort(int status, int data1, int data2) override {
        if (messages.size() >= MidiExport::kMaxMessages) {
            overflowed = true;
            return;
        }
        messages.push_back({tick, status & 0xFF, data1 & 0xFF, data2 & 0xFF});
    }
    void enumeratePorts() override {}
    void handlePortMessage(int, std::intptr_t, std::intptr_t) override {}

    std::int64_t tick = 0;
    std::vector<TimedMessage> messages;
    bool overflowed = false;
};

// No clock: the export steps the Player itself.
class IdleTimer : public StepTimer {
public:
    void startTimer() override {}
    void stopTimer() override {}
    void wake() override {}
    std::int64_t nowUs() const override { return 0; }
    std::int32_t cyclesPerMs() const override { return 0; }
};

// No window and no other instances: everything the Player shows or broadcasts goes nowhere.
class SilentHost : public PlayerHost {
public:
    void postMessage(int, std::intptr_t, std::intptr_t) override {}
    int broadcastToInstances(int, std::intptr_t, std::intptr_t) override { return 0; }
    void setStepColumnLit(int, bool) override {}
    void markPlayingMeasure(int) override {}
    void showPlayReleased() override {}
    void showStatus(const std::string&) override {}
};

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void putVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        out.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    }
    out.push_back(groups[0]);
}

// Program change and channel pressure carry one data byte, the other channel messages two.
int dataBytesOf(int status) {
    const int kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

std::uint8_t dataByte(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 127));
}

bool isNoteOn(const TimedMessage& message) {
    return (message.status & 0xF0) == 0x90 && dataByte(message.data2) != 0;
}

bool isNoteOff(const TimedMessage& message) {
    return (message.status & 0xF0) == 0x80 ||
           ((message.status & 0xF0) == 0x90 && dataByte(message.data2) == 0);
}

// Stop ends what still sounds with All Notes Off, which players and sequencers reading a file
// often ignore. Each note still on at the end gets its own Note Off (a note-on of velocity 0,
// as the Player sends it), at stop's tick and ahead of stop's messages.
std::vector<TimedMessage> withClosingNoteOffs(const std::vector<TimedMessage>& messages,
                                              std::int64_t stopTick) {
    // Notes struck and not yet ended, per channel and key; a key struck twice needs two offs.
    std::array<std::array<int, 128>, 16> sounding{};
    std::vector<TimedMessage> result;
    result.reserve(messages.size() + 64);
    std::size_t i = 0;
    for (; i < messages.size() && messages[i].tick < stopTick; ++i) {
        const TimedMessage& message = messages[i];
        int& count =
            sounding[static_cast<std::size_t>(message.status & 0x0F)][dataByte(message.data1)];
        if (isNoteOn(message)) {
            ++count;
        } else if (isNoteOff(message) && count > 0) {
            --count;
        }
        result.push_back(message);
    }
    for (int channel = 0; channel < 16; ++channel) {
        for (int key = 0; key < 128; ++key) {
            for (int n = sounding[static_cast<std::size_t>(channel)][static_cast<std::size_t>(key)];
                 n > 0; --n) {
                result.push_back({stopTick, 0x90 | channel, key, 0});
            }
        }
    }
    result.insert(result.end(), messages.begin() + static_cast<std::ptrdiff_t>(i), messages.end());
    return result;
}

}  // namespace

std::uint32_t MidiExport::microsecondsPerQuarter(double bpm) {
    constexpr double kSlowest = 0xFFFFFF;  // the event's 24 bits
    if (!(bpm > 0.0) || !std::isfinite(bpm)) {
        return 0xFFFFFF;
    }
    const double value = std::round(60'000'000.0 / bpm);
    if (value < 1.0) {
        return 1;
    }
    return value > kSlowest ? 0xFFFFFF : static_cast<std::uint32_t>(value);
}

std::vector<MidiExport::TimedMessage> MidiExport::record(Setup& setup, int stepCount) {
    if (stepCount < 1 || stepCount > kMaxSteps) {
        throw std::invalid_argument("the number of steps must lie between 1 and " +
                                    std::to_string(kMaxSteps));
    }
    RecordingMidiOut out;
    IdleTimer timer;
    SilentHost host;
    {
        Player player;
        player.init(host, setup, timer, out);
        out.tick = 0;
        player.start();
        for (int step = 1; step < stepCount && !out.overflowed; ++step) {
            out.tick = static_cast<std::int64_t>(step) * kTicksPerStep;
            player.playStep();
        }
        out.tick = static_cast<std::int64_t>(stepCount) * kTicksPerStep;
        player.stop();
    }
    if (out.overflowed) {
        throw std::length_error("the playback sends more than " + std::to_string(kMaxMessages) +
                                " MIDI messages");
    }
    return std::move(out.messages);
}

int MidiExport::chainPassMeasures(const Setup& setup) {
    std::array<bool, Setup::kMeasureCount> visited{};
    int measures = 0;
    int index = std::clamp<int>(setup.selectedMeasure, 0, Setup::kMeasureCount - 1);
    while (!visited[static_cast<std::size_t>(index)] && measures < kMaxChainMeasures) {
        visited[static_cast<std::size_t>(index)] = true;
        const Measure& measure = setup.measures[static_cast<std::size_t>(index)];
        // Playback moves on after `repeats` passes, and after one when a file holds less.
        measures += std::max<int>(1, measure.repeats);
        index = std::clamp<int>(measure.next, 0, Setup::kMeasureCount - 1);
    }
    return std::min(measures, kMaxChainMeasures);
}

int MidiExport::chainPassSteps(const Setup& setup) {
    return chainPassMeasures(setup) *
           std::clamp<int>(setup.stepsPerMeasure, 1, Measure::kStepCount);
}

std::vector<std::uint8_t> MidiExport::render(Setup& setup, int stepCount) {
    const std::int64_t stopTick = static_cast<std::int64_t>(stepCount) * kTicksPerStep;
    const std::vector<TimedMessage> messages =
        withClosingNoteOffs(record(setup, stepCount), stopTick);
    std::vector<std::uint8_t> track;
    track.reserve(messages.size() * 4 + 16);
    // Tempo first, at tick 0.
    track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03});
    putBigEndian(track, microsecondsPerQuarter(setup.bpm), 3);
    std::int64_t lastTick = 0;
    for (const TimedMessage& message : messages) {
        if (message.status < 0x80 || message.status >= 0xF0) {
            continue;  // not a channel message; nothing the Player sends
        }
        putVariableLength(track, static_cast<std::uint32_t>(message.tick - lastTick));
        lastTick = message.tick;
        track.push_back(static_cast<std::uint8_t>(message.status));
        // A data byte with its top bit set would read as a status byte. Values that large
        // come only from out-of-range step values (a velocity of 200, say): play them as the
        // loudest / highest value there is.
        track.push_back(dataByte(message.data1));
        if (dataBytesOf(message.status) == 2) {
            track.push_back(dataByte(message.data2));
        }
    }
    putVariableLength(track, static_cast<std::uint32_t>(stopTick - lastTick));
    track.insert(track.end(), {0xFF, 0x2F, 0x00});

    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd'};
    putBigEndian(file, 6, 4);
    putBigEndian(file, 0, 2);  // format 0
    putBigEndian(file, 1, 2);  // one track
    putBigEndian(file, kTicksPerQuarter, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    putBigEndian(file, static_cast<std::uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}
