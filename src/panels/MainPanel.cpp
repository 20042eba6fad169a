#include "panels/MainPanel.h"

#include <QWidget>
#include <algorithm>
#include <mutex>

#include "core/EngineLock.h"
#include "core/Setup.h"
#include "core/StepValue.h"
#include "core/TextFormat.h"
#include "panels/PanelIds.h"
#include "toolkit/ColorRef.h"
#include "toolkit/ControlAccessibility.h"
#include "toolkit/ControlHost.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/Resources.h"

using namespace PanelIds;

MainPanel::MainPanel(Setup& setup, EngineLock& engineLock)
    : setup_(setup), engineLock_(engineLock), loopPopup_(setup, engineLock) {}

MainPanel::~MainPanel() {
    if (host_ != nullptr) {
        ControlAccessibility::Detach(host_);
    }
}

void MainPanel::Create(ControlHost& host) {
    host_ = &host;
    ready_ = false;
    // Arial 7 pt, drawn without antialiasing for the crisp two-colour look of the fields.
    textFont_ = QFont("Arial");
    textFont_.setPointSizeF(7.0);
    textFont_.setStyleStrategy(QFont::NoAntialias);
    palette_.DeriveFrom(GetSysColor(SysColor::Highlight));
    textBrush_ = QBrush(ToQColor(palette_.contrast));

    CreateColumns();
    OrderTabStops();

    background_.Create(0, "GLOBALBMP", 0, 0, &host, "GLOBALBMP");
    playButton_.Create(ID_PLAY, "PLAYBTN", 36, 60, &host, "PLAY2UP", "PLAY2DN");
    playButton_.SetCursorName("PUSHCUR");
    playButton_.SetState(0);
    muteButton_.Create(ID_MUTE, "MUTEBTN", 40, 92, &host, "ONOFFUP", "ONOFFDN");
    muteButton_.SetCursorName("PUSHCUR");
    muteButton_.SetState(1);  // on: sound is on

    tempoDial_.Create(DialParams{.id = ID_TEMPO, .x = 18, .y = 146,
                                 .upBitmapBase = "UPARROW", .upDx = 0, .upDy = 0,
                                 .downBitmapBase = "DNARROW", .downDx = 0, .downDy = 9,
                                 .host = &host, .fieldDx = 7, .fieldDy = 3, .fieldWidth = 53,
                                 .fieldHeight = 13, .min = 0, .max = 1000000,
                                 .ctrlMultiplier = 10});
    tempoDial_.SetNoFace(false);
    tempoDial_.SetLive(false);

    volumeDial_.Create(DialParams{.id = ID_VOLUME, .x = 2, .y = 2,
                                  .upBitmapBase = "UPARROW", .upDx = 0, .upDy = 144,
                                  .downBitmapBase = "DNARROW", .downDx = 0, .downDy = 153,
                                  .host = &host, .min = 0, .max = 100, .ctrlMultiplier = 10,
                                  .barWidth = 6, .barHeight = 135, .thumbSize = 2});
    volumeDial_.HideField();
    volumeDial_.SetValue(100);

    transposeDial_.Create(DialParams{.id = ID_TRANSPOSE, .x = 10, .y = 2,
                                     .upBitmapBase = "UPARROW", .upDx = 0, .upDy = 144,
                                     .downBitmapBase = "DNARROW", .downDx = 0, .downDy = 153,
                                     .host = &host, .min = -59, .max = 67,
                                     .ctrlMultiplier = 12, .barWidth = 6, .barHeight = 135,
                                     .thumbSize = 2});
    transposeDial_.HideField();
    transposeDial_.SetValue(100);  // clamped to 67 until the setup is shown

    menuBar_.Create("menu", 22, 4, host);
    loopGroup_.Create(ID_LOOPS, "LOOPSCTRL", 79, 0, &host, 8, false);
    loopPopup_.create(host.HostWidget());
    loopPopup_.recolour(palette_);

    statusLine_.Create(ID_STATUS, &host, palette_.contrastDarker, palette_.contrast, 0,
                       kClientHeight, kClientWidthMax, 13, "left");
    statusLine_.SetTabStop(false);
    ControlAccessibility::Attach(&host, &naming_);
    ready_ = true;
}

void MainPanel::CreateColumns() {
    // Right to left: the registry offers the newest control the mouse first, so a column's
    // fields overlap its right-hand neighbour correctly.
    for (int col = kColumnCount - 1; col >= 0; --col) {
        auto column = std::make_unique<MStepColumn>();
        column->Create(columnId(col), TextFormat::formatInt(col + 1),
                       kFirstColumnX + kColumnPitch * col, 2, host_);
        column->UseFontAndBrush(textFont_, textBrush_);
        columns_[static_cast<std::size_t>(col)] = std::move(column);
    }
}

