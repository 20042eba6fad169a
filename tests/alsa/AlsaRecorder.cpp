#include "AlsaRecorder.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>

AlsaRecorder::~AlsaRecorder() {
    close();
}

bool AlsaRecorder::open(const std::string& clientName, const std::string& portName) {
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
        seq_ = nullptr;
        return false;
    }
    snd_seq_set_client_name(seq_, clientName.c_str());
    port_ = snd_seq_create_simple_port(
        seq_, portName.c_str(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (port_ < 0 || stopFd_ < 0) {
        close();
        return false;
    }
    reader_ = std::thread([this] { run(); });
    return true;
}

bool AlsaRecorder::rename(const std::string& portName) {
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    if (snd_seq_get_port_info(seq_, port_, info) < 0) {
        return false;
    }
    snd_seq_port_info_set_name(info, portName.c_str());
    return snd_seq_set_port_info(seq_, port_, info) >= 0;
}

void AlsaRecorder::close() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
        stopFd_ = -1;
    }
    if (seq_ != nullptr) {
        snd_seq_close(seq_);
        seq_ = nullptr;
    }
}

std::vector<AlsaRecorder::Message> AlsaRecorder::messages() const {
    std::lock_guard guard(mutex_);
    return messages_;
}

bool AlsaRecorder::waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                           std::chrono::seconds patience) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, patience, [&] { return done(messages_); });
}

void AlsaRecorder::run() {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(16, &decoder) < 0) {
        return;
    }
    // Every message with its own status byte, as the sender's log writes it.
    snd_midi_event_no_status(decoder, 1);
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    fds[0] = {stopFd_, POLLIN, 0};
    snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned int>(count), POLLIN);
    while (::poll(fds.data(), fds.size(), -1) >= 0 || errno == EINTR) {
        if ((fds[0].revents & POLLIN) != 0) {
            break;
        }
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(seq_, &event) >= 0 && event != nullptr) {
            std::array<unsigned char, 16> bytes{};
            const long size = snd_midi_event_decode(decoder, bytes.data(), bytes.size(), event);
            if (size <= 0) {
                continue;  // not a MIDI message (a subscription notice)
            }
            std::lock_guard guard(mutex_);
            messages_.emplace_back(bytes.begin(), bytes.begin() + size);
            arrived_.notify_all();
        }
    }
    snd_midi_event_free(decoder);
}
