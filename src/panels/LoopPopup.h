#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

#include "panels/LoopPopupNaming.h"
#include "panels/MShadePalette.h"
#include "toolkit/ControlHost.h"
#include "toolkit/MBmpStatic.h"
#include "toolkit/MDial.h"

class EngineLock;
class Setup;

// The small borderless panel beside a loop selector that edits how that measure chains on:
// `next` + 1 (1..8) and `repeats` (1..32). A child of the main window, raised over its
// controls; it opens without taking the keyboard and takes it only when one of its fields is
// clicked. Escape closes it; hidden, never destroyed, while the program runs.
class LoopPopup : public QWidget, public ControlHost {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 127;
    static constexpr int kClientHeight = 22;

    LoopPopup(Setup& setup, EngineLock& engineLock);
    ~LoopPopup() override;

    // Makes the window (owned by parent, hidden) and its controls.
    void create(QWidget* parent);
    void recolour(const MShadePalette& palette);
    // Shows the panel with its top-left corner at the screen point, editing measure m; in a
    // window too small for it there, as near as the window allows.
    void open(int screenX, int screenY, int m);
    // Hides the panel; the main window gets the keyboard back if the panel had it.
    void closePanel();
    int measure() const { return measure_; }
    MDial& NextDial() { return nextDial_; }
    MDial& RepeatsDial() { return repeatsDial_; }

    // ControlHost.
    QWidget* HostWidget() override { return this; }
    void OnControlEvent(int event, int x, int y, int controlId) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint placeInside(QPoint wanted) const;
    void giveKeyboardBack();
    void writeNext();
    void writeRepeats();

    Setup& setup_;
    EngineLock& engineLock_;
    MShadePalette palette_;
    std::optional<MBmpStatic> background_;
    MDial nextDial_;
    MDial repeatsDial_;
    int measure_ = 0;
    LoopPopupNaming naming_{*this};
    // Where the keys go back to when a field of the panel gives them up.
    QPointer<QWidget> keysBefore_;
};
