// The text label: background, text, and what shows when it is hidden.
#include <gtest/gtest.h>

#include "ToolkitTestSupport.h"
#include "toolkit/MLabel.h"

namespace {

constexpr ColorRef kInk = MakeColorRef(10, 10, 10);
constexpr ColorRef kPaper = MakeColorRef(250, 240, 200);
constexpr ColorRef kBelow = MakeColorRef(0, 0, 200);

int CountPixels(const QImage& image, const MRect& rect, ColorRef colour) {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            count += TestHost::PixelAt(image, x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

TEST(MLabel, EmptyTextPaintsOnlyTheBackground) {
    TestHost host;
    MLabel label;
    label.CreateAt(1, "", 10, 10, 23, 16, &host);
    label.SetColors(kInk, kPaper);
    const QImage image = host.Render();
    EXPECT_EQ(CountPixels(image, label.GetRect(), kPaper), 23 * 16);
}

TEST(MLabel, TextIsDrawnCentredInTwoColours) {
    TestHost host;
    MLabel label;
    label.CreateAt(1, "16", 10, 10, 23, 16, &host);
    label.SetColors(kInk, kPaper);
    const QImage image = host.Render();
    const int ink = CountPixels(image, label.GetRect(), kInk);
    EXPECT_GT(ink, 10);
    // Crisp: every pixel is ink or paper, nothing in between.
    EXPECT_EQ(ink + CountPixels(image, label.GetRect(), kPaper), 23 * 16);
    // Centred: no ink in the outer columns.
    EXPECT_EQ(CountPixels(image, MRect{10, 10, 12, 26}, kInk), 0);
    EXPECT_EQ(CountPixels(image, MRect{31, 10, 33, 26}, kInk), 0);
}

TEST(MLabel, HiddenLabelLeavesItsAreaToTheControlsBelow) {
    TestHost host;
    MWnd below;
    below.Create(0, "", 0, 0, 60, 60, &host);
    below.SetColors(kBelow, kBelow);
    MLabel label;
    label.CreateAt(1, "3", 10, 10, 23, 16, &host);
    label.SetColors(kInk, kPaper);
    label.Hide();
    EXPECT_FALSE(label.IsVisible());
    const QImage image = host.Render();
    EXPECT_EQ(CountPixels(image, label.GetRect(), kBelow), 23 * 16);
}

}  // namespace
