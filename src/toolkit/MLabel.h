#pragma once

#include <string>

#include <QFont>

#include "toolkit/MWnd.h"

// A caption in a font of its own (the step numbers of the step columns). Takes no mouse
// input.
class MLabel : public MWnd {
public:
    MLabel() = default;

    void Draw(Canvas& dc) override;

    // Face name and size in tenths of a point. "System" stands for the desktop's own font.
    void SetFont(const std::string& name, int tenthsOfPoint);
    // DT_LEFT / DT_CENTER / DT_RIGHT and DT_TOP / DT_VCENTER / DT_BOTTOM.
    void SetAlignment(int horizontal, int vertical);
    void SetText(const std::string& text);
    QFont MakeFont() const;

private:
    std::string fontName_ = "System";
    int fontSize_ = 90;
    int horizontalAlign_ = 1;
    int verticalAlign_ = 4;
};
