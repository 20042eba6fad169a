#pragma once

#include <lo/lo.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// A session manager of the test's own: a UDP OSC server in the test process that records
// what the program sends and answers as the test tells it. waitFor() polls it and Qt's
// events together until a condition holds or ten seconds have passed.
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
        if (client_ != nullptr) {
            lo_address_free(client_);
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

    // To the program, once it has announced itself.
    void send(const std::string& path, const std::vector<std::string>& strings = {}) {
        lo_message message = lo_message_new();
        for (const std::string& text : strings) {
            lo_message_add_string(message, text.c_str());
        }
        lo_send_message_from(client_, server_, path.c_str(), message);
        lo_message_free(message);
    }
    void answerAnnounce() {
        lo_send_from(client_, server_, LO_TT_IMMEDIATE, "/reply", "ssss", "/nsm/server/announce",
                     "Welcome", "Fake Session Manager", ":server-control:");
    }
    bool announced() const { return client_ != nullptr; }

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
        if (copy.path == "/nsm/server/announce" && self->client_ == nullptr) {
            const lo_address source = lo_message_get_source(message);
            self->client_ =
                lo_address_new(lo_address_get_hostname(source), lo_address_get_port(source));
        }
        self->received.push_back(std::move(copy));
        return 0;
    }

    lo_server server_ = nullptr;
    lo_address client_ = nullptr;
};
