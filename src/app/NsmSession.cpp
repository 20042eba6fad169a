#include "app/NsmSession.h"

#include <QEvent>
#include <QGuiApplication>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "app/DocumentController.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "midi/ClientNames.h"
#include "sync/TimeKeeper.h"
#include "session/NsmClient.h"

namespace {

constexpr const char* kOpen = "/nsm/client/open";
constexpr const char* kSave = "/nsm/client/save";

}  // namespace

NsmSession::NsmSession(MainWindow& window, NsmClient& client) : window_(window), client_(client) {
    NoteBox::setHandler([this](const std::string& text) { showNote(text); });
    connect(&client_, &NsmClient::openRequested, this,
            [this](const QString& prefix, const QString&, const QString& clientId) {
                open(prefix, clientId);
            });
    connect(&client_, &NsmClient::saveRequested, this, &NsmSession::save);
    connect(&client_, &NsmClient::showGuiRequested, this, [this] { window_.window()->show(); });
    connect(&client_, &NsmClient::hideGuiRequested, this, [this] { window_.window()->hide(); });
    connect(&client_, &NsmClient::announceAnswered, this, &NsmSession::onAnswered);
    connect(&client_, &NsmClient::announceRefused, this, &NsmSession::onRefused);
    connect(&dirtyPoll_, &QTimer::timeout, this, &NsmSession::reportDirty);
    answerWait_.setSingleShot(true);
    connect(&answerWait_, &QTimer::timeout, this, [this] {
        runWithoutSession("the session manager did not answer within " +
                          std::to_string(kAnswerTimeoutMs / 1000) + " s");
    });
    window_.window()->installEventFilter(this);
}

NsmSession::~NsmSession() {
    NoteBox::setHandler({});
    ClientNames::setSessionClientId({});
}

void NsmSession::start(const std::string& executableName) {
    client_.announce(executableName);
    answerWait_.start(kAnswerTimeoutMs);
}

void NsmSession::onAnswered() {
    answered_ = true;
    answerWait_.stop();
    if (!inSession_) {
        rejoin();
        showNote("the session manager answered after all; the session now holds this setup");
    }
}

void NsmSession::onRefused(int code, const QString& message) {
    answerWait_.stop();
    runWithoutSession("the session manager refused the program (" + std::to_string(code) +
                      "): " + message.toStdString());
}

void NsmSession::runWithoutSession(const std::string& reason) {
    if (!inSession_ || opened_) {
        return;
    }
    inSession_ = false;
    const std::string text = reason + "; running without a session";
    std::fprintf(stderr, "glimmerstave: %s\n", text.c_str());
    // From here on notes are boxes again and closing the window ends the program.
    NoteBox::setHandler({});
    QGuiApplication::setQuitOnLastWindowClosed(true);
    window_.leaveSession();
    window_.showStatus(text);
}

void NsmSession::rejoin() {
    inSession_ = true;
    NoteBox::setHandler([this](const std::string& text) { showNote(text); });
    QGuiApplication::setQuitOnLastWindowClosed(false);
    window_.rejoinSession();
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

void NsmSession::open(const QString& pathPrefix, const QString& clientId) {
    answerWait_.stop();
    if (!inSession_) {
        rejoin();
    }
    const std::string path = pathPrefix.toStdString() + kFileExtension;
    lastNote_.clear();
    std::error_code error;
    const bool exists = std::filesystem::exists(path, error);
    if (error) {
        // Not "no file": whatever is there cannot be looked at, so nothing is made over it.
        client_.fail(kOpen, NsmClient::kErrorBadProject,
                     "could not look for " + path + ": " + error.message());
        return;
    }
    // Clients opened from here on carry the session's name for this copy.
    ClientNames::setSessionClientId(clientId.toStdString());
    if (exists ? !openFile(path) : !createFile(path)) {
        // The session keeps the setup it had; the manager learns why.
        client_.fail(kOpen, exists ? NsmClient::kErrorBadProject : NsmClient::kErrorCreateFailed,
                     lastNote_.empty() ? "could not open " + path : lastNote_);
        return;
    }
    sessionFile_ = path;
    // The transport's client, opened before the session named this copy, takes its name too.
    window_.time().setTransportClientName(ClientNames::jackClientName(" transport"));
    window_.renameMidiInput();
    client_.reply(kOpen, (exists ? "Opened " : "Created ") + path);
    if (!opened_) {
        opened_ = true;
        window_.letSynthesizerOpen();
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
    // The setup in force stays until the new one is written: a failed write leaves it as it
    // was rather than a random one that is nowhere on disk.
    ::Setup& setup = window_.setup();
    const auto measures = setup.measures;
    const auto volume = setup.volume;
    const auto transpose = setup.transpose;
    const bool dirty = setup.dirty;
    SetupController& controller = window_.controller();
    controller.NewSetup();
    controller.SetVolume(80);
    controller.SetTranspose(0);
    if (window_.documents().WriteSetup(path)) {
        return true;
    }
    {
        std::lock_guard guard(window_.player().engineLock());
        setup.measures = measures;
    }
    controller.LoadMeasureIntoColumns(setup.selectedMeasure);
    controller.SetVolume(volume);
    controller.SetTranspose(transpose);
    setup.dirty = dirty;
    return false;
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
