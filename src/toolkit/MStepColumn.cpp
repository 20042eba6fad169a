#include "toolkit/MStepColumn.h"

#include <cstdint>

#include "core/StepValue.h"
#include "toolkit/Canvas.h"
#include "toolkit/ControlAccessibility.h"

namespace {

constexpr int kOn = static_cast<int>(StepValue::On);
constexpr int kRoot = static_cast<int>(StepValue::Root);
constexpr int kProgram = static_cast<int>(StepValue::Program);
constexpr int kVelocity = static_cast<int>(StepValue::Velocity);
constexpr int kPan = static_cast<int>(StepValue::Pan);
constexpr int kDuration = static_cast<int>(StepValue::Duration);

}  // namespace

void MStepColumn::Create(int id, const std::string& text, int x, int y, ControlHost* host) {
    background_.SetName("NOTEBMP");
    const QSize size = background_.GetSize();
    MWnd::Create(id, text, x, y, x + size.width(), y + size.height(), host);

    label_.CreateAt(id, text, x + 12, y + 2, 23, 16, host);

    onOff_.Create(id + kOn, "", x + 12, y + 30, host, "ONOFFUP", "ONOFFDN");
    onOff_.SetCursorName("PUSHCUR");
    onOff_.SetState(1);

    noteDial_.Create(DialParams{.id = id + kRoot,
                                .x = x + 1,
                                .y = y + 63,
                                .upBitmapBase = "UPARROW",
                                .downBitmapBase = "DNARROW",
                                .downDy = 9,
                                .host = host,
                                .fieldDx = 7,
                                .fieldDy = 2,
                                .fieldWidth = 21,
                                .fieldHeight = 15,
                                .min = -59,
                                .max = 67,
                                .ctrlMultiplier = 12});
    noteDial_.SetLive(true);

    programDial_.Create(DialParams{.id = id + kProgram,
                                   .x = x + 1,
                                   .y = y + 96,
                                   .upBitmapBase = "UPARROW",
                                   .downBitmapBase = "DNARROW",
                                   .downDy = 9,
                                   .host = host,
                                   .fieldDx = 7,
                                   .fieldDy = 2,
                                   .fieldWidth = 21,
                                   .fieldHeight = 15,
                                   .min = -1,
                                   .max = 127,
                                   .ctrlMultiplier = 10});
    programDial_.SetLive(true);

    velocityDial_.Create(DialParams{.id = id + kVelocity,
                                    .x = x + 30,
                                    .y = y + 19,
                                    .upBitmapBase = "UPARROW",
                                    .upDy = 115,
                                    .downBitmapBase = "DNARROW",
                                    .downDy = 124,
                                    .host = host,
                                    .min = 0,
                                    .max = 127,
                                    .ctrlMultiplier = 10,
                                    .barWidth = 6,
                                    .barHeight = 115,
                                    .thumbSize = 2,
                                    .barHorizontal = false});
    velocityDial_.HideField();
    velocityDial_.SetValue(100);

    panDial_.Create(DialParams{.id = id + kPan,
                               .x = x + 2,
                               .y = y + 130,
                               .upBitmapBase = "",
                               .downBitmapBase = "",
                               .host = host,
                               .min = 0,
                               .max = 127,
                               .ctrlMultiplier = 18,
                               .barWidth = 27,
                               .barHeight = 7,
                               .thumbSize = 5,
                               .barHorizontal = true});
    panDial_.HideField();
    panDial_.SetValue(64);
    panDial_.HideButtons();

    durationDial_.Create(DialParams{.id = id + kDuration,
                                    .x = x + 2,
                                    .y = y + 153,
                                    .upBitmapBase = "",
                                    .downBitmapBase = "",
                                    .host = host,
                                    .min = 0,
                                    .max = 17,
                                    .ctrlMultiplier = 18,
                                    .barWidth = 27,
                                    .barHeight = 7,
                                    .thumbSize = 2,
                                    .barHorizontal = true});
    durationDial_.HideField();
    durationDial_.SetValue(64);
    durationDial_.HideButtons();

    created_ = true;
}

void MStepColumn::Draw(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_)) {
        return;
    }
    background_.Blit(dc, textColor_, backColor_, rect_.left, rect_.top);
    dc.ExcludeClipRect(rect_);
}

void MStepColumn::Show() {
    if (!created_) {
        return;
    }
    label_.Show();
    onOff_.Show();
    noteDial_.Show();
    programDial_.Show();
    velocityDial_.Show();
    panDial_.Show();
    durationDial_.Show();
    MWnd::Show();
}

