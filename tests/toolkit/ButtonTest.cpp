// Press tracking, toggles, selector groups and the bitmap holder.
#include <gtest/gtest.h>

#include <QPainter>

#include "ToolkitTestSupport.h"
#include "toolkit/Canvas.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MBitmapRes.h"
#include "toolkit/MBmpStatic.h"
#include "toolkit/MButton.h"
#include "toolkit/MButtonGroup.h"
#include "toolkit/MToggleButton.h"
#include "toolkit/ToolkitEvents.h"

namespace {

constexpr ColorRef kRed = MakeColorRef(255, 0, 0);
constexpr ColorRef kWhite = MakeColorRef(255, 255, 255);
constexpr ColorRef kBlue = MakeColorRef(0, 0, 255);
constexpr ColorRef kYellow = MakeColorRef(255, 255, 0);

TEST(MButton, PressDragOutAndBackThenReleaseActsOnce) {
    TestHost host;
    MButton button;
    button.Create(100, "", 10, 10, 30, 30, &host);
    button.SetColors(kRed, kWhite);

    EXPECT_EQ(DispatchMouse(EV_PRESS, 15, 15, &host), 100);
    EXPECT_TRUE(button.IsPressed());
    EXPECT_EQ(capturedControl, &button);
    // Pressed look: a two-pixel band in the text colour along the left and top edges.
    QImage image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 10, 10), kRed);
    EXPECT_EQ(TestHost::PixelAt(image, 12, 12), kWhite);

    EXPECT_EQ(DispatchMouse(EV_MOVE, 40, 40, &host), 0);
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(TestHost::PixelAt(host.Render(), 10, 10), kWhite);

    EXPECT_EQ(DispatchMouse(EV_MOVE, 20, 20, &host), 0);
    EXPECT_TRUE(button.IsPressed());

    EXPECT_EQ(DispatchMouse(EV_RELEASE, 20, 20, &host), 100);
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(capturedControl, nullptr);
    // A second release without a press does nothing.
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 20, 20, &host), 0);
}

TEST(MButton, ReleaseOutsideDoesNotActAndTheNextPressStartsClean) {
    TestHost host;
    MButton first;
    first.Create(110, "", 0, 0, 10, 10, &host);
    MButton second;
    second.Create(111, "", 20, 0, 30, 10, &host);

    EXPECT_EQ(DispatchMouse(EV_PRESS, 5, 5, &host), 110);
    EXPECT_EQ(DispatchMouse(EV_MOVE, 50, 50, &host), 0);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 50, 50, &host), 0);
    EXPECT_EQ(capturedControl, nullptr);
    EXPECT_FALSE(first.IsPressed());

    // Release over the other button after leaving the first: still no action anywhere.
    EXPECT_EQ(DispatchMouse(EV_PRESS, 5, 5, &host), 110);
    EXPECT_EQ(DispatchMouse(EV_MOVE, 25, 5, &host), 0);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 25, 5, &host), 0);

    EXPECT_EQ(DispatchMouse(EV_PRESS, 25, 5, &host), 111);
    EXPECT_EQ(capturedControl, &second);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 25, 5, &host), 111);
}

TEST(MButton, SecondaryPressIsReportedButDoesNotPress) {
    TestHost host;
    MButton button;
    button.Create(120, "", 0, 0, 10, 10, &host);
    EXPECT_EQ(DispatchMouse(EV_RPRESS, 5, 5, &host), 120);
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(DispatchMouse(EV_RPRESS, 15, 5, &host), 0);
}

