#pragma once

#include <memory>
#include <string>

#include "toolkit/MGroupButton.h"
#include "toolkit/MWnd.h"

// A column of selectors of which one is selected (the loop selectors of the main panel).
// Element i (from 0) has id group id + 1 + i and sits at y 144 - 20 i in the host, so the
// first one is lowest. The selected element rests in its up look, all others in their down
// look. The group itself takes no mouse input: the host relays a selector's id with
// SelectById. The group owns its elements.
class MButtonGroup : public MWnd {
public:
    MButtonGroup() = default;

    using MWnd::Create;
    // With sharedBitmaps every element uses text + "UP" / "DN", otherwise text + the element's
    // number (from 1) + "UP" / "DN".
    void Create(int id, const std::string& text, int x, int y, ControlHost* host, int count,
                bool sharedBitmaps);
    void Show() override;
    void Hide() override;

    // An invalid index only clears the old selection.
    void Select(int index);
    void SelectById(int controlId) { Select(controlId - id_ - 1); }
    int GetSelected() const { return selected_; }
    void Highlight(int index);
    int GetHighlighted() const { return highlighted_; }
    // Empty for an invalid index.
    MRect GetElementRect(int index) const;
    int GetCount() const { return count_; }
    // Null for an invalid index.
    MGroupButton* GetElement(int index);

    // The first eight colours go to every element (MGroupButton::SetAllColors), the last
    // two are the group's own pair.
    void SetColorsAll(ColorRef text, ColorRef back, ColorRef pressedText, ColorRef pressedBack,
                      ColorRef highlightUpText, ColorRef highlightUpBack,
                      ColorRef highlightDownText, ColorRef highlightDownBack, ColorRef ownText,
                      ColorRef ownBack);

private:
    bool IsValid(int index) const { return index >= 0 && index < count_; }

    std::unique_ptr<MGroupButton[]> elements_;
    int count_ = 0;
    int selected_ = -1;
    int highlighted_ = -1;
    bool sharedBitmaps_ = false;
    bool ownFaceHidden_ = false;
};
