#pragma once

#include <memory>
#include <string>

// A running copy's claim on one MIDI device, so that one copy per device opens it and the
// others borrow that copy's port: two copies that each opened a JACK or ALSA port of their own
// would each send MIDI clock to it. An exclusive lock on a file in the instance bus's private
// directory, named after the device; the kernel lets it go when its holder ends, however it
// ends. Owned by the connection it guards (ClaimedConnection). Window thread.
class DeviceClaim {
public:
    // nullptr when another holder has the device (or the directory cannot be used, in which
    // case the claim is waived: an empty claim that guards nothing).
    static std::shared_ptr<DeviceClaim> take(const std::string& directory,
                                             const std::string& deviceName);
    // A claim that guards nothing: for a copy that cannot lend, and so opens its own port.
    static std::shared_ptr<DeviceClaim> waived();
    DeviceClaim(const DeviceClaim&) = delete;
    DeviceClaim& operator=(const DeviceClaim&) = delete;
    ~DeviceClaim();

    // The lock file's name for a device: readable, and distinct for distinct names.
    static std::string fileNameFor(const std::string& deviceName);

private:
    explicit DeviceClaim(int fd) : fd_(fd) {}

    int fd_;
};
