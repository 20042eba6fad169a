// The names of the program's JACK and ALSA clients, on its own and under a session manager.

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <string>

#include "midi/ClientNames.h"

namespace {

class ClientNamesTest : public ::testing::Test {
protected:
    void TearDown() override { ClientNames::setSessionClientId({}); }
};

TEST_F(ClientNamesTest, TheSessionsClientIdTakesTheProgramsPlaceUntilItIsCleared) {
    EXPECT_EQ(ClientNames::jackClientName(), "Glimmerstave");
    EXPECT_EQ(ClientNames::alsaClientName(" watch"), "Glimmerstave watch");
    ClientNames::setSessionClientId("nQXYZ");
    EXPECT_EQ(ClientNames::jackClientName(), "nQXYZ");
    EXPECT_EQ(ClientNames::jackClientName(" synth"), "nQXYZ synth");
    EXPECT_EQ(ClientNames::alsaClientName(), "nQXYZ");
    ClientNames::setSessionClientId({});
    EXPECT_EQ(ClientNames::jackClientName(" list"), "Glimmerstave list");
}

// A client_id from the manager is not checked there: JACK's port separator and its length
// limit must not make the client fail to open.
TEST_F(ClientNamesTest, AnIdJackCouldNotTakeIsMadeFit) {
    ClientNames::setSessionClientId("a:b");
    EXPECT_EQ(ClientNames::jackClientName(), "a_b");
    ClientNames::setSessionClientId(std::string(300, 'n'));
    const std::string jack = ClientNames::jackClientName(" synth");
    EXPECT_EQ(jack.size(), static_cast<std::size_t>(jack_client_name_size() - 1));
    EXPECT_EQ(ClientNames::alsaClientName().size(), 63u);
}

}  // namespace