void MStepColumn::Hide() {
    if (!created_) {
        return;
    }
    label_.Hide();
    onOff_.Hide();
    noteDial_.Hide();
    programDial_.Hide();
    velocityDial_.Hide();
    panDial_.Hide();
    durationDial_.Hide();
    MWnd::Hide();
}

void MStepColumn::SetRedraw(bool flag) {
    if (!created_) {
        return;
    }
    label_.SetRedraw(flag);
    onOff_.SetRedraw(flag);
    noteDial_.SetRedraw(flag);
    programDial_.SetRedraw(flag);
    velocityDial_.SetRedraw(flag);
    panDial_.SetRedraw(flag);
    durationDial_.SetRedraw(flag);
    MWnd::SetRedraw(flag);
}

void MStepColumn::SetValue(int valueId, int v) {
    switch (valueId) {
        case kOn: onOff_.SetState(v != 0 ? 1 : 0); break;
        case kRoot: noteDial_.SetFirstNote(v); break;
        case kProgram: programDial_.SetValue(v); break;
        case kVelocity: velocityDial_.SetValue(v); break;
        case kPan: panDial_.SetValue(v); break;
        case kDuration: durationDial_.SetValue(v); break;
        default: break;
    }
}

int MStepColumn::GetValue(int valueId) {
    switch (valueId) {
        case kOn: return onOff_.GetState();
        case kRoot: return noteDial_.ParseNotes();
        case kProgram: return programDial_.GetValue();
        case kVelocity: return velocityDial_.GetValue();
        case kPan: return panDial_.GetValue();
        case kDuration: return durationDial_.GetValue();
        default: return valueId - 10;
    }
}

MWnd* MStepColumn::GetPart(int valueId) {
    switch (valueId) {
        case kOn: return &onOff_;
        case kRoot: return &noteDial_;
        case kProgram: return &programDial_;
        case kVelocity: return &velocityDial_;
        case kPan: return &panDial_;
        case kDuration: return &durationDial_;
        default: return nullptr;
    }
}

void MStepColumn::SetRoot(int v) { noteDial_.SetFirstNote(static_cast<std::int16_t>(v)); }

int MStepColumn::OnChildEvent(int controlId) {
    const int d = controlId - id_;
    if (d >= kRoot && d <= kRoot + 5) {
        noteDial_.OnChildEvent(controlId);
    } else if (d >= kProgram && d <= kProgram + 5) {
        programDial_.OnChildEvent(controlId);
    } else if (d >= kVelocity && d <= kVelocity + 5) {
        velocityDial_.OnChildEvent(controlId);
    } else if (d >= kPan && d <= kPan + 5) {
        panDial_.OnChildEvent(controlId);
    } else if (d >= kDuration && d <= kDuration + 5) {
        durationDial_.OnChildEvent(controlId);
    }
    return d;
}

void MStepColumn::SetColors(ColorRef baseColor) {
    palette_.DeriveFrom(baseColor);
    const MShadePalette& p = palette_;
    SetTextColor(p.base);
    SetBackColor(p.contrast);
    onOff_.SetPressColors(p.contrastDarker, p.contrast, p.contrastDarker, p.contrastLighter);
    noteDial_.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base, 0, 0, 0);
    programDial_.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base, 0, 0, 0);
    // Above the velocity level the note bitmap shows through.
    velocityDial_.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base,
                               p.contrastDarker, NO_COLOR, p.lighter);
    panDial_.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base,
                          p.contrastDarker, p.contrastDarker, p.contrastLighter);
    durationDial_.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base,
                               p.contrastDarker, p.contrast, p.lighter);
    SetHighlight(false);
    Show();
}

void MStepColumn::SetHighlight(bool flag) {
    highlighted_ = flag;
    if (flag) {
        ControlAccessibility::NotifyPlayingStep(this);
        label_.SetColors(palette_.contrast, palette_.lightest);
    } else {
        label_.SetColors(palette_.lighter, palette_.base);
    }
}

void MStepColumn::UseFontAndBrush(const QFont& font, const QBrush& brush) {
    noteDial_.UseFieldFontAndBrush(font, brush);
    programDial_.UseFieldFontAndBrush(font, brush);
    velocityDial_.UseFieldFontAndBrush(font, brush);
    panDial_.UseFieldFontAndBrush(font, brush);
    durationDial_.UseFieldFontAndBrush(font, brush);
}
