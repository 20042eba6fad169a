#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

// The program's side of the Non Session Manager protocol (NSM, also spoken by RaySession and
// Agordejo): it announces itself to the manager named in $NSM_URL and turns the manager's
// requests into Qt signals on the thread that made the client. liblo's server thread only
// posts those signals; it never touches anything else of the program. The replies and the
// state reports are sent from the owner's thread. One per process, owned by main().
class NsmClient : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kUrlVariable = "NSM_URL";
    static constexpr const char* kApplicationName = "Glimmerstave";
    static constexpr const char* kCapabilities = ":switch:dirty:optional-gui:";
    static constexpr int kApiMajor = 1;
    static constexpr int kApiMinor = 2;
    // The protocol's error codes the program answers with.
    static constexpr int kErrorGeneral = -1;
    static constexpr int kErrorBadProject = -9;
    static constexpr int kErrorCreateFailed = -10;

    // A client for the manager at url ("osc.udp://host:port/"), listening on a UDP port of its
    // own. nullptr, with the reason in *error, when the address or the port is unusable.
    static std::unique_ptr<NsmClient> create(const std::string& url, std::string* error);
    ~NsmClient() override;

    // Sends /nsm/server/announce with the executable's name and the process id.
    void announce(const std::string& executableName);
    // /reply to a request ("/nsm/client/open", "/nsm/client/save").
    void reply(const char* request, const std::string& message);
    // /error to a request, with one of the codes above.
    void fail(const char* request, int code, const std::string& message);
    // /nsm/client/is_dirty or is_clean; sent only when the state changes.
    void reportDirty(bool dirty);
    // /nsm/client/gui_is_shown or gui_is_hidden; sent only when the state changes.
    void reportGuiShown(bool shown);

    // The URL the client listens on, for messages and tests.
    std::string url() const;

Q_SIGNALS:
    void announceAnswered(const QString& managerName, const QString& capabilities);
    void announceRefused(int code, const QString& message);
    void openRequested(const QString& pathPrefix, const QString& displayName,
                       const QString& clientId);
    void saveRequested();
    void showGuiRequested();
    void hideGuiRequested();

private:
    struct Osc;
    NsmClient();

    std::unique_ptr<Osc> osc_;
    int dirtyReported_ = -1;  // -1: nothing said yet
    int guiReported_ = -1;
};
