#include <gtest/gtest.h>
#include <poll.h>

#include <array>
#include <cstdint>
#include <thread>
#include <vector>

#include "midi/MidiInputRouter.h"

namespace {

struct ClockRecorder : MidiInputSink {
    std::vector<std::uint8_t> statuses;
    void onMidiMessage(const std::uint8_t* bytes, int, std::int64_t) override {
        statuses.push_back(bytes[0]);
    }
};

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

std::vector<ChannelMessage> takeAll(MidiInputRouter& router) {
    router.acknowledgeWakeUp();
    std::vector<ChannelMessage> taken;
    ChannelMessage message;
    while (router.takeMessage(message)) {
        taken.push_back(message);
    }
    return taken;
}

void send(MidiInputRouter& router, std::array<std::uint8_t, 3> bytes, int length,
          std::int64_t at = 0) {
    router.onMidiMessage(bytes.data(), length, at);
}

}  // namespace

TEST(MidiInputRouter, ClockGoesOnAtOnceAndNotesWaitForTheWindowInOrder) {
    ClockRecorder clock;
    MidiInputRouter router(&clock);
    send(router, {0xFA}, 1);
    send(router, {0x91, 60, 100}, 3, 10);
    send(router, {0xF8}, 1);
    send(router, {0xC0, 5}, 2);         // a program change means nothing here
    send(router, {0xE0, 0, 64}, 3);     // nor does pitch bend
    send(router, {0xB0, 64, 127}, 3, 20);
    send(router, {0x91, 60, 0}, 3, 30);  // a Note On of velocity 0 ends the note

    EXPECT_EQ(clock.statuses, (std::vector<std::uint8_t>{0xFA, 0xF8}));
    ASSERT_TRUE(readable(router.eventFd()));
    const std::vector<ChannelMessage> taken = takeAll(router);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_TRUE(taken[0].isNoteOn());
    EXPECT_EQ(taken[0].channel(), 2);
    EXPECT_EQ(taken[0].monotonicUs, 10);
    EXPECT_TRUE(taken[1].isControlChange());
    EXPECT_TRUE(taken[2].isNoteOff());
    EXPECT_FALSE(taken[2].isNoteOn());
    EXPECT_FALSE(readable(router.eventFd()));

    send(router, {0x80, 60, 0}, 3);
    EXPECT_TRUE(readable(router.eventFd())) << "a message after a drain wakes the window again";
}

TEST(MidiInputRouter, TwoInputThreadsFloodingLoseNothingThatFitsAndCountTheRest) {
    MidiInputRouter router(nullptr);
    constexpr int kPerThread = 600;  // together more than the ring holds
    auto flood = [&router](std::uint8_t channel) {
        for (int i = 0; i < kPerThread; ++i) {
            send(router, {static_cast<std::uint8_t>(0x90 | channel), std::uint8_t(i % 128), 1}, 3,
                 i);
        }
    };
    std::thread alsa(flood, 0);
    std::thread jack(flood, 1);
    alsa.join();
    jack.join();

    const std::vector<ChannelMessage> taken = takeAll(router);
    EXPECT_EQ(taken.size() + router.droppedCount(), 2u * kPerThread);
    std::array<std::int64_t, 2> lastOfChannel{-1, -1};
    for (const ChannelMessage& message : taken) {
        const int channel = message.channel() - 1;
        EXPECT_GT(message.monotonicUs, lastOfChannel[channel]) << "each thread's order is kept";
        lastOfChannel[channel] = message.monotonicUs;
    }
}
