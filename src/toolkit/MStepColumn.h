#pragma once

#include <string>

#include <QBrush>
#include <QFont>

#include "core/IntArray.h"
#include "panels/MShadePalette.h"
#include "toolkit/MBitmapRes.h"
#include "toolkit/MDial.h"
#include "toolkit/MLabel.h"
#include "toolkit/MNoteListDial.h"
#include "toolkit/MToggleButton.h"
#include "toolkit/MWnd.h"

// One step of a measure as a strip of controls on the note bitmap (37 x 162): the step
// number, the on/off toggle, the chord (a note-list dial) and program, velocity, pan and
// duration dials. The parts' ids are the column id plus the StepValue number (On 10,
// Root 20, Program 30, Velocity 40, Pan 50, Duration 60) plus the dial part offset. The
// column never touches a Step: the host moves values in and out by StepValue number and
// relays the parts' events back with OnChildEvent. The column owns its parts.
//
// After Create the parts are visible but the column's own background is not: the host
// calls SetRedraw(true) and Show() when it wants the column on screen, and SetColors to
// give it its colours.
class MStepColumn : public MWnd {
public:
    static constexpr int kWidth = 37;
    static constexpr int kHeight = 162;

    MStepColumn() = default;

    using MWnd::Create;
    using MWnd::SetColors;
    void Create(int id, const std::string& text, int x, int y, ControlHost* host);
    void Draw(Canvas& dc) override;
    void Show() override;
    void Hide() override;
    void SetRedraw(bool flag) override;

    // valueId is a StepValue number; other ids set nothing.
    void SetValue(int valueId, int v);
    // Reads the value back from the part (a dial's field text, the chord's first note).
    // Other ids give valueId - 10.
    int GetValue(int valueId);
    // The part showing valueId; null for ids that are not StepValue numbers.
    MWnd* GetPart(int valueId);
    const IntArray& GetNotes() { return noteDial_.GetNotes(); }
    void SetNotes(const IntArray& notes) { noteDial_.SetNotes(notes); }
    // Moves the chord to start at v (taken as 16 bits signed).
    void SetRoot(int v);
    // Relays an event of part controlId to the dial it belongs to; returns controlId - id.
    int OnChildEvent(int controlId);
    // Derives the column's palette from baseColor and recolours every part.
    void SetColors(ColorRef baseColor);
    // Marks the step that is playing.
    void SetHighlight(bool flag);
    // Whether the column is lit as the step just played.
    bool IsHighlighted() const { return highlighted_; }
    void UseFontAndBrush(const QFont& font, const QBrush& brush);

    const MShadePalette& GetPalette() const { return palette_; }
    MLabel& GetLabel() { return label_; }
    MToggleButton& GetOnOff() { return onOff_; }
    MNoteListDial& GetNoteDial() { return noteDial_; }
    MDial& GetProgramDial() { return programDial_; }
    MDial& GetVelocityDial() { return velocityDial_; }
    MDial& GetPanDial() { return panDial_; }
    MDial& GetDurationDial() { return durationDial_; }
    bool IsCreated() const { return created_; }

private:
    MNoteListDial noteDial_;
    MBitmapRes background_;
    MShadePalette palette_;
    MLabel label_;
    MToggleButton onOff_;
    MDial programDial_;
    MDial velocityDial_;
    MDial panDial_;
    MDial durationDial_;
    bool created_ = false;
    bool highlighted_ = false;
};
