#pragma once

#include "toolkit/MEdit.h"

class MDial;

// The text field of an MDial. What the user types goes to the dial and is reported to the
// host as EV_EDIT_CHANGED: at once for every keystroke in a live field, and only when the
// field loses the focus otherwise. Leaving the field reports EV_FOCUSLOST first, then the
// pending change. Clicks in the field report EV_EDIT_CLICK and EV_EDIT_RCLICK.
class MDialEdit : public MEdit {
    Q_OBJECT

public:
    MDialEdit();

    void Create(int id, ControlHost* host, ColorRef textColor, ColorRef backColor, int x, int y,
                int width, int height, const std::string& alignment, MDial* dial, int style = 0);

    void SetLive(bool flag) { live_ = flag; }
    bool IsLive() const { return live_; }
    bool HasPendingChange() const { return changed_; }
    // Mirrors the dial's redraw state: while off, the field is neither shown nor hidden.
    void SetRedraw(bool flag);
    bool IsRedraw() const { return redraw_; }
    void ShowIfRedraw();
    void HideIfRedraw();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void OnTextEdited();

    MDial* dial_ = nullptr;
    bool live_ = true;
    bool changed_ = false;
    bool redraw_ = true;
};
