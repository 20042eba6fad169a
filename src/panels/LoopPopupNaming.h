#pragma once

#include <string>
#include <vector>

#include "toolkit/AccessibleNaming.h"

class LoopPopup;

// The loop panel's words for a screen reader: "Next loop" and "Repeats" with their arrows,
// and the tooltips as descriptions. Owned by the panel.
class LoopPopupNaming : public AccessibleNaming {
public:
    explicit LoopPopupNaming(LoopPopup& popup) : popup_(popup) {}

    std::string Name(int controlId) override;
    std::string Description(int controlId) override;
    std::vector<std::string> ExtraActions(int) override { return {}; }
    void DoExtraAction(int, const std::string&) override {}

private:
    LoopPopup& popup_;
};
