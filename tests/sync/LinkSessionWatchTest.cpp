// What the watch makes of Link peers' announcements, built with Link's own encoder: one
// session's newest start or stop, peers of other sessions, peers leaving or falling silent,
// and datagrams that are no announcement at all.

#include <gtest/gtest.h>

#include <ableton/discovery/v1/Messages.hpp>
#include <ableton/link/NodeState.hpp>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sync/LinkSessionWatch.h"

namespace {

using Clock = std::chrono::steady_clock;

ableton::link::NodeId idOf(std::uint8_t n) {
    return ableton::link::NodeId(ableton::link::NodeIdArray{n, n, n, n, n, n, n, n});
}

std::vector<std::uint8_t> alive(std::uint8_t node, std::uint8_t session, bool playing,
                                std::int64_t stampUs) {
    ableton::link::NodeState state{
        idOf(node), idOf(session), ableton::link::Timeline{},
        ableton::link::StartStopState{playing, ableton::link::Beats{0.0},
                                      std::chrono::microseconds(stampUs)}};
    ableton::discovery::v1::MessageBuffer buffer{};
    std::uint8_t* const end =
        ableton::discovery::v1::aliveMessage(idOf(node), 5, toPayload(state), buffer.data());
    return std::vector<std::uint8_t>(buffer.data(), end);
}

class LinkWatch : public testing::Test {
protected:
    // Heard two seconds ago unless told otherwise: long enough for a start to count.
    void hear(const std::vector<std::uint8_t>& bytes,
              Clock::time_point at = Clock::now() - std::chrono::seconds(2)) {
        watch.take(bytes.data(), bytes.size(), at);
    }
    LinkSessionWatch watch;
};

TEST_F(LinkWatch, TheNewestStartOrStopOfTheOneSessionTells) {
    EXPECT_FALSE(watch.sessionPlays()) << "nobody heard";
    hear(alive(1, 9, true, 1000));
    EXPECT_TRUE(watch.sessionPlays());
    // A peer that never started or stopped, like a copy just joined, changes nothing.
    hear(alive(2, 9, false, 0));
    EXPECT_TRUE(watch.sessionPlays());
    hear(alive(3, 9, false, 2000));
    EXPECT_FALSE(watch.sessionPlays()) << "a later stop";
    hear(alive(1, 9, true, 3000));
    EXPECT_TRUE(watch.sessionPlays()) << "started again";
    hear(alive(2, 9, false, 4000));
    hear(alive(3, 9, true, 5000), Clock::now());
    EXPECT_FALSE(watch.sessionPlays()) << "a start just made may still be on its way through Link";
}

TEST_F(LinkWatch, PeersOfAnotherSessionMeanNotJoinedYet) {
    hear(alive(1, 9, true, 1000));
    hear(alive(2, 2, false, 0));  // this copy, before it joined
    EXPECT_FALSE(watch.sessionPlays());
    hear(alive(2, 9, false, 0));  // joined: its announcement replaces the earlier one
    EXPECT_TRUE(watch.sessionPlays());
}

TEST_F(LinkWatch, APeerThatSaysGoodbyeOrFallsSilentIsForgotten) {
    hear(alive(1, 9, true, 1000), Clock::now() - std::chrono::seconds(6));
    EXPECT_FALSE(watch.sessionPlays()) << "an announcement past its five seconds";
    hear(alive(1, 9, true, 1000));
    ableton::discovery::v1::MessageBuffer bye{};
    std::uint8_t* const end = ableton::discovery::v1::byeByeMessage(idOf(1), bye.data());
    hear(std::vector<std::uint8_t>(bye.data(), end));
    EXPECT_FALSE(watch.sessionPlays());
}

TEST_F(LinkWatch, WhatIsNoAnnouncementIsIgnored) {
    hear(alive(1, 9, true, 1000));
    const std::vector<std::uint8_t> whole = alive(2, 9, false, 2000);
    // Every cut of a later stop: none may count, crash or read past its end.
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        watch.take(cut.data(), cut.size(), Clock::now());
    }
    std::vector<std::uint8_t> strange = whole;
    strange[0] = 'X';  // not Link's protocol
    hear(strange);
    EXPECT_TRUE(watch.sessionPlays());
    // A flood of strangers fills the table to its bound and no further.
    for (int n = 0; n < 200; ++n) {
        hear(alive(static_cast<std::uint8_t>(10 + n % 200), 9, false, 0));
    }
    EXPECT_TRUE(watch.sessionPlays());
}

}  // namespace
