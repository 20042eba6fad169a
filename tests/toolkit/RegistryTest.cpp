// The registry walks: who gets the mouse, who sets the cursor, who is drawn on top.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolkitTestSupport.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MButton.h"
#include "toolkit/MLabel.h"
#include "toolkit/ToolkitEvents.h"

namespace {

constexpr ColorRef kRed = MakeColorRef(255, 0, 0);
constexpr ColorRef kBlue = MakeColorRef(0, 0, 255);

TEST(ControlRegistry, NewerOverlappingControlTakesTheMouseAndIsDrawnOnTop) {
    TestHost host;
    MButton older;
    older.Create(11, "", 10, 10, 40, 40, &host);
    older.SetColors(kRed, kRed);
    MButton newer;
    newer.Create(12, "", 20, 20, 50, 50, &host);
    newer.SetColors(kBlue, kBlue);

    EXPECT_EQ(DispatchMouse(EV_PRESS, 25, 25, &host), 12);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 25, 25, &host), 12);
    // Outside the newer one the older one still answers.
    EXPECT_EQ(DispatchMouse(EV_PRESS, 15, 15, &host), 11);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 15, 15, &host), 11);

    const QImage image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 25, 25), kBlue);
    EXPECT_EQ(TestHost::PixelAt(image, 39, 39), kBlue);
    EXPECT_EQ(TestHost::PixelAt(image, 15, 15), kRed);
    EXPECT_EQ(TestHost::PixelAt(image, 45, 45), kBlue);
    EXPECT_EQ(TestHost::PixelAt(image, 5, 5), host.background);
}

TEST(ControlRegistry, MWndTypesNeverTakeTheMouseOrSetTheCursor) {
    TestHost host;
    MButton button;
    button.Create(21, "", 10, 10, 30, 30, &host);
    button.SetCursorName("PUSHCUR");
    ASSERT_TRUE(button.GetCursor().has_value());
    // A label over the button, newer, so it is asked first.
    MLabel label;
    label.Create(22, "7", 5, 5, 40, 40, &host);

    EXPECT_EQ(DispatchMouse(EV_PRESS, 20, 20, &host), 21);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 20, 20, &host), 21);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 20, 20, &host), 21);
    // Over the label only: nothing.
    EXPECT_EQ(DispatchMouse(EV_PRESS, 7, 7, &host), 0);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 7, 7, &host), 0);
}

TEST(ControlRegistry, HiddenButtonOrButtonWithoutCursorSetsNoCursor) {
    TestHost host;
    MButton withCursor;
    withCursor.Create(31, "", 10, 10, 30, 30, &host);
    withCursor.SetCursorName("PUSHCUR");
    MButton withoutCursor;
    withoutCursor.Create(32, "", 50, 10, 70, 30, &host);

    host.setCursor(Qt::CrossCursor);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 20, 20, &host), 31);
    EXPECT_EQ(host.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 60, 20, &host), 0);

    withCursor.Hide();
    host.setCursor(Qt::CrossCursor);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 20, 20, &host), 0);
    EXPECT_EQ(host.cursor().shape(), Qt::CrossCursor);
    // Hidden buttons take no mouse input either.
    EXPECT_EQ(DispatchMouse(EV_PRESS, 20, 20, &host), 0);
}

TEST(ControlRegistry, RightAndBottomEdgesLieOutside) {
    TestHost host;
    MButton button;
    button.Create(41, "", 10, 10, 20, 20, &host);
    button.SetCursorName("PUSHCUR");

    EXPECT_EQ(UpdateCursor(EV_MOVE, 19, 19, &host), 41);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 20, 15, &host), 0);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 15, 20, &host), 0);
    EXPECT_EQ(DispatchMouse(EV_PRESS, 20, 15, &host), 0);
    EXPECT_EQ(DispatchMouse(EV_PRESS, 15, 20, &host), 0);
    EXPECT_EQ(DispatchMouse(EV_PRESS, 10, 10, &host), 41);
    DispatchMouse(EV_RELEASE, 10, 10, &host);
}

