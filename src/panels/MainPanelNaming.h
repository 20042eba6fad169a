#pragma once

#include <string>
#include <vector>

#include "toolkit/AccessibleNaming.h"

class MainPanel;
class Setup;

// The main window's words for a screen reader: each control's name ("Step 3 velocity",
// "Loop 5", "Tempo"), its tooltip as the description, and the right-click functions (the
// program menu, the loop panel) as named actions. Owned by the main panel.
class MainPanelNaming : public AccessibleNaming {
public:
    static constexpr const char* kLoopPanelAction = "Loop panel";
    static constexpr const char* kProgramMenuAction = "Program menu";

    MainPanelNaming(MainPanel& panel, const Setup& setup) : panel_(panel), setup_(setup) {}

    std::string Name(int controlId) override;
    std::string Description(int controlId) override;
    QAccessible::Role Role(int controlId, QAccessible::Role standard) override;
    std::vector<std::string> ExtraActions(int controlId) override;
    void DoExtraAction(int controlId, const std::string& action) override;

private:
    std::string ColumnPartName(int column, int part) const;

    MainPanel& panel_;
    const Setup& setup_;
};
