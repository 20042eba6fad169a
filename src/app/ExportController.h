#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class MainWindow;
class Setup;
class QProgressDialog;
class QTimer;

// File > "Export MIDI File..." and "Export Audio..." for the main window that owns it. Each
// export works on a copy of the setup with the play position taken under the engine lock, so
// playback goes on undisturbed. The audio export renders on a thread of its own; when it takes
// longer than half a second a progress dialog with Cancel shows, and a cancelled export leaves no
// file. Failures are shown in the "NOTE!" box.
class ExportController : public QObject {
    Q_OBJECT

public:
    enum class Kind { Midi, Audio };
    static constexpr int kProgressDelayMs = 500;
    static constexpr int kProgressSteps = 1000;

    explicit ExportController(MainWindow& window);
    ExportController(const ExportController&) = delete;
    ExportController& operator=(const ExportController&) = delete;
    // Cancels an audio export still running and waits for its thread.
    ~ExportController() override;

    // The export dialog (not modal to the application: the clock keeps playing), then the
    // export.
    void chooseAndExport(Kind kind);
    // Exports measures measures (of the setup's steps per measure) from the selected loop to
    // path. The MIDI file is written at once; the audio export starts and returns, and
    // finished() tells its end. Refused while an audio export runs.
    void exportTo(Kind kind, const std::string& path, int measures);

    // One pass through the chain of loops from the selected loop, in measures.
    int defaultMeasures() const;
    bool busy() const { return worker_.joinable(); }
    // The progress dialog of the running audio export, else nullptr.
    QProgressDialog* progressDialog() const { return progress_; }

Q_SIGNALS:
    // After every export: whether the file was written.
    void finished(bool written);

private:
    // A copy of the window's setup for an export, the play position as the engine has it.
    Setup setupForExport() const;
    void startAudio(const std::string& path, int stepCount);
    void showProgress();
    void onAudioDone(bool written, const QString& error);
    QString proposedPath(Kind kind) const;

    MainWindow& window_;
    std::thread worker_;
    std::atomic<bool> cancelled_{false};
    std::atomic<std::int64_t> framesDone_{0};
    std::atomic<std::int64_t> framesTotal_{1};
    QProgressDialog* progress_ = nullptr;
    QTimer* progressTimer_ = nullptr;
};
