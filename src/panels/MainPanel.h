#pragma once

#include <QBrush>
#include <QFont>
#include <array>
#include <memory>
#include <optional>

#include "panels/LoopPopup.h"
#include "panels/MShadePalette.h"
#include "panels/MainPanelNaming.h"
#include "panels/MenuBar.h"
#include "toolkit/MBmpStatic.h"
#include "toolkit/MButtonGroup.h"
#include "toolkit/MDial.h"
#include "toolkit/MEdit.h"
#include "toolkit/MStepColumn.h"
#include "toolkit/MTempoDial.h"
#include "toolkit/MToggleButton.h"

class ControlHost;
class EngineLock;
class Setup;

// Everything in the main window's client area: sixteen step columns, play and mute, the
// tempo, volume and transpose dials, the eight loop selectors, the menu bar buttons, the
// status line and the loop popup, all coloured from one palette. Created once by the main
// window and kept until it closes; the controls are drawn and hit-tested by the toolkit.
class MainPanel {
public:
    // The setup's stepsPerMeasure follows the visible columns; it is written under the engine
    // lock because the step routine reads it.
    MainPanel(Setup& setup, EngineLock& engineLock);
    MainPanel(const MainPanel&) = delete;
    MainPanel& operator=(const MainPanel&) = delete;
    virtual ~MainPanel();

    // Builds every control, in the order that decides which control lies on top.
    void Create(ControlHost& host);

    void ApplyBaseColor(ColorRef baseColor);
    // Shows the columns that fit the host's client width and stores their number as the
    // setup's stepsPerMeasure.
    void LayoutColumns();
    // Resizes the main window so that exactly n columns fit, then LayoutColumns().
    void FitWindowToColumns(int n);
    void ShowStatus(const std::string& text);
    // Opens the loop popup beside loop selector n (0..7).
    void OpenLoopPopup(int n);
    // Opens the program menu of step column `column` under its program field.
    void OpenProgramMenu(int column);

    MStepColumn& Column(int index) { return *columns_[static_cast<std::size_t>(index)]; }
    MButtonGroup& LoopGroup() { return loopGroup_; }
    MenuBar& Menu() { return menuBar_; }
    MTempoDial& TempoDial() { return tempoDial_; }
    MDial& VolumeDial() { return volumeDial_; }
    MDial& TransposeDial() { return transposeDial_; }
    MToggleButton& PlayButton() { return playButton_; }
    MToggleButton& MuteButton() { return muteButton_; }
    MEdit& StatusLine() { return statusLine_; }
    LoopPopup& Popup() { return loopPopup_; }
    const MShadePalette& Palette() const { return palette_; }
    const QFont& TextFont() const { return textFont_; }
    bool IsReady() const { return ready_; }
    int VisibleColumns() const;

private:
    void CreateColumns();
    void OrderTabStops();

    Setup& setup_;
    EngineLock& engineLock_;
    ControlHost* host_ = nullptr;
    MBmpStatic background_;
    MToggleButton playButton_;
    MToggleButton muteButton_;
    MTempoDial tempoDial_;
    MDial volumeDial_;
    MDial transposeDial_;
    MenuBar menuBar_;
    MButtonGroup loopGroup_;
    std::array<std::unique_ptr<MStepColumn>, 16> columns_;
    MShadePalette palette_;
    MEdit statusLine_;
    QFont textFont_;
    QBrush textBrush_;
    bool ready_ = false;
    LoopPopup loopPopup_;
    // The words for screen readers; attached to the host once every control exists.
    MainPanelNaming naming_{*this, setup_};
};
