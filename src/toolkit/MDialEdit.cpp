#include "toolkit/MDialEdit.h"

#include <QFocusEvent>
#include <QMouseEvent>

#include "toolkit/ControlHost.h"
#include "toolkit/MDial.h"
#include "toolkit/ToolkitEvents.h"

MDialEdit::MDialEdit() {
    // textEdited fires for typing only, never for setText: programmatic text is no change.
    connect(this, &QLineEdit::textEdited, this, [this] { OnTextEdited(); });
}

void MDialEdit::Create(int id, ControlHost* host, ColorRef textColor, ColorRef backColor, int x,
                       int y, int width, int height, const std::string& alignment, MDial* dial,
                       int style) {
    changed_ = false;
    dial_ = dial;
    redraw_ = true;
    live_ = true;
    MEdit::Create(id, host, textColor, backColor, x, y, width, height, alignment, style);
}

void MDialEdit::OnTextEdited() {
    if (!isModified()) {
        return;
    }
    if (!live_) {
        changed_ = true;
        return;
    }
    if (dial_ != nullptr) {
        dial_->SetValueText(GetText());
    }
    if (host_ != nullptr) {
        host_->OnControlEvent(EV_EDIT_CHANGED, 0, 0, id_);
    }
}

void MDialEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason) {
        // The field's own context menu: the user is still editing.
        return;
    }
    ClearSelectionOnFocusLoss();
    if (dial_ != nullptr) {
        dial_->CommitEdit();
    }
    if (host_ != nullptr) {
        host_->OnControlEvent(EV_FOCUSLOST, 0, 0, id_);
    }
    if (!live_ && changed_) {
        changed_ = false;
        if (host_ != nullptr) {
            host_->OnControlEvent(EV_EDIT_CHANGED, 0, 0, id_);
        }
    }
}

void MDialEdit::mousePressEvent(QMouseEvent* event) {
    if (host_ != nullptr) {
        if (event->button() == Qt::LeftButton) {
            host_->OnControlEvent(EV_EDIT_CLICK, 0, 0, id_);
        } else if (event->button() == Qt::RightButton) {
            host_->OnControlEvent(EV_EDIT_RCLICK, 0, 0, id_);
        }
    }
    QLineEdit::mousePressEvent(event);
}

void MDialEdit::SetRedraw(bool flag) {
    redraw_ = flag;
    // Unlike a native redraw switch this never shows the field, so it needs no visibility test.
    setUpdatesEnabled(flag);
}

void MDialEdit::ShowIfRedraw() {
    if (redraw_) {
        show();
    }
}

void MDialEdit::HideIfRedraw() {
    if (redraw_) {
        hide();
    }
}
