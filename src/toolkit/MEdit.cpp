#include "toolkit/MEdit.h"

#include <QFocusEvent>
#include <QPalette>

#include "toolkit/ControlHost.h"
#include "toolkit/PointFont.h"
#include "toolkit/Resources.h"

MEdit::MEdit() : QLineEdit(nullptr) {
    // Qt's own Undo/Cut/Copy/Paste menu would open on top of the program's menu for the same
    // click: a right click belongs to the host (the program menu of a step's program field).
    setContextMenuPolicy(Qt::NoContextMenu);
}

void MEdit::Create(int id, ControlHost* host, ColorRef textColor, ColorRef backColor, int x, int y,
                   int width, int height, const std::string& alignment, int style) {
    rect_ = MRect::FromSize(x, y, width, height);
    id_ = id;
    host_ = host;
    textColor_ = textColor != 0 ? textColor : GetSysColor(SysColor::Highlight);
    backColor_ = backColor != 0 ? backColor : GetSysColor(SysColor::ButtonFace);

    int computed = MEDIT_BASE_STYLE;
    if (width > 0 && height > 0) {
        computed |= WS_TABSTOP;
    }
    if (alignment == "right") {
        computed |= ES_RIGHT;
    } else if (alignment == "center") {
        computed |= ES_CENTER;
    }
    if (style != 0) {
        computed = style;
    }

    setParent(host != nullptr ? host->HostWidget() : nullptr);
    setObjectName(QStringLiteral("edit%1").arg(id));
    setFrame(false);
    setTextMargins(0, 0, 0, 0);
    setContentsMargins(0, 0, 0, 0);
    // A field with no area still exists (it stores a dial's value) but may not shrink to
    // QLineEdit's minimum size.
    setMinimumSize(0, 0);
    setGeometry(rect_.ToQRect());
    if (computed & ES_CENTER) {
        setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    } else if (computed & ES_RIGHT) {
        setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    } else {
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    SetTabStop((computed & WS_TABSTOP) != 0);
    ApplyPalette();
    SetFont("Arial", 70);
    cursor_ = Resources::LoadCursor("TEXTCUR");
    if (cursor_) {
        setCursor(*cursor_);
    }
    setVisible((computed & WS_VISIBLE) != 0);
}

void MEdit::SetTabStop(bool flag) {
    setFocusPolicy(flag ? Qt::StrongFocus : Qt::ClickFocus);
}

void MEdit::SetColors(ColorRef textColor, ColorRef backColor) {
    textColor_ = textColor;
    backColor_ = backColor;
    if (!externalBrush_) {
        brush_ = QBrush(ToQColor(backColor));
    }
    ApplyPalette();
}

void MEdit::ApplyPalette() {
    QPalette colours = palette();
    const QColor text = ToQColor(textColor_);
    const QBrush background = brush_ ? *brush_ : QBrush(ToQColor(backColor_));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Text, text);
        colours.setBrush(group, QPalette::Base, background);
        // The selection shows the field's own colours swapped.
        colours.setColor(group, QPalette::Highlight, text);
        colours.setColor(group, QPalette::HighlightedText, ToQColor(backColor_));
    }
    setPalette(colours);
}

void MEdit::SetFont(const std::string& name, int tenthsOfPoint) {
    setFont(PointFont(name.empty() ? std::string("Arial") : name,
                      tenthsOfPoint == 0 ? 90 : tenthsOfPoint));
    externalFont_ = false;
}

void MEdit::UseFont(const QFont& font) {
    externalFont_ = true;
    setFont(font);
}

void MEdit::UseBrush(const QBrush& brush) {
    externalBrush_ = true;
    brush_ = brush;
    ApplyPalette();
}

void MEdit::SetText(const std::string& text) {
    setText(QString::fromStdString(text));
    setModified(false);
    // A text wider than the field shows its start (a chord's root), never its end with the
    // start cut at the left edge. While the user types the caret stays where the typing is.
    if (!hasFocus()) {
        setCursorPosition(0);
    }
}

std::string MEdit::GetText() const {
    return text().toStdString();
}

void MEdit::ClearSelectionOnFocusLoss() {
    // The caret stays where it is; QLineEdit keeps it in view by itself.
    deselect();
}

void MEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason) {
        ClearSelectionOnFocusLoss();
    }
}