void MainPanel::OrderTabStops() {
    // Tab visits the sixteen note fields left to right, then the sixteen program fields.
    QWidget* previous = nullptr;
    for (const StepValue part : {StepValue::Root, StepValue::Program}) {
        for (int col = 0; col < kColumnCount; ++col) {
            MStepColumn& column = Column(col);
            MDialEdit* field = part == StepValue::Root ? column.GetNoteDial().GetField()
                                                       : column.GetProgramDial().GetField();
            if (field == nullptr) {
                continue;
            }
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, field);
            }
            previous = field;
        }
    }
}

void MainPanel::ApplyBaseColor(ColorRef baseColor) {
    palette_.DeriveFrom(baseColor);
    textBrush_ = QBrush(ToQColor(palette_.base));
    for (auto& column : columns_) {
        column->SetColors(baseColor);
        column->UseFontAndBrush(textFont_, textBrush_);
    }
    background_.SetColors(palette_.base, palette_.lightest);
    playButton_.SetPressColors(palette_.contrastDarker, palette_.contrast, palette_.darker,
                               palette_.lighter);
    muteButton_.SetPressColors(palette_.lighter, palette_.base, palette_.darker,
                               palette_.lighter);
    tempoDial_.SetColorsAll(palette_.lighter, palette_.darker, palette_.darker, palette_.lighter,
                            0, 0, 0);
    for (MDial* dial : {&volumeDial_, &transposeDial_}) {
        dial->SetColorsAll(palette_.lighter, palette_.darker, palette_.darker, palette_.lighter,
                           palette_.lighter, palette_.darker, palette_.contrast);
    }
    loopGroup_.SetColorsAll(palette_.base, palette_.lightest, palette_.base, palette_.contrast,
                            palette_.contrastDarker, palette_.contrastLighter,
                            palette_.contrastDarker, palette_.contrastLighter, palette_.base,
                            palette_.contrast);
    menuBar_.recolour(baseColor);
    loopPopup_.recolour(palette_);
    statusLine_.SetColors(palette_.contrast, palette_.contrastDarker);
    if (host_ != nullptr && host_->HostWidget() != nullptr) {
        host_->HostWidget()->update();
    }
}

int MainPanel::VisibleColumns() const {
    int visible = 0;
    for (const auto& column : columns_) {
        visible += column->IsVisible() ? 1 : 0;
    }
    return visible;
}

void MainPanel::LayoutColumns() {
    if (host_ == nullptr || host_->HostWidget() == nullptr) {
        return;
    }
    const int n = columnsForWidth(host_->HostWidget()->width());
    bool changed = false;
    for (int col = 0; col < kColumnCount; ++col) {
        MStepColumn& column = Column(col);
        if (col < n && !column.IsVisible()) {
            column.Show();
            changed = true;
        } else if (col >= n && column.IsVisible()) {
            column.Hide();
            changed = true;
        }
    }
    if (changed) {
        ControlAccessibility::NotifyChildrenChanged(host_);
    }
    std::lock_guard guard(engineLock_);
    setup_.stepsPerMeasure = n;
}

void MainPanel::FitWindowToColumns(int n) {
    if (host_ == nullptr || host_->HostWidget() == nullptr) {
        return;
    }
    QWidget* window = host_->HostWidget()->window();
    window->resize(widthForColumns(std::clamp(n, 1, kColumnCount)), window->height());
    LayoutColumns();
}

void MainPanel::ShowStatus(const std::string& text) { statusLine_.SetText(text); }

void MainPanel::OpenProgramMenu(int column) {
    MDialEdit* field =
        column >= 0 && column < kColumnCount ? Column(column).GetProgramDial().GetField() : nullptr;
    if (field == nullptr) {
        return;
    }
    const QPoint below = field->mapToGlobal(QPoint(0, field->height()));
    menuBar_.openProgramMenuAt(column, below.x(), below.y());
}

void MainPanel::OpenLoopPopup(int n) {
    if (host_ == nullptr || host_->HostWidget() == nullptr || n < 0 ||
        n >= loopGroup_.GetCount()) {
        return;
    }
    const MRect selector = loopGroup_.GetElementRect(n);
    const QPoint topRight =
        host_->HostWidget()->mapToGlobal(QPoint(selector.right, selector.top - 1));
    loopPopup_.open(topRight.x(), topRight.y(), n);
}
