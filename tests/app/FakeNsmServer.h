#pragma once

#include <lo/lo.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// A session manager of the test's own: a UDP OSC server in the test process that records
// what the programs send and answers as the test tells it; each program that announces
// itself is a client, numbered from 0 in the order of the announces. waitFor() polls it and
// Qt's events together until a condition holds or ten seconds have passed.
class FakeNsmServer {
public:
    struct Message {
        std::string path;
        std::vector<std::string> strings;
        std::vector<int> ints;
    };

    FakeNsmServer() {
        server_ = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_add_method(server_, nullptr, nullptr, &FakeNsmServer::record, this);
    }
    ~FakeNsmServer() {
        for (lo_address client : clients_) {
            lo_address_free(client);
        }
        lo_server_free(server_);
    }
    FakeNsmServer(const FakeNsmServer&) = delete;
    FakeNsmServer& operator=(const FakeNsmServer&) = delete;

    std::string url() const {
        char* url = lo_server_get_url(server_);
        std::string result = url;
        std::free(url);
        return result;
    }

    bool waitFor(const std::function<bool()>& condition,
                 const std::function<void()>& pollOthers = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            lo_server_recv_noblock(server_, 5);
            if (pollOthers) {
                pollOthers();
            }
        }
        return true;
    }

    // The first message received with path after index from, or nullptr.
    const Message* find(const std::string& path, std::size_t from = 0) const {
        for (std::size_t i = from; i < received.size(); ++i) {
            if (received[i].path == path) {
                return &received[i];
            }
        }
        return nullptr;
    }
    // The first /reply or /error to request after index from.
    const Message* answerTo(const std::string& request, std::size_t from = 0) const {
        for (std::size_t i = from; i < received.size(); ++i) {
            const Message& message = received[i];
            if ((message.path == "/reply" || message.path == "/error") &&
                !message.strings.empty() && message.strings[0] == request) {
                return &message;
            }
        }
        return nullptr;
    }

    // To a program, once it has announced itself.
    void send(const std::string& path, const std::vector<std::string>& strings = {},
              std::size_t client = 0) {
        lo_message message = lo_message_new();
        for (const std::string& text : strings) {
            lo_message_add_string(message, text.c_str());
        }
        lo_send_message_from(clients_.at(client), server_, path.c_str(), message);
        lo_message_free(message);
    }
    void answerAnnounce(std::size_t client = 0) {
        lo_send_from(clients_.at(client), server_, LO_TT_IMMEDIATE, "/reply", "ssss",
                     "/nsm/server/announce", "Welcome", "Fake Session Manager", ":server-control:");
    }
    // The answer a manager gives a program it will not take (an API it does not speak).
    void refuseAnnounce(std::size_t client = 0) {
        lo_send_from(clients_.at(client), server_, LO_TT_IMMEDIATE, "/error", "sis",
                     "/nsm/server/announce", -2, "Incompatible API version");
    }
    bool announced() const { return !clients_.empty(); }
    std::size_t clientCount() const { return clients_.size(); }

    std::vector<Message> received;

private:
    static int record(const char* path, const char* types, lo_arg** argv, int argc,
                      lo_message message, void* data) {
        auto* self = static_cast<FakeNsmServer*>(data);
        Message copy{path, {}, {}};
        for (int i = 0; i < argc; ++i) {
            if (types[i] == LO_STRING) {
                copy.strings.emplace_back(&argv[i]->s);
            } else if (types[i] == LO_INT32) {
                copy.ints.push_back(argv[i]->i);
            }
        }
        if (copy.path == "/nsm/server/announce") {
            const lo_address source = lo_message_get_source(message);
            self->clients_.push_back(
                lo_address_new(lo_address_get_hostname(source), lo_address_get_port(source)));
        }
        self->received.push_back(std::move(copy));
        return 0;
    }

    lo_server server_ = nullptr;
    std::vector<lo_address> clients_;
};
