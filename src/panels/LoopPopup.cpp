#include "panels/LoopPopup.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <mutex>

#include "core/EngineLock.h"
#include "core/Setup.h"
#include "panels/ControlTips.h"
#include "panels/PanelIds.h"
#include "toolkit/Canvas.h"
#include "toolkit/ColorRef.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/ControlToolTip.h"
#include "toolkit/Resources.h"
#include "toolkit/ToolkitEvents.h"

using namespace PanelIds;

LoopPopup::LoopPopup(Setup& setup, EngineLock& engineLock)
    : setup_(setup), engineLock_(engineLock) {}

LoopPopup::~LoopPopup() {
    ControlAccessibility::Detach(this);
}

void LoopPopup::create(QWidget* parent) {
    // A child of the main window, not a window of its own: Wayland places a window where the
    // compositor likes and gives it the keyboard when it maps, so a separate panel opened far
    // from its selector and took Space and 1..8. As a child it opens exactly beside the
    // selector on every platform, and the keys stay with the main window's focus until a
    // click puts the focus in one of the panel's fields.
    setParent(parent);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setFixedSize(kClientWidth, kClientHeight);
    if (std::optional<QCursor> cursor = Resources::LoadCursor("NOCUR")) {
        setCursor(*cursor);
    }
    background_.emplace();
    background_->Create(0, "LOOPBKGBMP", 0, 0, this, "LOOPBKGBMP");
    nextDial_.Create(DialParams{.id = ID_NEXT_MEASURE, .x = 1, .y = 1,
                                .upBitmapBase = "UPARROW", .upDx = 21, .upDy = 0,
                                .downBitmapBase = "DNARROW", .downDx = 21, .downDy = 9,
                                .host = this, .fieldDx = 0, .fieldDy = 3, .fieldWidth = 21,
                                .fieldHeight = 15, .min = 1, .max = 8, .ctrlMultiplier = 1});
    nextDial_.SetNoFace(false);
    nextDial_.SetLive(true);
    repeatsDial_.Create(DialParams{.id = ID_REPEATS, .x = 96, .y = 1,
                                   .upBitmapBase = "UPARROW", .upDx = 0, .upDy = 0,
                                   .downBitmapBase = "DNARROW", .downDx = 0, .downDy = 9,
                                   .host = this, .fieldDx = 7, .fieldDy = 3, .fieldWidth = 21,
                                   .fieldHeight = 15, .min = 1, .max = 32,
                                   .ctrlMultiplier = 4});
    repeatsDial_.SetNoFace(false);
    repeatsDial_.SetLive(true);
    ControlAccessibility::Attach(this, &naming_);
    hide();
}

void LoopPopup::recolour(const MShadePalette& palette) {
    palette_ = palette;
    nextDial_.SetColorsAll(palette_.lighter, palette_.darker, palette_.darker, palette_.lighter,
                           0, 0, 0);
    repeatsDial_.SetColorsAll(palette_.lighter, palette_.darker, palette_.darker,
                              palette_.lighter, 0, 0, 0);
    if (background_) {
        background_->SetColors(palette_.base, palette_.lightest);
    }
    update();
}

void LoopPopup::open(int screenX, int screenY, int m) {
    // A field still focused from the last opening is left first, for the measure it edited.
    if (QWidget* focused = focusWidget()) {
        focused->clearFocus();
    }
    measure_ = std::clamp(m, 0, Setup::kMeasureCount - 1);
    if (QWidget* keys = window()->focusWidget(); keys != nullptr && !isAncestorOf(keys)) {
        keysBefore_ = keys;
    }
    move(placeInside(parentWidget()->mapFromGlobal(QPoint(screenX, screenY))));
    const Measure& measure = setup_.measures[static_cast<std::size_t>(measure_)];
    nextDial_.SetValue(measure.next + 1);
    repeatsDial_.SetValue(measure.repeats);
    show();
    raise();
}