TEST(MToggleButton, ClickFlipsTheStateAndTheRestingLook) {
    TestHost host;
    MToggleButton toggle;
    toggle.Create(130, "", 10, 10, &host, "ONOFFUP", "ONOFFDN");
    ASSERT_EQ(toggle.GetRect(), (MRect{10, 10, 27, 27}));
    toggle.SetPressColors(kRed, kWhite, kBlue, kYellow);
    toggle.SetState(1);

    // State 1 rests in the down picture (a filled square) in the pressed colours.
    QImage image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 14, 14), kBlue);
    EXPECT_EQ(TestHost::PixelAt(image, 10, 10), kYellow);

    EXPECT_EQ(DispatchMouse(EV_PRESS, 14, 14, &host), 130);
    // Held, it shows the up picture (one short line) in the normal colours.
    image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 14, 14), kWhite);
    EXPECT_EQ(TestHost::PixelAt(image, 16, 18), kRed);
    EXPECT_EQ(toggle.GetState(), 1);

    EXPECT_EQ(DispatchMouse(EV_RELEASE, 14, 14, &host), 130);
    EXPECT_EQ(toggle.GetState(), 0);
    EXPECT_EQ(capturedControl, nullptr);
    image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 14, 14), kWhite);

    DispatchMouse(EV_PRESS, 14, 14, &host);
    DispatchMouse(EV_RELEASE, 14, 14, &host);
    EXPECT_EQ(toggle.GetState(), 1);

    // Dragged off and released outside: no toggle.
    DispatchMouse(EV_PRESS, 14, 14, &host);
    DispatchMouse(EV_MOVE, 100, 100, &host);
    DispatchMouse(EV_RELEASE, 100, 100, &host);
    EXPECT_EQ(toggle.GetState(), 1);
}

TEST(MToggleButton, StateChangeWhileHiddenKeepsItHidden) {
    TestHost host;
    MToggleButton toggle;
    toggle.Create(140, "", 0, 0, &host, "ONOFFUP", "ONOFFDN");
    toggle.Hide();
    toggle.SetState(1);
    EXPECT_FALSE(toggle.IsVisible());
    EXPECT_EQ(toggle.GetState(), 1);
    toggle.Show();
    EXPECT_TRUE(toggle.IsVisible());
}

class ButtonGroupTest : public ::testing::Test {
protected:
    void SetUp() override { group.Create(500, "LOOPSCTRL", 79, 0, &host, 8, false); }

    TestHost host{120, 200};
    MButtonGroup group;
};

TEST_F(ButtonGroupTest, EightDistinctSelectorsStackedUpwards) {
    ASSERT_EQ(group.GetCount(), 8);
    for (int i = 0; i < 8; ++i) {
        MGroupButton* element = group.GetElement(i);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(element->GetId(), 501 + i);
        EXPECT_EQ(element->GetRect(), MRect::FromSize(79, 144 - 20 * i, 10, 18)) << i;
        const std::string number = std::to_string(i + 1);
        EXPECT_EQ(element->GetUpBitmap().GetName(), "LOOPSCTRL" + number + "UP");
        EXPECT_EQ(element->GetDownBitmap().GetName(), "LOOPSCTRL" + number + "DN");
        // "GENCUR" does not exist: the host's own cursor applies over the selectors.
        EXPECT_FALSE(element->GetCursor().has_value());
    }
    EXPECT_EQ(group.GetRect(), (MRect{79, 4, 89, 162}));
    EXPECT_FALSE(group.IsVisible());
    EXPECT_EQ(group.GetElement(8), nullptr);
    EXPECT_EQ(group.GetElementRect(-1), MRect{});
}

TEST_F(ButtonGroupTest, SelectionMovesTheUpLook) {
    EXPECT_EQ(group.GetSelected(), 0);
    EXPECT_EQ(group.GetElement(0)->GetState(), 0);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(group.GetElement(i)->GetState(), 1);
    }
    group.Select(5);
    group.Select(3);
    EXPECT_EQ(group.GetElement(5)->GetState(), 1);
    EXPECT_EQ(group.GetElement(3)->GetState(), 0);
    EXPECT_EQ(group.GetElement(0)->GetState(), 1);
    EXPECT_EQ(group.GetSelected(), 3);

    group.Select(-1);
    EXPECT_EQ(group.GetSelected(), -1);
    EXPECT_EQ(group.GetElement(3)->GetState(), 1);
    // Nothing to clear now; an index past the end is stored and selects nothing.
    group.Select(8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(group.GetElement(i)->GetState(), 1);
    }
}

TEST_F(ButtonGroupTest, ClickOnASelectorThenSelectById) {
    const MRect third = group.GetElementRect(2);
    EXPECT_EQ(DispatchMouse(EV_PRESS, third.left + 3, third.top + 3, &host), 503);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, third.left + 3, third.top + 3, &host), 503);
    group.SelectById(503);
    EXPECT_EQ(group.GetSelected(), 2);
    EXPECT_EQ(group.GetElement(2)->GetState(), 0);
    EXPECT_EQ(group.GetElement(0)->GetState(), 1);

    // Clicking the selected one keeps it selected.
    DispatchMouse(EV_PRESS, third.left + 3, third.top + 3, &host);
    DispatchMouse(EV_RELEASE, third.left + 3, third.top + 3, &host);
    group.SelectById(503);
    EXPECT_EQ(group.GetElement(2)->GetState(), 0);
}

