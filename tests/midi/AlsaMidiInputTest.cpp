// The ALSA input's decoding of sequencer events, on events made up here the way the
// sequencer delivers them (the output's encoder makes most of them), and the input on a
// machine without a sequencer.

#include "midi/AlsaMidiInput.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "MidiInputTestSupport.h"
#include "midi/AlsaSeqDriver.h"

namespace {

using inputtest::Bytes;

Bytes decoded(const snd_seq_event_t& event) {
    std::uint8_t bytes[3] = {};
    const int length = AlsaMidiInput::decode(event, bytes);
    return Bytes(bytes, bytes + length);
}

snd_seq_event_t eventOfType(snd_seq_event_type_t type, int value = 0) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    event.type = type;
    event.data.control.value = value;
    return event;
}

// What the output turns into an event comes back as the same bytes, on every channel.
TEST(AlsaInputDecoding, GivesBackTheBytesOfEveryMessageTheOutputEncodes) {
    const std::vector<Bytes> messages{{0x90, 0x3C, 0x64},
                                      {0x8F, 0x3C, 0x40},
                                      {0x93, 0x7F, 0x00},
                                      {0xA1, 0x40, 0x7F},
                                      {0xB2, 0x07, 0x7F},
                                      {0xCF, 0x05},
                                      {0xD4, 0x33},
                                      {0xE5, 0x00, 0x00},
                                      {0xE6, 0x7F, 0x7F},
                                      {0xE7, 0x00, 0x40},
                                      {0xF8},
                                      {0xFA},
                                      {0xFB},
                                      {0xFC}};
    for (const Bytes& message : messages) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const std::uint8_t wire[3] = {message[0], message.size() > 1 ? message[1] : std::uint8_t{0},
                                      message.size() > 2 ? message[2] : std::uint8_t{0}};
        ASSERT_TRUE(AlsaSeqDriver::encode(wire, event));
        EXPECT_EQ(decoded(event), message);
    }
}

// The song position goes out as its 14-bit value, least significant bits first; values out
// of range (a source's mistake) are held to it.
TEST(AlsaInputDecoding, SongPositionAndPitchBendKeepTheirFourteenBits) {
    EXPECT_EQ(decoded(eventOfType(SND_SEQ_EVENT_SONGPOS, 0x1234)), (Bytes{0xF2, 0x34, 0x24}));
    EXPECT_EQ(decoded(eventOfType(SND_SEQ_EVENT_SONGPOS, 0)), (Bytes{0xF2, 0x00, 0x00}));
    EXPECT_EQ(decoded(eventOfType(SND_SEQ_EVENT_SONGPOS, 40000)), (Bytes{0xF2, 0x7F, 0x7F}));
    snd_seq_event_t bend = eventOfType(SND_SEQ_EVENT_PITCHBEND, -9000);
    bend.data.control.channel = 9;
    EXPECT_EQ(decoded(bend), (Bytes{0xE9, 0x00, 0x00}));
}

// System Exclusive, active sensing, announcements and the like carry nothing for the sink.
TEST(AlsaInputDecoding, PassesOnNothingForEventsWithoutAUse) {
    std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_sysex(&event, sizeof sysex, sysex);
    EXPECT_EQ(decoded(event), Bytes{});
    for (snd_seq_event_type_t type :
         {SND_SEQ_EVENT_SENSING, SND_SEQ_EVENT_RESET, SND_SEQ_EVENT_PORT_START,
          SND_SEQ_EVENT_CLIENT_EXIT, SND_SEQ_EVENT_PORT_SUBSCRIBED, SND_SEQ_EVENT_ECHO,
          SND_SEQ_EVENT_TEMPO, SND_SEQ_EVENT_NONE}) {
        EXPECT_EQ(decoded(eventOfType(type, 5)), Bytes{}) << int{type};
    }
}

// Without a sequencer there is no ALSA input, and nothing complains.
TEST(AlsaInputDecoding, WithoutASequencerOpensNothingQuietly) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has a sequencer";
    }
    AlsaMidiInput input(nullptr);
    EXPECT_FALSE(input.open());
    input.setSource("Midi Through:Midi Through Port-0 (ALSA)");
    EXPECT_FALSE(input.sourceConnected());
    EXPECT_TRUE(AlsaMidiInput::listSources().empty());
}

}  // namespace