TEST(ControlRegistry, ShowAndHideDoNothingWhileRedrawIsOff) {
    TestHost host;
    MButton button;
    button.Create(51, "", 0, 0, 10, 10, &host);
    EXPECT_TRUE(button.IsVisible());
    EXPECT_TRUE(button.IsRedraw());

    button.Hide();
    EXPECT_FALSE(button.IsVisible());
    button.SetRedraw(false);
    host.invalidated.clear();
    button.Show();
    EXPECT_FALSE(button.IsVisible());
    EXPECT_TRUE(host.invalidated.empty());

    button.SetRedraw(true);
    button.Show();
    EXPECT_TRUE(button.IsVisible());
    ASSERT_EQ(host.invalidated.size(), 1u);
    EXPECT_EQ(host.invalidated[0], (MRect{0, 0, 10, 10}));
}

TEST(ControlRegistry, ControlsOfOtherHostsAreLeftAlone) {
    TestHost first;
    TestHost second;
    MButton button;
    button.Create(61, "", 0, 0, 10, 10, &first);
    button.SetCursorName("PUSHCUR");
    EXPECT_EQ(DispatchMouse(EV_PRESS, 5, 5, &second), 0);
    EXPECT_EQ(UpdateCursor(EV_MOVE, 5, 5, &second), 0);
    EXPECT_FALSE(button.IsPressed());
}

TEST(ControlRegistry, DestroyedControlLeavesTheRegistryAndTheCapture) {
    TestHost host;
    const std::size_t before = ControlRegistry::Instance().Count();
    {
        MButton button;
        button.Create(71, "", 0, 0, 10, 10, &host);
        EXPECT_EQ(ControlRegistry::Instance().Count(), before + 1);
        EXPECT_EQ(DispatchMouse(EV_PRESS, 5, 5, &host), 71);
        EXPECT_EQ(capturedControl, &button);
    }
    EXPECT_EQ(ControlRegistry::Instance().Count(), before);
    EXPECT_EQ(capturedControl, nullptr);
    // The walks no longer reach it.
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 5, 5, &host), 0);
    host.Render();
}

// Records the virtual calls that creation makes on it.
class RecordingControl : public MWnd {
public:
    void SetColors(ColorRef textColor, ColorRef backColor) override {
        calls.push_back("SetColors");
        MWnd::SetColors(textColor, backColor);
    }
    void SetRedraw(bool flag) override {
        calls.push_back(flag ? "SetRedraw(true)" : "SetRedraw(false)");
        MWnd::SetRedraw(flag);
    }
    void Show() override {
        calls.push_back("Show");
        MWnd::Show();
    }
    std::vector<std::string> calls;
};

TEST(ControlRegistry, CreationRegistersThenCallsTheOverrides) {
    TestHost host;
    RecordingControl control;
    control.CreateAt(91, "", 1, 2, 3, 4, &host);
    EXPECT_EQ(control.calls, (std::vector<std::string>{"SetColors", "SetRedraw(true)", "Show"}));
    EXPECT_EQ(control.GetRect(), (MRect{1, 2, 4, 6}));
    EXPECT_EQ(ControlRegistry::Instance().Controls().back(), &control);
}

TEST(ControlRegistry, CreationAppliesDesktopColoursThroughTheVirtualSetter) {
    TestHost host;
    MButton button;
    button.Create(81, "", 0, 0, 10, 10, &host);
    EXPECT_EQ(button.GetTextColor(), GetSysColor(SysColor::Highlight));
    EXPECT_EQ(button.GetBackColor(), GetSysColor(SysColor::ButtonFace));
    // MButton's override also copied them into the pressed pair.
    EXPECT_EQ(button.GetPressedTextColor(), GetSysColor(SysColor::Highlight));
    EXPECT_EQ(button.GetPressedBackColor(), GetSysColor(SysColor::ButtonFace));
    EXPECT_EQ(button.GetTypeName(), "MButton");
}

}  // namespace
