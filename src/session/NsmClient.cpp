#include "session/NsmClient.h"

#include <lo/lo.h>
#include <unistd.h>

#include <QMetaObject>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kAnnounce = "/nsm/server/announce";

QString text(lo_arg* argument) {
    return QString::fromUtf8(&argument->s);
}

}  // namespace

struct NsmClient::Osc {
    lo_address manager = nullptr;
    lo_server_thread thread = nullptr;

    ~Osc() {
        if (thread != nullptr) {
            lo_server_thread_stop(thread);
            lo_server_thread_free(thread);
        }
        if (manager != nullptr) {
            lo_address_free(manager);
        }
    }

    // Sends message (and frees it) from the client's own port, where the manager answers. One
    // that does not go out is lost (liblo keeps no queue): said once on stderr, which session
    // managers collect from their clients.
    void send(const char* path, lo_message message) const {
        const int sent =
            lo_send_message_from(manager, lo_server_thread_get_server(thread), path, message);
        lo_message_free(message);
        if (sent < 0) {
            std::fprintf(stderr, "Glimmerstave: %s could not be sent to the session manager: %s\n",
                         path, lo_address_errstr(manager));
        }
    }
};

namespace {

// liblo's handlers run on its server thread; each one only posts a signal to the owner.
int onReply(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
    auto* client = static_cast<NsmClient*>(data);
    // Any types are accepted here: managers add fields to the reply over the versions.
    const auto stringAt = [&](int i) {
        return i < argc && types[i] == LO_STRING ? text(argv[i]) : QString();
    };
    if (stringAt(0) == kAnnounce) {
        const QString manager = stringAt(2);
        const QString capabilities = stringAt(3);
        QMetaObject::invokeMethod(
            client,
            [client, manager, capabilities] {
                Q_EMIT client->announceAnswered(manager, capabilities);
            },
            Qt::QueuedConnection);
    }
    return 0;
}

int onError(const char*, const char*, lo_arg** argv, int, lo_message, void* data) {
    auto* client = static_cast<NsmClient*>(data);
    if (text(argv[0]) == kAnnounce) {
        const int code = argv[1]->i;
        const QString message = text(argv[2]);
        QMetaObject::invokeMethod(
            client, [client, code, message] { Q_EMIT client->announceRefused(code, message); },
            Qt::QueuedConnection);
    }
    return 0;
}

int onOpen(const char*, const char*, lo_arg** argv, int, lo_message, void* data) {
    auto* client = static_cast<NsmClient*>(data);
    const QString prefix = text(argv[0]);
    const QString displayName = text(argv[1]);
    const QString clientId = text(argv[2]);
    QMetaObject::invokeMethod(
        client,
        [client, prefix, displayName, clientId] {
            Q_EMIT client->openRequested(prefix, displayName, clientId);
        },
        Qt::QueuedConnection);
    return 0;
}

template <void (NsmClient::*Signal)()>
int onRequest(const char*, const char*, lo_arg**, int, lo_message, void* data) {
    auto* client = static_cast<NsmClient*>(data);
    QMetaObject::invokeMethod(
        client,
        [client] {
            Q_EMIT(client->*Signal)
            ();
        },
        Qt::QueuedConnection);
    return 0;
}

}  // namespace

NsmClient::NsmClient() : osc_(std::make_unique<Osc>()) {}

NsmClient::~NsmClient() = default;

std::unique_ptr<NsmClient> NsmClient::create(const std::string& url, std::string* error) {
    std::unique_ptr<NsmClient> client(new NsmClient);
    Osc& osc = *client->osc_;
    osc.manager = lo_address_new_from_url(url.c_str());
    if (osc.manager == nullptr) {
        *error = "the session manager's address " + url + " is not an OSC URL";
        return nullptr;
    }
    osc.thread =
        lo_server_thread_new_with_proto(nullptr, lo_address_get_protocol(osc.manager), nullptr);
    if (osc.thread == nullptr) {
        *error = "no port could be opened to talk to the session manager at " + url;
        return nullptr;
    }
    NsmClient* self = client.get();
    lo_server_thread_add_method(osc.thread, "/reply", nullptr, onReply, self);
    lo_server_thread_add_method(osc.thread, "/error", "sis", onError, self);
    lo_server_thread_add_method(osc.thread, "/nsm/client/open", "sss", onOpen, self);
    lo_server_thread_add_method(osc.thread, "/nsm/client/save", "",
                                onRequest<&NsmClient::saveRequested>, self);
    lo_server_thread_add_method(osc.thread, "/nsm/client/show_optional_gui", "",
                                onRequest<&NsmClient::showGuiRequested>, self);
    lo_server_thread_add_method(osc.thread, "/nsm/client/hide_optional_gui", "",
                                onRequest<&NsmClient::hideGuiRequested>, self);
    if (lo_server_thread_start(osc.thread) != 0) {
        *error = "the session manager's listener could not start";
        return nullptr;
    }
    return client;
}

std::string NsmClient::url() const {
    char* url = lo_server_thread_get_url(osc_->thread);
    std::string result = url != nullptr ? url : "";
    std::free(url);
    return result;
}

void NsmClient::announce(const std::string& executableName) {
    lo_message message = lo_message_new();
    lo_message_add_string(message, kApplicationName);
    lo_message_add_string(message, kCapabilities);
    lo_message_add_string(message, executableName.c_str());
    lo_message_add_int32(message, kApiMajor);
    lo_message_add_int32(message, kApiMinor);
    lo_message_add_int32(message, static_cast<std::int32_t>(::getpid()));
    osc_->send(kAnnounce, message);
}

void NsmClient::reply(const char* request, const std::string& text) {
    lo_message message = lo_message_new();
    lo_message_add_string(message, request);
    lo_message_add_string(message, text.c_str());
    osc_->send("/reply", message);
}

void NsmClient::fail(const char* request, int code, const std::string& text) {
    lo_message message = lo_message_new();
    lo_message_add_string(message, request);
    lo_message_add_int32(message, code);
    lo_message_add_string(message, text.c_str());
    osc_->send("/error", message);
}

void NsmClient::reportDirty(bool dirty) {
    if (dirtyReported_ == static_cast<int>(dirty)) {
        return;
    }
    dirtyReported_ = static_cast<int>(dirty);
    osc_->send(dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", lo_message_new());
}

void NsmClient::reportGuiShown(bool shown) {
    if (guiReported_ == static_cast<int>(shown)) {
        return;
    }
    guiReported_ = static_cast<int>(shown);
    osc_->send(shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden", lo_message_new());
}
