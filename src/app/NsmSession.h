#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <string>

class MainWindow;
class NsmClient;

// Carries out a session manager's requests on the main window, on the window thread: open
// (the session's setup file read, or a new setup saved there at once; again for a session
// switch, without a question), save, show and hide the window; and reports whether the setup
// has unsaved changes and whether the window shows. While the session holds the program,
// "NOTE!" texts go to the status text and stderr instead of a box, so nothing waits for the
// user. A manager that does not answer the announce in time, or refuses it, leaves the
// program running as without one; a late answer still hands it to the session. Owned by
// main().
class NsmSession : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kFileExtension = ".qov";
    // How often the setup's dirty flag is compared with what the manager was last told.
    static constexpr int kDirtyPollMs = 200;
    // How long the announce may go unanswered before the program runs on its own: a
    // leftover NSM_URL must not leave an invisible process.
    static constexpr int kAnswerTimeoutMs = 3000;

    // window must have been made with Options::sessionManaged and initialised.
    NsmSession(MainWindow& window, NsmClient& client);
    ~NsmSession() override;

    // Announces the program to the manager; the window waits for its open, or for
    // kAnswerTimeoutMs without an answer.
    void start(const std::string& executableName);
    // False once the program runs without the session (no answer in time, or refused).
    bool inSession() const { return inSession_; }

    // The session's setup file; empty before the first open.
    const std::string& sessionFile() const { return sessionFile_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open(const QString& pathPrefix, const QString& clientId);
    void onAnswered();
    void onRefused(int code, const QString& message);
    void runWithoutSession(const std::string& reason);
    void rejoin();
    bool openFile(const std::string& path);
    bool createFile(const std::string& path);
    void save();
    void showNote(const std::string& text);
    void reportDirty();

    MainWindow& window_;
    NsmClient& client_;
    QTimer dirtyPoll_;
    QTimer answerWait_;
    std::string sessionFile_;
    std::string lastNote_;
    bool opened_ = false;
    bool inSession_ = true;
    bool answered_ = false;
};
