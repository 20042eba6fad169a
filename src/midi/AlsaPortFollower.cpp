#include "midi/AlsaPortFollower.h"

#include <alsa/asoundlib.h>

#include <utility>

AlsaPortFollower::AlsaPortFollower(Address connected, Find find, Connect connect)
    : target_(connected), find_(std::move(find)), connect_(std::move(connect)) {}

void AlsaPortFollower::handle(const snd_seq_event& event) {
    const Address address{event.data.addr.client, event.data.addr.port};
    switch (event.type) {
        case SND_SEQ_EVENT_PORT_EXIT:
            if (address == target_) {
                lose();
            }
            return;
        case SND_SEQ_EVENT_CLIENT_EXIT:
            if (address.client == target_.client) {
                lose();
            }
            return;
        case SND_SEQ_EVENT_PORT_START:
        case SND_SEQ_EVENT_CLIENT_START:
        // A port may take the target's name only after it started.
        case SND_SEQ_EVENT_PORT_CHANGE:
            if (!present()) {
                tryConnect();
            }
            return;
        default:
            return;
    }
}

void AlsaPortFollower::lookAgain() {
    if (!present()) {
        tryConnect();
    }
}

void AlsaPortFollower::lose() {
    present_.store(false, std::memory_order_release);
}

// A client announces itself before its ports: the name is looked for at every start until
// it turns up.
void AlsaPortFollower::tryConnect() {
    const std::optional<Address> found = find_();
    if (found && connect_(*found)) {
        target_ = *found;
        present_.store(true, std::memory_order_release);
    }
}
