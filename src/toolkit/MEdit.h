#pragma once

#include <optional>
#include <string>

#include <QBrush>
#include <QCursor>
#include <QFont>
#include <QLineEdit>

#include "toolkit/ColorRef.h"
#include "toolkit/MRect.h"

class ControlHost;

// Style bits accepted by MEdit::Create; a non-zero style replaces the computed one.
constexpr int ES_CENTER = 0x0001;
constexpr int ES_RIGHT = 0x0002;
constexpr int WS_TABSTOP = 0x00010000;
constexpr int WS_VISIBLE = 0x10000000;
// Child, visible, clip siblings, auto horizontal scroll, selection kept when unfocused.
constexpr int MEDIT_BASE_STYLE = 0x54000180;

// A real single-line text field in the program's colours, font and cursor: the only kind of
// toolkit control that is a child widget. Its parent is the host widget, which owns it.
// Text set by the program never counts as typing (the modified flag is cleared). A right
// click is the host's alone: the field has no context menu of its own.
class MEdit : public QLineEdit {
    Q_OBJECT

public:
    MEdit();

    // Colours of 0 mean the desktop defaults. alignment is "left", "center" or "right".
    // Fields with no area are left out of the Tab chain.
    void Create(int id, ControlHost* host, ColorRef textColor, ColorRef backColor, int x, int y,
                int width, int height, const std::string& alignment, int style = 0);

    void SetColors(ColorRef textColor, ColorRef backColor);
    // An empty name means "Arial", a size of 0 means 9 points; sizes in tenths of a point.
    void SetFont(const std::string& name, int tenthsOfPoint);
    // Shared font and brush, owned by whoever hands them in (the panel).
    void UseFont(const QFont& font);
    void UseBrush(const QBrush& brush);
    // Sets the text without marking the field as typed in; unless the field has the focus,
    // its start is in view.
    void SetText(const std::string& text);
    std::string GetText() const;
    void SetTabStop(bool flag);

    const MRect& GetRect() const { return rect_; }
    int GetId() const { return id_; }
    ColorRef GetTextColor() const { return textColor_; }
    ColorRef GetBackColor() const { return backColor_; }
    bool HasExternalBrush() const { return externalBrush_; }
    bool HasExternalFont() const { return externalFont_; }
    // The brush the field background is painted with; none until colours or a brush arrive.
    const std::optional<QBrush>& GetBrush() const { return brush_; }

protected:
    void focusOutEvent(QFocusEvent* event) override;
    // Drops the selection and brings the caret into view, as on every focus loss.
    void ClearSelectionOnFocusLoss();
    void ApplyPalette();

    ColorRef textColor_ = 0;
    ColorRef backColor_ = 0;
    MRect rect_;
    int id_ = 0;
    ControlHost* host_ = nullptr;
    std::optional<QBrush> brush_;
    std::optional<QCursor> cursor_;
    bool externalBrush_ = false;
    bool externalFont_ = false;
};
