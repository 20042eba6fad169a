// The ALSA MIDI input against a real kernel sequencer (run in the test guest): a source
// client of the test's own is subscribed by name, its events arrive with their times in the
// engine's time base, it is subscribed again when it comes back, and a flood of 10,000
// events a second loses none of the clocks among them.

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "../midi/MidiInputTestSupport.h"
#include "midi/AlsaMidiInput.h"
#include "midi/AlsaSeqDriver.h"
#include "midi/ClientNames.h"
#include "midi/ClockCalibration.h"
#include "midi/MidiInput.h"

namespace {

using inputtest::Bytes;
using inputtest::RecordingSink;

constexpr const char* kSource = "clock source:out (ALSA)";

// A client "clock source" with one port "out" that others read from.
class Source {
public:
    bool open() {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
            return false;
        }
        snd_seq_set_client_name(seq_, "clock source");
        port_ = snd_seq_create_simple_port(seq_, "out",
                                           SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        return port_ >= 0;
    }
    void close() {
        if (seq_ != nullptr) {
            snd_seq_close(seq_);
            seq_ = nullptr;
        }
    }
    ~Source() { close(); }

    void send(snd_seq_event_t event) {
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_event_output_direct(seq_, &event);
    }
    void send(snd_seq_event_type_t type, int value = 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        event.type = type;
        event.data.control.value = value;
        send(event);
    }
    void noteOn(int note) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_noteon(&event, 0, note, 100);
        send(event);
    }

private:
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
};

template <typename Done>
bool waitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::int64_t nowUs() {
    return ClockCalibration::monotonicNs() / 1000;
}

TEST(AlsaInputOnARealSequencer, FollowsItsSourceByNameAndTimesWhatArrives) {
    Source source;
    ASSERT_TRUE(source.open());
    RecordingSink sink;
    MidiInput input;
    input.setSink(&sink);
    input.open();
    ASSERT_TRUE(input.alsa()->isOpen());
    // Our own ports are neither sources nor outputs to offer.
    EXPECT_EQ(AlsaSeqDriver().listDevices(),
              std::vector<std::string>{"Midi Through:Midi Through Port-0 (ALSA)"});
    auto own = AlsaSeqDriver().open("Midi Through:Midi Through Port-0 (ALSA)", 0);
    ASSERT_NE(own, nullptr);
    const std::vector<std::string> sources = MidiInput::listSources();
    EXPECT_EQ(sources,
              (std::vector<std::string>{"Midi Through:Midi Through Port-0 (ALSA)", kSource}));

    input.setSource(kSource);
    ASSERT_TRUE(input.sourceConnected());
    const std::int64_t before = nowUs();
    source.send(SND_SEQ_EVENT_START);
    source.send(SND_SEQ_EVENT_CLOCK);
    std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_sysex(&event, sizeof sysex, sysex);
    source.send(event);
    source.send(SND_SEQ_EVENT_SENSING);
    source.send(SND_SEQ_EVENT_SONGPOS, 0x1234);
    source.noteOn(60);
    ASSERT_TRUE(waitFor([&] { return sink.count() >= 4; }));
    const std::int64_t after = nowUs();
    EXPECT_EQ(sink.all(),
              (std::vector<Bytes>{{0xFA}, {0xF8}, {0xF2, 0x34, 0x24}, {0x90, 60, 100}}));
    // Stamped between sending and receiving: a millisecond of margin for the offset, which
    // is measured, not known.
    for (int i = 0; i < sink.count(); ++i) {
        EXPECT_GE(sink.at(i).timeUs, before - 1000) << i;
        EXPECT_LE(sink.at(i).timeUs, after + 1000) << i;
        EXPECT_GE(sink.at(i).timeUs, sink.at(i > 0 ? i - 1 : 0).timeUs) << i;
    }

    // The source goes away and comes back under its name.
    source.close();
    ASSERT_TRUE(waitFor([&] { return !input.sourceConnected(); }));
    ASSERT_TRUE(source.open());
    ASSERT_TRUE(waitFor([&] { return input.sourceConnected(); }));

    // 10,000 events a second for a second, one clock in a hundred.
    const int first = sink.count();
    for (int burst = 0; burst < 100; ++burst) {
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
        for (int i = 0; i < 99; ++i) {
            source.noteOn(i);
        }
        source.send(SND_SEQ_EVENT_CLOCK);
        std::this_thread::sleep_until(due);
    }
    ASSERT_TRUE(waitFor([&] { return sink.count() >= first + 10000; })) << sink.count() - first;
    int clocks = 0;
    for (int i = first; i < sink.count(); ++i) {
        clocks += sink.at(i).data() == Bytes{0xF8} ? 1 : 0;
    }
    EXPECT_EQ(clocks, 100);
}

}  // namespace
