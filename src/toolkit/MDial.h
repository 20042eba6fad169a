#pragma once

#include <string>

#include <QBrush>
#include <QFont>
#include <QPointer>

#include "toolkit/MBar.h"
#include "toolkit/MBmpButton.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/MWnd.h"

// Placement and range of a dial; offsets are relative to (x, y). A part whose area is empty
// (no bitmap base, no field size, no bar size) still exists but is never shown by the dial.
struct DialParams {
    int id = 0;
    int x = 0;
    int y = 0;
    std::string upBitmapBase;
    int upDx = 0;
    int upDy = 0;
    std::string downBitmapBase;
    int downDx = 0;
    int downDy = 0;
    ControlHost* host = nullptr;
    int fieldDx = 0;
    int fieldDy = 0;
    int fieldWidth = 0;
    int fieldHeight = 0;
    int min = 0;
    int unused = 0;
    int max = 0;
    int ctrlMultiplier = 1;
    int barDx = 0;
    int barDy = 0;
    int barWidth = 0;
    int barHeight = 0;
    int thumbSize = 0;
    bool barHorizontal = false;
};

// One integer in a range, edited through up to four parts: an up arrow (id + 1), a down arrow
// (id + 2), a text field (id + 3) and a bar (id + 4). The dial takes no mouse input itself:
// the parts report to the host, and the host hands their ids back with OnChildEvent. The
// field's text is where the value lives: GetValue reads it back each time.
class MDial : public MWnd {
public:
    MDial() = default;
    ~MDial() override;

    using MWnd::Create;
    void Create(const DialParams& params);
    void Draw(Canvas& dc) override;
    void Show() override;
    void Hide() override;
    void SetRedraw(bool flag) override;

    // Typed text of a live field: applied at once, clamped, without rewriting an in-range
    // text. No effect while not live.
    virtual void SetValueText(const std::string& text);
    // The field lost the focus: normalise its text to a value inside the range.
    virtual void CommitEdit();
    // One arrow step (delta +1 or -1), times the Ctrl multiplier while Ctrl is held. Waits
    // for the primary button's release before showing the result.
    virtual void StepBy(int delta);

    // Clamps, then shows v in the bar and the field.
    void SetValue(int v);
    // The number in the field's text (not clamped).
    int GetValue();
    void SetValueNoText(int v);
    // Relays an event of part childId: arrows step, the bar's value is taken over.
    void OnChildEvent(int childId);
    void SetLive(bool flag);
    bool IsLive() const { return live_; }
    void SetNoFace(bool flag);
    void SetColorsAll(ColorRef buttonText, ColorRef buttonBack, ColorRef fieldText,
                      ColorRef fieldBack, ColorRef barFill, ColorRef barRest, ColorRef thumb);
    void UseFieldFontAndBrush(const QFont& font, const QBrush& brush);
    void HideField();
    void ShowField();
    void HideButtons();
    void ShowButtons();
    void HideBar();
    void ShowBar();

    // Null before creation, and after the host widget has deleted its children.
    MDialEdit* GetField() const { return field_; }
    MBmpButton& GetUpButton() { return upButton_; }
    MBmpButton& GetDownButton() { return downButton_; }
    MBar& GetBar() { return bar_; }
    int GetMin() const { return min_; }
    int GetMax() const { return max_; }
    int GetStoredValue() const { return value_; }
    bool IsCreated() const { return created_; }

protected:
    int Clamp(long long v) const;
    void WriteField(const std::string& text);
    std::string ReadField() const;

    MBmpButton upButton_;
    MBmpButton downButton_;
    // Parented to the host widget, which deletes it with its children if it goes first.
    QPointer<MDialEdit> field_;
    MBar bar_;
    int value_ = 0;
    int min_ = 0;
    int max_ = 0;
    int ctrlMultiplier_ = 1;
    bool noFace_ = true;
    bool live_ = false;
    bool created_ = false;
    bool hasButtons_ = true;
    bool hasBar_ = true;
    bool hasField_ = true;
};
