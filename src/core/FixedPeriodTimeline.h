#pragma once

#include "StepTimeline.h"

// The program's own schedule: step k is due k step periods after the pass began, computed from
// the start rather than summed, so rounding never accumulates. A tempo change re-anchors the
// schedule at the step that played last. The Player's default timeline; owned by the Player.
class FixedPeriodTimeline : public StepTimeline {
public:
    std::int64_t begin(std::int64_t nowUs, double periodMs, bool alone) override;
    void end(bool alone) override;
    void resume(std::int64_t lastStep, std::int64_t lastDueUs, double periodMs) override;
    void retime(std::int64_t lastStep, double periodMs) override;
    std::int64_t dueUs(std::int64_t step) override;

private:
    std::int64_t anchorStep_ = 0;
    std::int64_t anchorUs_ = 0;
    double periodMs_ = 0.0;
};
