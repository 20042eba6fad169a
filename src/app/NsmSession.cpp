#include "app/NsmSession.h"

#include <QEvent>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/DocumentController.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "session/NsmClient.h"

namespace {

constexpr const char* kOpen = "/nsm/client/open";
constexpr const char* kSave = "/nsm/client/save";

}  // namespace

NsmSession::NsmSession(MainWindow& window, NsmClient& client) : window_(window), client_(client) {
    NoteBox::setHandler([this](const std::string& text) { showNote(text); });
    connect(&client_, &NsmClient::openRequested, this,
            [this](const QString& prefix, const QString&, const QString&) { open(prefix); });
    connect(&client_, &NsmClient::saveRequested, this, &NsmSession::save);
    connect(&client_, &NsmClient::showGuiRequested, this, [this] { window_.window()->show(); });
    connect(&client_, &NsmClient::hideGuiRequested, this, [this] { window_.window()->hide(); });
    connect(&client_, &NsmClient::announceRefused, this, [](int code, const QString& message) {
        std::fprintf(stderr, "glimmerstave: the session manager refused the program (%d): %s\n",
                     code, message.toUtf8().constData());
    });
    connect(&dirtyPoll_, &QTimer::timeout, this, &NsmSession::reportDirty);
    window_.window()->installEventFilter(this);
}

NsmSession::~NsmSession() {
    NoteBox::setHandler({});
}

void NsmSession::start(const std::string& executableName) {
    client_.announce(executableName);
}

bool NsmSession::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.window() && opened_) {
        if (event->type() == QEvent::Show) {
            client_.reportGuiShown(true);
        } else if (event->type() == QEvent::Hide) {
            client_.reportGuiShown(false);
        }
    }
    return QObject::eventFilter(watched, event);
}

void NsmSession::open(const QString& pathPrefix) {
    const std::string path = pathPrefix.toStdString() + kFileExtension;
    lastNote_.clear();
    std::error_code error;
    const bool exists = std::filesystem::exists(path, error);
    if (exists ? !openFile(path) : !createFile(path)) {
        // The session keeps the setup it had; the manager learns why.
        client_.fail(kOpen, exists ? NsmClient::kErrorBadProject : NsmClient::kErrorCreateFailed,
                     lastNote_.empty() ? "could not open " + path : lastNote_);
        return;
    }
    sessionFile_ = path;
    client_.reply(kOpen, (exists ? "Opened " : "Created ") + path);
    if (!opened_) {
        opened_ = true;
        window_.window()->show();
        client_.reportGuiShown(window_.window()->isVisible());
        dirtyPoll_.start(kDirtyPollMs);
    }
    reportDirty();
}

bool NsmSession::openFile(const std::string& path) {
    return window_.readSetup(path);
}

bool NsmSession::createFile(const std::string& path) {
    // The manager gives a path prefix in a folder that exists; anything deeper is made here.
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
    }
    window_.controller().NewSetup();
    window_.controller().SetVolume(80);
    window_.controller().SetTranspose(0);
    return window_.documents().WriteSetup(path);
}

void NsmSession::save() {
    lastNote_.clear();
    if (sessionFile_.empty()) {
        client_.fail(kSave, NsmClient::kErrorGeneral, "no session file is open");
        return;
    }
    if (!window_.documents().WriteSetup(sessionFile_)) {
        client_.fail(kSave, NsmClient::kErrorGeneral,
                     lastNote_.empty() ? "could not save " + sessionFile_ : lastNote_);
        return;
    }
    client_.reply(kSave, "Saved " + sessionFile_);
    reportDirty();
}

void NsmSession::showNote(const std::string& text) {
    lastNote_ = text;
    std::fprintf(stderr, "glimmerstave: %s\n", text.c_str());
    window_.showStatus(text);
}

void NsmSession::reportDirty() {
    client_.reportDirty(window_.setup().dirty);
}