void LoopPopup::OnControlEvent(int event, int x, int y, int controlId) {
    if (event == EV_EDIT_CLICK) {
        // The field has taken the focus with the click: the keys type into it until it
        // gives them back (Enter, Escape, a click off the fields).
        return;
    }
    if (UpdateCursor(event, x, y, this) == 0) {
        if (std::optional<QCursor> cursor = Resources::LoadCursor("NOCUR")) {
            setCursor(*cursor);
        }
    }
    if (controlId == 0) {
        controlId = DispatchMouse(event, x, y, this);
    }
    if (event != EV_RELEASE && event != EV_MOVE && event != EV_EDIT_CHANGED) {
        return;
    }
    if (controlId >= ID_NEXT_MEASURE && controlId <= ID_NEXT_MEASURE_LAST) {
        nextDial_.OnChildEvent(controlId);
        writeNext();
    } else if (controlId >= ID_REPEATS && controlId <= ID_REPEATS_LAST) {
        repeatsDial_.OnChildEvent(controlId);
        writeRepeats();
    }
}

void LoopPopup::writeNext() {
    const int next = nextDial_.GetValue() - 1;
    std::lock_guard guard(engineLock_);
    Measure& measure = setup_.measures[static_cast<std::size_t>(measure_)];
    if (measure.next != next) {
        setup_.dirty = true;
        measure.next = static_cast<std::int16_t>(next);
    }
}

void LoopPopup::writeRepeats() {
    const int repeats = repeatsDial_.GetValue();
    std::lock_guard guard(engineLock_);
    Measure& measure = setup_.measures[static_cast<std::size_t>(measure_)];
    if (measure.repeats != repeats) {
        setup_.dirty = true;
        measure.repeats = static_cast<std::int16_t>(repeats);
    }
}

QPoint LoopPopup::placeInside(QPoint wanted) const {
    // A window narrower than selector and panel together shifts the panel left rather than
    // cut off its repeats dial.
    const QSize room = parentWidget()->size();
    return QPoint(std::max(0, std::min(wanted.x(), room.width() - width())),
                  std::max(0, std::min(wanted.y(), room.height() - height())));
}

void LoopPopup::giveKeyboardBack() {
    // The window's focus, not the application's: keys may reach a window that is not active
    // (Wayland tells a window late, or never, that it has the keyboard).
    QWidget* focused = window()->focusWidget();
    if (focused == nullptr || !isAncestorOf(focused)) {
        return;
    }
    // Leaving the field applies its text; the widget that had the keys when the panel opened
    // (the main window's default button, for keys 1..8) has them again.
    if (QWidget* keys = keysBefore_.data(); keys != nullptr && keys->isVisible()) {
        keys->setFocus(Qt::OtherFocusReason);
    } else {
        focused->clearFocus();
    }
}

void LoopPopup::closePanel() {
    giveKeyboardBack();
    hide();
}

void LoopPopup::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            closePanel();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // As leaving the field: its text is normalised and reported on the focus loss.
            giveKeyboardBack();
            return;
        default:
            // A key a field leaves (Ctrl, Shift, F-keys) stays with the panel: going on to the
            // main window it would close the panel or start playing.
            event->accept();
            return;
    }
}

bool LoopPopup::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        ShowControlToolTip(static_cast<QHelpEvent*>(event), this,
                           [this](int id) { return ControlTips::ForLoopPopup(*this, id); });
        return true;
    }
    return QWidget::event(event);
}

void LoopPopup::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The two pixels around the background bitmap show the panel's own darker shade.
    painter.fillRect(rect(), ToQColor(palette_.contrastDarker));
    Canvas dc(painter, event->region());
    PaintControls(dc, this);
}

void LoopPopup::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    // Outside the fields the keys are the main window's again.
    giveKeyboardBack();
    OnControlEvent(EV_PRESS, event->position().toPoint().x(), event->position().toPoint().y(), 0);
}

void LoopPopup::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnControlEvent(EV_RELEASE, event->position().toPoint().x(),
                       event->position().toPoint().y(), 0);
    }
}

void LoopPopup::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnControlEvent(EV_PRESS, event->position().toPoint().x(),
                       event->position().toPoint().y(), 0);
    }
}

void LoopPopup::mouseMoveEvent(QMouseEvent* event) {
    OnControlEvent(EV_MOVE, event->position().toPoint().x(), event->position().toPoint().y(), 0);
}
