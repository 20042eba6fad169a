// The ALSA connection's reconnect logic, fed with announce-port events made up here (no
// sequencer is needed): it loses its target on the target's exit only and connects the
// port of the same name when one starts, or when it looks again.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <optional>
#include <vector>

#include "midi/AlsaPortFollower.h"

namespace {

using Address = AlsaPortFollower::Address;

snd_seq_event_t announce(int type, int client, int port = 0) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    event.type = static_cast<snd_seq_event_type_t>(type);
    event.source = {SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
    event.data.addr.client = static_cast<unsigned char>(client);
    event.data.addr.port = static_cast<unsigned char>(port);
    return event;
}

// The sequencer as the follower sees it: where the target's name is now, and which
// connections it was asked for.
struct Sequencer {
    std::optional<Address> named;
    bool connectWorks = true;
    int lookups = 0;
    std::vector<Address> connects;

    AlsaPortFollower follower(Address connected) {
        return AlsaPortFollower(
            connected,
            [this] {
                ++lookups;
                return named;
            },
            [this](const Address& address) {
                connects.push_back(address);
                return connectWorks;
            });
    }
};

TEST(AlsaPortFollower, ATargetThatLeavesAndComesBackUnderItsNameIsConnectedAgain) {
    Sequencer sequencer;
    AlsaPortFollower follower = sequencer.follower({20, 0});
    ASSERT_TRUE(follower.present());

    follower.handle(announce(SND_SEQ_EVENT_PORT_EXIT, 20, 0));
    EXPECT_FALSE(follower.present());
    // The client comes back before its port does: nothing of that name yet.
    follower.handle(announce(SND_SEQ_EVENT_CLIENT_START, 24));
    EXPECT_FALSE(follower.present());
    EXPECT_TRUE(sequencer.connects.empty());

    sequencer.named = Address{24, 1};
    follower.handle(announce(SND_SEQ_EVENT_PORT_START, 24, 1));
    EXPECT_TRUE(follower.present());
    EXPECT_EQ(sequencer.connects, (std::vector<Address>{{24, 1}}));
    EXPECT_EQ(follower.target(), (Address{24, 1}));

    // Its client exits as a whole this time.
    follower.handle(announce(SND_SEQ_EVENT_CLIENT_EXIT, 24));
    EXPECT_FALSE(follower.present());
}

TEST(AlsaPortFollower, OthersComingAndGoingLeaveAConnectedTargetAlone) {
    Sequencer sequencer;
    sequencer.named = Address{20, 0};
    AlsaPortFollower follower = sequencer.follower({20, 0});
    follower.handle(announce(SND_SEQ_EVENT_PORT_EXIT, 20, 1));  // a sibling port
    follower.handle(announce(SND_SEQ_EVENT_CLIENT_EXIT, 21));
    follower.handle(announce(SND_SEQ_EVENT_PORT_START, 22, 0));
    follower.handle(announce(SND_SEQ_EVENT_NOTEON, 20, 0));
    EXPECT_TRUE(follower.present());
    EXPECT_EQ(sequencer.lookups, 0);
    EXPECT_TRUE(sequencer.connects.empty());
}

TEST(AlsaPortFollower, AConnectionRefusedStaysAbsentAndIsTriedAgainAtTheNextStart) {
    Sequencer sequencer;
    AlsaPortFollower follower = sequencer.follower({20, 0});
    follower.handle(announce(SND_SEQ_EVENT_CLIENT_EXIT, 20));
    sequencer.named = Address{25, 0};
    sequencer.connectWorks = false;
    follower.handle(announce(SND_SEQ_EVENT_PORT_START, 25, 0));
    EXPECT_FALSE(follower.present());
    EXPECT_EQ(follower.target(), (Address{20, 0}));

    sequencer.connectWorks = true;
    follower.handle(announce(SND_SEQ_EVENT_PORT_CHANGE, 25, 0));
    EXPECT_TRUE(follower.present());
    EXPECT_EQ(sequencer.connects.size(), 2u);
    // An exit of the old address no longer concerns it.
    follower.handle(announce(SND_SEQ_EVENT_PORT_EXIT, 20, 0));
    EXPECT_TRUE(follower.present());
}

TEST(AlsaPortFollower, APortThatTakesTheNameUnannouncedIsFoundByLookingAgain) {
    Sequencer sequencer;
    AlsaPortFollower follower = sequencer.follower({20, 0});
    follower.lookAgain();  // present: no lookup
    EXPECT_EQ(sequencer.lookups, 0);
    follower.handle(announce(SND_SEQ_EVENT_CLIENT_EXIT, 20));
    // The client started again under another port name and renamed it: no event says so.
    follower.handle(announce(SND_SEQ_EVENT_PORT_START, 26, 0));
    EXPECT_FALSE(follower.present());
    sequencer.named = Address{26, 0};
    follower.lookAgain();
    EXPECT_TRUE(follower.present());
    EXPECT_EQ(sequencer.connects, (std::vector<Address>{{26, 0}}));
}

}  // namespace
