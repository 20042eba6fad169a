#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class EngineLock;
class QMimeData;
class Setup;
class SetupController;

// Copy Measure, Paste Measure and Paste Visible: the selected measure's sixteen steps on the
// system clipboard in two formats, "GlimmerstaveLoopv3" (whole chords) and
// "GlimmerstaveLoopv2" (one note per step, for older copies of the program), so any running
// instance can paste them. A text selection in the focused field is copied as text instead,
// and a paste without measure data goes to the focused field. Owned by the main window;
// window thread only.
//
// Clipboard data is only borrowed while a command runs: the bytes are copied out at once and
// nothing of the clipboard is kept, whichever way the command ends.
class MeasureClipboard {
public:
    // The clipboard itself; the system's by default, a stand-in in tests.
    class Store {
    public:
        virtual ~Store() = default;
        // The formats on offer (empty when none).
        virtual bool hasFormat(const QString& format) = 0;
        // The bytes of a format, copied; empty when the clipboard has none of it.
        virtual QByteArray data(const QString& format) = 0;
        // Replaces the clipboard's content; false when the clipboard did not take it.
        virtual bool write(std::unique_ptr<QMimeData> content) = 0;
    };

    static constexpr const char* kCopyFailedMessage = "Could not copy to the clipboard...";

    MeasureClipboard();
    explicit MeasureClipboard(std::unique_ptr<Store> store);
    MeasureClipboard(const MeasureClipboard&) = delete;
    MeasureClipboard& operator=(const MeasureClipboard&) = delete;
    virtual ~MeasureClipboard();

    // The setup to copy from and paste into, the controller that takes the undo snapshot and
    // shows the steps, and the lock that the step routine holds while it reads the measures.
    // copyMeasure starts as a copy of the measure selected now.
    void Attach(Setup& setup, SetupController& controller, EngineLock& engineLock);
    // Where the program's messages go (the "NOTE!" box).
    void setShowNote(std::function<void(const std::string&)> showNote) {
        showNote_ = std::move(showNote);
    }

    // 3 when the clipboard holds layout-3 data, else 2 for layout-2 data, else 0.
    int ClipboardKind();
    void CopyMeasure();
    // Pastes into the selected measure: all sixteen steps, or only the visible ones.
    void PasteMeasure(bool visible);

    // The system clipboard as a Store.
    static std::unique_ptr<Store> SystemStore();

private:
    void showNote(const std::string& text);

    std::unique_ptr<Store> store_;
    Setup* setup_ = nullptr;
    SetupController* controller_ = nullptr;
    EngineLock* engineLock_ = nullptr;
    std::function<void(const std::string&)> showNote_;
};