TEST_F(ButtonGroupTest, HighlightMovesAndDrawsInTheHighlightColours) {
    group.SetColorsAll(kRed, kWhite, kRed, kYellow, kBlue, kBlue, kBlue, kBlue, kRed, kWhite);
    group.Highlight(2);
    EXPECT_TRUE(group.GetElement(2)->GetUseHighlight());
    group.Highlight(4);
    EXPECT_FALSE(group.GetElement(2)->GetUseHighlight());
    EXPECT_TRUE(group.GetElement(4)->GetUseHighlight());
    EXPECT_EQ(group.GetHighlighted(), 4);

    const QImage image = host.Render();
    const MRect lit = group.GetElementRect(4);
    const MRect plain = group.GetElementRect(5);
    EXPECT_EQ(TestHost::PixelAt(image, lit.left, lit.top), kBlue);
    // Unselected elements rest in the down look: frame in the pressed text colour.
    EXPECT_EQ(TestHost::PixelAt(image, plain.left, plain.top), kRed);
    EXPECT_EQ(TestHost::PixelAt(image, plain.left + 1, plain.top + 1), kYellow);

    group.Highlight(-1);
    EXPECT_FALSE(group.GetElement(4)->GetUseHighlight());
}

TEST_F(ButtonGroupTest, SharedBitmapsUseOnePair) {
    MButtonGroup shared;
    shared.Create(600, "ONOFF", 0, 0, &host, 2, true);
    EXPECT_EQ(shared.GetElement(0)->GetUpBitmap().GetName(), "ONOFFUP");
    EXPECT_EQ(shared.GetElement(1)->GetDownBitmap().GetName(), "ONOFFDN");
}

TEST(MBitmapRes, HoldsNoPictureBetweenPaintsUnlessKeptLoaded) {
    MBitmapRes fleeting(false);
    fleeting.SetName("NOTEBMP");
    EXPECT_EQ(fleeting.GetSize(), QSize(37, 162));
    EXPECT_FALSE(fleeting.HoldsBitmap());

    QImage target(40, 170, QImage::Format_RGB32);
    QPainter painter(&target);
    Canvas dc(painter, QRegion(target.rect()));
    fleeting.Blit(dc, kRed, kWhite, 0, 0);
    EXPECT_FALSE(fleeting.HoldsBitmap());

    MBitmapRes kept;
    kept.SetName("NOTEBMP");
    EXPECT_TRUE(kept.HoldsBitmap());
    EXPECT_EQ(kept.GetSize(), QSize(37, 162));
}

TEST(MBitmapRes, MissingBitmapMeasuresZeroAndGivesAnEmptyButton) {
    MBitmapRes missing;
    missing.SetName("NOSUCHBMP");
    EXPECT_EQ(missing.GetSize(), QSize(0, 0));

    TestHost host;
    MBmpButton button;
    button.Create(700, "", 5, 5, &host, "NOSUCHUP", "NOSUCHDN");
    EXPECT_TRUE(button.GetRect().IsEmpty());
    EXPECT_EQ(DispatchMouse(EV_PRESS, 5, 5, &host), 0);
    host.Render();
}

TEST(MBmpStatic, DrawsThroughItsColourPairAndTakesNoMouse) {
    TestHost host;
    MBmpStatic background;
    background.Create(0, "GLOBALBMP", 0, 0, &host, "GLOBALBMP");
    EXPECT_EQ(background.GetRect(), (MRect{0, 0, 79, 166}));
    background.SetColors(kRed, kWhite);
    const QImage image = host.Render();
    // The picture uses both colours, nothing else.
    bool sawRed = false;
    bool sawWhite = false;
    for (int y = 0; y < 166; ++y) {
        for (int x = 0; x < 79; ++x) {
            const ColorRef c = TestHost::PixelAt(image, x, y);
            ASSERT_TRUE(c == kRed || c == kWhite) << x << "," << y;
            sawRed |= c == kRed;
            sawWhite |= c == kWhite;
        }
    }
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawWhite);
    EXPECT_EQ(DispatchMouse(EV_PRESS, 10, 10, &host), 0);
}

}  // namespace
