#include "app/ExportController.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <mutex>
#include <stdexcept>

#include "app/ExportDialog.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "core/Setup.h"
#include "document/MidiExport.h"
#include "document/SafeFileWriter.h"
#include "midi/AudioExport.h"

namespace {

// How often the progress dialog looks at the rendering thread's count.
constexpr int kProgressIntervalMs = 50;

}  // namespace

ExportController::ExportController(MainWindow& window) : window_(window) {}

ExportController::~ExportController() {
    cancelled_.store(true);
    if (worker_.joinable()) {
        worker_.join();
    }
}

int ExportController::defaultMeasures() const {
    return MidiExport::chainPassMeasures(window_.setup());
}

QString ExportController::proposedPath(Kind kind) const {
    const QString suffix = kind == Kind::Midi ? QStringLiteral(".mid") : QStringLiteral(".wav");
    const QString setupPath = QString::fromStdString(window_.setup().path);
    if (setupPath.isEmpty()) {
        return QStringLiteral("untitled") + suffix;
    }
    const QFileInfo info(setupPath);
    return info.dir().filePath(info.completeBaseName() + suffix);
}

void ExportController::chooseAndExport(Kind kind) {
    if (busy()) {
        return;
    }
    const bool midi = kind == Kind::Midi;
    auto* dialog = new ExportDialog(midi ? tr("Export MIDI File") : tr("Export Audio"),
                                    midi ? tr("MIDI files (*.mid)") : tr("WAV files (*.wav)"),
                                    proposedPath(kind), defaultMeasures(), &window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, kind] {
        exportTo(kind, dialog->path().toStdString(), dialog->measures());
    });
    dialog->open();
}

void ExportController::exportTo(Kind kind, const std::string& path, int measures) {
    if (busy()) {
        return;
    }
    const int stepCount = measures * window_.setup().stepsPerMeasure;
    if (kind == Kind::Audio) {
        startAudio(path, stepCount);
        return;
    }
    try {
        Setup copy = setupForExport();
        // A few thousand steps at most: written at once, well within half a second.
        const std::vector<std::uint8_t> bytes = MidiExport::render(copy, stepCount);
        SafeFileWriter file(path);
        file.write(bytes);
        file.commit();
    } catch (const std::exception& error) {
        NoteBox::show(error.what());
        Q_EMIT finished(false);
        return;
    }
    Q_EMIT finished(true);
}

void ExportController::startAudio(const std::string& path, int stepCount) {
    Setup copy = setupForExport();
    cancelled_.store(false);
    framesDone_.store(0);
    framesTotal_.store(1);
    showProgress();
    worker_ = std::thread([this, copy, path, stepCount]() mutable {
        bool written = false;
        QString error;
        try {
            written = AudioExport::writeFile(copy, stepCount, path,
                                             [this](std::int64_t done, std::int64_t total) {
                                                 framesDone_.store(done);
                                                 framesTotal_.store(total);
                                                 return !cancelled_.load();
                                             });
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        }
        QMetaObject::invokeMethod(
            this, [this, written, error] { onAudioDone(written, error); }, Qt::QueuedConnection);
    });
}

// The clock thread waits on the engine lock at every step, so nothing that allocates may run
// under it: copying the setup does (its strings and note arrays). This thread, the window's,
// is the only one that changes the setup but for the play position (playingMeasure,
// repeatCount, port.currentStep), which the clock thread moves under the lock while playing.
// So the copy is made without the lock, and only those three plain values are taken under it,
// replacing what the copy read of them meanwhile.
Setup ExportController::setupForExport() const {
    const Setup& setup = window_.setup();
    Setup copy = setup;
    {
        std::lock_guard<EngineLock> lock(window_.player().engineLock());
        copy.playingMeasure = setup.playingMeasure;
        copy.repeatCount = setup.repeatCount;
        copy.port.currentStep = setup.port.currentStep;
    }
    // Returned outside the lock: Setup has no move, and a copy may be made here.
    return copy;
}

void ExportController::showProgress() {
    progress_ =
        new QProgressDialog(tr("Rendering audio..."), tr("Cancel"), 0, kProgressSteps, &window_);
    progress_->setWindowTitle(tr("Export Audio"));
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setMinimumDuration(kProgressDelayMs);
    progress_->setValue(0);
    connect(progress_, &QProgressDialog::canceled, this, [this] { cancelled_.store(true); });
    progressTimer_ = new QTimer(this);
    connect(progressTimer_, &QTimer::timeout, this, [this] {
        // Also a cancel that did not come from the button (closing the dialog, say).
        if (progress_->wasCanceled()) {
            cancelled_.store(true);
            return;
        }
        const std::int64_t total = std::max<std::int64_t>(1, framesTotal_.load());
        progress_->setValue(static_cast<int>(framesDone_.load() * kProgressSteps / total));
    });
    progressTimer_->start(kProgressIntervalMs);
}

void ExportController::onAudioDone(bool written, const QString& error) {
    if (worker_.joinable()) {
        worker_.join();
    }
    delete progressTimer_;
    progressTimer_ = nullptr;
    delete progress_;
    progress_ = nullptr;
    if (!error.isEmpty()) {
        NoteBox::show(error.toStdString());
    }
    Q_EMIT finished(written);
}
