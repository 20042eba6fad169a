#include "toolkit/MButtonGroup.h"

#include "core/TextFormat.h"

void MButtonGroup::Create(int id, const std::string& text, int x, int y, ControlHost* host,
                          int count, bool sharedBitmaps) {
    MWnd::CreateAt(id, text, x, y, 10, 10, host);
    Hide();
    count_ = count > 0 ? count : 0;
    sharedBitmaps_ = sharedBitmaps;
    ownFaceHidden_ = true;
    elements_ = std::make_unique<MGroupButton[]>(static_cast<std::size_t>(count_));
    MRect area;
    for (int i = 1; i <= count_; ++i) {
        const std::string number = sharedBitmaps_ ? std::string() : TextFormat::formatInt(i);
        MGroupButton& element = elements_[static_cast<std::size_t>(i - 1)];
        // The elements' places are fixed in the host; y only matters for the group's own face.
        element.Create(id + i, "", x, 144 - 20 * (i - 1), host, text + number + "UP",
                       text + number + "DN");
        element.SetCursorName("GENCUR");
        element.SetState(1);
        element.SetUseHighlight(false);
        area = area.United(element.GetRect());
    }
    rect_ = area;
    Select(0);
    highlighted_ = -1;
    if (IsValid(0)) {
        elements_[0].SetState(0);
    }
    Show();
}

void MButtonGroup::Show() {
    if (!ownFaceHidden_) {
        MWnd::Show();
    }
    for (int i = 0; i < count_; ++i) {
        elements_[static_cast<std::size_t>(i)].Show();
    }
}

void MButtonGroup::Hide() {
    MWnd::Hide();
    for (int i = 0; i < count_; ++i) {
        elements_[static_cast<std::size_t>(i)].Hide();
    }
}

void MButtonGroup::Select(int index) {
    if (IsValid(selected_)) {
        elements_[static_cast<std::size_t>(selected_)].SetState(1);
        elements_[static_cast<std::size_t>(selected_)].Show();
    }
    if (IsValid(index)) {
        elements_[static_cast<std::size_t>(index)].SetState(0);
        elements_[static_cast<std::size_t>(index)].Show();
    }
    selected_ = index;
}

void MButtonGroup::Highlight(int index) {
    if (IsValid(highlighted_)) {
        elements_[static_cast<std::size_t>(highlighted_)].SetUseHighlight(false);
        elements_[static_cast<std::size_t>(highlighted_)].Show();
    }
    if (IsValid(index)) {
        elements_[static_cast<std::size_t>(index)].SetUseHighlight(true);
        elements_[static_cast<std::size_t>(index)].Show();
    }
    highlighted_ = index;
}

MRect MButtonGroup::GetElementRect(int index) const {
    return IsValid(index) ? elements_[static_cast<std::size_t>(index)].GetRect() : MRect{};
}

MGroupButton* MButtonGroup::GetElement(int index) {
    return IsValid(index) ? &elements_[static_cast<std::size_t>(index)] : nullptr;
}

void MButtonGroup::SetColorsAll(ColorRef text, ColorRef back, ColorRef pressedText,
                                ColorRef pressedBack, ColorRef highlightUpText,
                                ColorRef highlightUpBack, ColorRef highlightDownText,
                                ColorRef highlightDownBack, ColorRef ownText, ColorRef ownBack) {
    for (int i = 0; i < count_; ++i) {
        elements_[static_cast<std::size_t>(i)].SetAllColors(text, back, pressedText, pressedBack,
                                                            highlightUpText, highlightUpBack,
                                                            highlightDownText, highlightDownBack);
    }
    SetColors(ownText, ownBack);
}
