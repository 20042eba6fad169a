#include "toolkit/MDial.h"

#include <algorithm>
#include <cstdint>

#include "core/TextFormat.h"
#include "toolkit/InputState.h"

MDial::~MDial() {
    delete field_.data();
}

void MDial::Create(const DialParams& p) {
    created_ = false;
    host_ = p.host;
    min_ = p.min;
    max_ = p.max;
    ctrlMultiplier_ = p.ctrlMultiplier;
    // The dial's own (empty) area is registered before its parts, so the parts cover it.
    MWnd::Create(p.id, "dial", p.x, p.y, p.x, p.y, p.host);

    upButton_.Create(p.id + 1, "up", p.x + p.upDx, p.y + p.upDy, p.host, p.upBitmapBase + "UP",
                     p.upBitmapBase + "DN");
    upButton_.SetCursorName("UPCUR");
    downButton_.Create(p.id + 2, "dn", p.x + p.downDx, p.y + p.downDy, p.host,
                       p.downBitmapBase + "UP", p.downBitmapBase + "DN");
    downButton_.SetCursorName("DNCUR");
    if (p.upBitmapBase.empty()) {
        hasButtons_ = false;
    }

    bar_.Create(p.id + 4, "bar", p.x + p.barDx, p.y + p.barDy, p.barWidth, p.barHeight, p.host,
                p.barHorizontal);
    bar_.SetRange(min_, max_);
    bar_.SetThumbSize(p.thumbSize);
    bar_.SetCursorName(p.barHorizontal ? "BARHCUR" : "BARVCUR");
    if (p.barWidth == 0 && p.barHeight == 0) {
        hasBar_ = false;
    }

    delete field_.data();
    auto* field = new MDialEdit();
    field->Create(p.id + 3, p.host, 0, 0, p.x + p.fieldDx, p.y + p.fieldDy, p.fieldWidth,
                  p.fieldHeight, "center", this);
    field_ = field;
    if (p.fieldWidth == 0 && p.fieldHeight == 0) {
        hasField_ = false;
    }

    rect_ = upButton_.GetRect()
                .United(downButton_.GetRect())
                .United(field->GetRect())
                .United(bar_.GetRect());
    SetValue((max_ - min_) / 2);
    noFace_ = true;
    // The field starts live; a dial's field is not until the dial's owner says so.
    SetLive(false);
    created_ = true;
    SetRedraw(true);
    Show();
}

void MDial::Draw(Canvas& dc) {
    if (!noFace_) {
        MWnd::Draw(dc);
    }
}

void MDial::Show() {
    if (!created_) {
        return;
    }
    if (hasButtons_) {
        upButton_.Show();
        downButton_.Show();
    }
    if (hasBar_) {
        bar_.Show();
    }
    if (MDialEdit* field = field_.data(); hasField_ && field != nullptr) {
        field->ShowIfRedraw();
    }
    MWnd::Show();
}

void MDial::Hide() {
    if (!created_) {
        return;
    }
    visible_ = false;
    MWnd::Hide();
    if (hasButtons_) {
        upButton_.Hide();
        downButton_.Hide();
    }
    if (hasBar_) {
        bar_.Hide();
    }
    if (MDialEdit* field = field_.data(); hasField_ && field != nullptr) {
        field->HideIfRedraw();
    }
}

void MDial::SetRedraw(bool flag) {
    if (!created_) {
        return;
    }
    MWnd::SetRedraw(flag);
    upButton_.SetRedraw(flag);
    downButton_.SetRedraw(flag);
    if (MDialEdit* field = field_.data()) {
        field->SetRedraw(flag);
    }
    bar_.SetRedraw(flag);
}

int MDial::Clamp(long long v) const {
    return static_cast<int>(std::clamp<long long>(v, min_, max_ < min_ ? min_ : max_));
}

void MDial::WriteField(const std::string& text) {
    if (MDialEdit* field = field_.data()) {
        field->SetText(text);
    }
}

std::string MDial::ReadField() const {
    const MDialEdit* field = field_.data();
    return field != nullptr ? field->GetText() : std::string();
}

void MDial::SetValue(int v) {
    value_ = Clamp(v);
    bar_.SetValue(value_);
    WriteField(TextFormat::formatInt(value_));
}

int MDial::GetValue() {
    if (field_) {
        value_ = TextFormat::parseInt(ReadField());
    }
    return value_;
}

void MDial::SetValueNoText(int v) {
    value_ = Clamp(v);
    bar_.SetValue(value_);
}

void MDial::OnChildEvent(int childId) {
    switch (childId - id_) {
        case 1:
            StepBy(+1);
            break;
        case 2:
            StepBy(-1);
            break;
        case 4:
            SetValue(bar_.GetValue());
            break;
        default:
            break;
    }
}

void MDial::SetLive(bool flag) {
    live_ = flag;
    if (MDialEdit* field = field_.data()) {
        field->SetLive(flag);
    }
}

void MDial::SetNoFace(bool flag) {
    noFace_ = flag;
    const bool wasVisible = visible_;
    Hide();
    if (wasVisible) {
        Show();
    }
}

void MDial::SetColorsAll(ColorRef buttonText, ColorRef buttonBack, ColorRef fieldText,
                         ColorRef fieldBack, ColorRef barFill, ColorRef barRest, ColorRef thumb) {
    SetRedraw(false);
    textColor_ = fieldBack;
    backColor_ = fieldBack;
    upButton_.SetColors(buttonText, buttonBack);
    downButton_.SetColors(buttonText, buttonBack);
    if (MDialEdit* field = field_.data()) {
        field->SetColors(fieldText, fieldBack);
    }
    bar_.SetBarColors(barFill, barRest, thumb);
    SetRedraw(true);
    if (visible_) {
        Show();
    }
}

void MDial::UseFieldFontAndBrush(const QFont& font, const QBrush& brush) {
    if (MDialEdit* field = field_.data()) {
        field->UseFont(font);
        field->UseBrush(brush);
    }
}

void MDial::HideField() {
    if (MDialEdit* field = field_.data()) {
        field->HideIfRedraw();
    }
}

void MDial::ShowField() {
    if (MDialEdit* field = field_.data(); created_ && field != nullptr) {
        field->ShowIfRedraw();
    }
}

void MDial::HideButtons() {
    upButton_.Hide();
    downButton_.Hide();
}

void MDial::ShowButtons() {
    upButton_.Show();
    downButton_.Show();
}

void MDial::HideBar() {
    bar_.Hide();
}

void MDial::ShowBar() {
    bar_.Show();
}

void MDial::StepBy(int delta) {
    long long step = static_cast<std::int16_t>(delta);
    InputState& input = InputState::Current();
    if (input.IsControlHeld()) {
        step *= ctrlMultiplier_;
    }
    value_ = Clamp(value_ + step);
    if (input.IsPrimaryButtonHeld()) {
        input.WaitForPrimaryRelease();
    }
    SetValue(value_);
}

void MDial::SetValueText(const std::string& text) {
    if (!live_) {
        return;
    }
    int v = TextFormat::parseInt(text);
    if (v > max_) {
        SetValue(max_);
        v = max_;
    }
    if (v < min_) {
        SetValue(min_);
        v = min_;
    }
    SetValueNoText(v);
}

void MDial::CommitEdit() {
    if (GetValue() > max_) {
        SetValue(max_);
    }
    if (GetValue() < min_) {
        SetValue(min_);
    }
    SetValue(TextFormat::parseInt(ReadField()));
}
