// Bars, dials, note lists and the tempo dial.
#include <gtest/gtest.h>

#include "ToolkitTestSupport.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MBar.h"
#include "toolkit/MDial.h"
#include "toolkit/MNoteListDial.h"
#include "toolkit/MTempoDial.h"
#include "toolkit/ToolkitEvents.h"

namespace {

constexpr ColorRef kRed = MakeColorRef(255, 0, 0);
constexpr ColorRef kGreen = MakeColorRef(0, 255, 0);
constexpr ColorRef kBlue = MakeColorRef(0, 0, 255);
constexpr ColorRef kGrey = MakeColorRef(128, 128, 128);

std::vector<int> ToVector(const IntArray& notes) {
    return {notes.begin(), notes.end()};
}

class BarTest : public ::testing::Test {
protected:
    void SetUp() override {
        pan.Create(300, "bar", 2, 130, 27, 7, &host, true);
        pan.SetRange(0, 127);
    }
    TestHost host;
    MBar pan;
};

TEST_F(BarTest, HorizontalValueFromPoint) {
    EXPECT_EQ(DispatchMouse(EV_PRESS, 2, 132, &host), 300);
    EXPECT_EQ(pan.GetValue(), 0);
    EXPECT_EQ(DispatchMouse(EV_MOVE, 2 + 13, 132, &host), 300);
    EXPECT_EQ(pan.GetValue(), 61);
    // Dragging past the right end, even outside the host, gives the maximum.
    EXPECT_EQ(DispatchMouse(EV_MOVE, 400, 132, &host), 300);
    EXPECT_EQ(pan.GetValue(), 127);
    EXPECT_EQ(DispatchMouse(EV_MOVE, -40, 500, &host), 300);
    EXPECT_EQ(pan.GetValue(), 0);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 2 + 26, 900, &host), 300);
    EXPECT_EQ(pan.GetValue(), 122);
    EXPECT_EQ(capturedControl, nullptr);
    // Not pressed any more: moves are not taken.
    EXPECT_EQ(DispatchMouse(EV_MOVE, 10, 132, &host), 0);
    EXPECT_EQ(pan.GetValue(), 122);
}

TEST_F(BarTest, PressOutsideIsNotTaken) {
    EXPECT_EQ(DispatchMouse(EV_PRESS, 29, 132, &host), 0);
    EXPECT_EQ(DispatchMouse(EV_PRESS, 10, 137, &host), 0);
    EXPECT_EQ(pan.GetValue(), 25);
    EXPECT_FALSE(pan.IsPressed());
}

TEST(MBar, VerticalValueFromPointGrowsUpwards) {
    TestHost host;
    MBar bar;
    bar.Create(310, "bar", 30, 19, 6, 115, &host, false);
    bar.SetRange(0, 127);
    EXPECT_EQ(bar.ValueFromPoint(32, 10), 127);
    EXPECT_EQ(bar.ValueFromPoint(32, 200), 0);
    EXPECT_EQ(bar.ValueFromPoint(32, 134), 0);
    EXPECT_EQ(bar.ValueFromPoint(32, 19), 127);
    // 57 of 115 pixels above the bottom: 57 / 115 * 127 = 62.9.
    EXPECT_EQ(bar.ValueFromPoint(32, 134 - 57), 62);
}

TEST(MBar, DegenerateBarsNeitherDivideByZeroNorPaintOutside) {
    TestHost host;
    MBar flat;
    flat.Create(320, "bar", 10, 10, 0, 0, &host, true);
    flat.SetRange(5, 5);
    EXPECT_EQ(flat.ValueFromPoint(10, 10), 5);
    MBar wild;
    wild.Create(321, "bar", 50, 10, 6, 40, &host, false);
    wild.SetRange(0, 100);
    wild.SetBarColors(kRed, kBlue, kGreen);
    wild.SetValue(100000);
    const QImage image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 52, 5), host.background);
    EXPECT_EQ(TestHost::PixelAt(image, 52, 30), kRed);
}

TEST(MBar, VerticalAreasInNoColourShowWhatLiesBehind) {
    TestHost host;
    // An older control behind the bar.
    MWnd behind;
    behind.Create(0, "", 0, 0, 50, 150, &host);
    behind.SetColors(kGrey, kGrey);
    MBar bar;
    bar.Create(330, "bar", 10, 10, 6, 100, &host, false);
    bar.SetRange(0, 100);
    bar.SetThumbSize(2);
    bar.SetBarColors(kRed, NO_COLOR, kGreen);
    bar.SetValue(50);

    const QImage image = host.Render();
    // Level at y = 110 - 50 = 60; the thumb covers 59 and 60.
    EXPECT_EQ(TestHost::PixelAt(image, 12, 20), kGrey);
    EXPECT_EQ(TestHost::PixelAt(image, 12, 58), kGrey);
    EXPECT_EQ(TestHost::PixelAt(image, 12, 59), kGreen);
    EXPECT_EQ(TestHost::PixelAt(image, 12, 60), kGreen);
    EXPECT_EQ(TestHost::PixelAt(image, 12, 61), kRed);
    EXPECT_EQ(TestHost::PixelAt(image, 12, 109), kRed);
}

TEST(MBar, HorizontalDrawingSplitsAtTheValue) {
    TestHost host;
    MBar bar;
    bar.Create(340, "bar", 0, 0, 20, 5, &host, true);
    bar.SetRange(0, 100);
    bar.SetThumbSize(0);
    bar.SetBarColors(kRed, kBlue, kGreen);
    bar.SetValue(25);
    const QImage image = host.Render();
    EXPECT_EQ(TestHost::PixelAt(image, 4, 2), kRed);
    EXPECT_EQ(TestHost::PixelAt(image, 5, 2), kBlue);
    EXPECT_EQ(TestHost::PixelAt(image, 19, 2), kBlue);
}

DialParams ProgramLikeDial(ControlHost* host) {
    return DialParams{.id = 400,
                      .x = 1,
                      .y = 96,
                      .upBitmapBase = "UPARROW",
                      .downBitmapBase = "DNARROW",
                      .downDy = 9,
                      .host = host,
                      .fieldDx = 7,
                      .fieldDy = 2,
                      .fieldWidth = 21,
                      .fieldHeight = 15,
                      .min = -1,
                      .max = 127,
                      .ctrlMultiplier = 10};
}

TEST(MDial, StartsHalfWayAndLaysOutItsParts) {
    TestHost host;
    MDial dial;
    dial.Create(ProgramLikeDial(&host));
    EXPECT_EQ(dial.GetValue(), 64);
    EXPECT_EQ(FieldOf(dial).GetText(), "64");
    EXPECT_EQ(dial.GetUpButton().GetId(), 401);
    EXPECT_EQ(dial.GetDownButton().GetId(), 402);
    EXPECT_EQ(FieldOf(dial).GetId(), 403);
    EXPECT_EQ(dial.GetBar().GetId(), 404);
    EXPECT_EQ(dial.GetUpButton().GetRect(), MRect::FromSize(1, 96, 7, 9));
    EXPECT_EQ(dial.GetDownButton().GetRect(), MRect::FromSize(1, 105, 7, 9));
    EXPECT_EQ(FieldOf(dial).geometry(), QRect(8, 98, 21, 15));
    EXPECT_EQ(dial.GetRect(), (MRect{1, 96, 29, 114}));
    EXPECT_TRUE(dial.IsVisible());
    EXPECT_FALSE(dial.IsLive());
    EXPECT_EQ(dial.GetUpButton().GetTypeName(), "MBmpButton");
}

TEST(MDial, ArrowsStepAndClampWithTheCtrlMultiplier) {
    TestHost host;
    FakeInputState input;
    MDial dial;
    dial.Create(ProgramLikeDial(&host));

    dial.SetValue(5);
    dial.OnChildEvent(401);
    EXPECT_EQ(dial.GetValue(), 6);
    input.control = true;
    dial.OnChildEvent(401);
    EXPECT_EQ(dial.GetValue(), 16);
    dial.SetValue(120);
    dial.OnChildEvent(401);
    EXPECT_EQ(dial.GetValue(), 127);
    EXPECT_EQ(FieldOf(dial).GetText(), "127");
    input.control = false;
    dial.SetValue(-1);
    dial.OnChildEvent(402);
    EXPECT_EQ(dial.GetValue(), -1);
    // Ids that are not the arrows or the bar change nothing.
    dial.OnChildEvent(403);
    dial.OnChildEvent(400);
    EXPECT_EQ(dial.GetValue(), -1);
    EXPECT_EQ(input.waits, 0);
}

TEST(MDial, ArrowStepWaitsForTheButtonRelease) {
    TestHost host;
    FakeInputState input;
    MDial dial;
    dial.Create(ProgramLikeDial(&host));
    dial.SetValue(10);
    input.primaryHeld = true;
    dial.OnChildEvent(402);
    EXPECT_EQ(input.waits, 1);
    EXPECT_EQ(dial.GetValue(), 9);
}

TEST(MDial, SetValueClampsAndFeedsBarAndField) {
    TestHost host;
    MDial dial;
    dial.Create(ProgramLikeDial(&host));
    dial.SetValue(500);
    EXPECT_EQ(dial.GetBar().GetValue(), 127);
    EXPECT_EQ(FieldOf(dial).GetText(), "127");
    dial.SetValue(-80);
    EXPECT_EQ(FieldOf(dial).GetText(), "-1");
    dial.SetValueNoText(50);
    EXPECT_EQ(dial.GetBar().GetValue(), 50);
    EXPECT_EQ(FieldOf(dial).GetText(), "-1");
    EXPECT_FALSE(FieldOf(dial).isModified());
}

TEST(MDial, GetValueReadsTheFieldUnclamped) {
    TestHost host;
    MDial dial;
    dial.Create(ProgramLikeDial(&host));
    FieldOf(dial).SetText("500");
    EXPECT_EQ(dial.GetValue(), 500);
    FieldOf(dial).SetText("x7");
    EXPECT_EQ(dial.GetValue(), 0);
    FieldOf(dial).SetText("42abc");
    EXPECT_EQ(dial.GetValue(), 42);
}

TEST(MDial, LiveTextIsClampedAtOnceAndNonLiveTextOnCommit) {
    TestHost host;
    MDial dial;
    dial.Create(ProgramLikeDial(&host));
    dial.SetLive(true);
    dial.SetValueText("200");
    EXPECT_EQ(FieldOf(dial).GetText(), "127");
    EXPECT_EQ(dial.GetBar().GetValue(), 127);
    dial.SetValueText("-9");
    EXPECT_EQ(FieldOf(dial).GetText(), "-1");

    dial.SetLive(false);
    FieldOf(dial).SetText("200");
    dial.SetValueText("200");
    EXPECT_EQ(FieldOf(dial).GetText(), "200");
    dial.CommitEdit();
    EXPECT_EQ(FieldOf(dial).GetText(), "127");
    FieldOf(dial).SetText("junk");
    dial.CommitEdit();
    EXPECT_EQ(FieldOf(dial).GetText(), "0");
}

TEST(MDial, BarEventCopiesTheBarValue) {
    TestHost host;
    MDial volume;
    volume.Create(DialParams{.id = 1050,
                             .x = 2,
                             .y = 2,
                             .upBitmapBase = "UPARROW",
                             .upDy = 144,
                             .downBitmapBase = "DNARROW",
                             .downDy = 153,
                             .host = &host,
                             .min = 0,
                             .max = 100,
                             .ctrlMultiplier = 10,
                             .barWidth = 6,
                             .barHeight = 135,
                             .thumbSize = 2});
    volume.HideField();
    EXPECT_TRUE(FieldOf(volume).isHidden());
    EXPECT_EQ(DispatchMouse(EV_PRESS, 4, 2, &host), 1054);
    volume.OnChildEvent(1054);
    EXPECT_EQ(volume.GetValue(), 100);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 4, 300, &host), 1054);
    volume.OnChildEvent(1054);
    EXPECT_EQ(volume.GetValue(), 0);
}

TEST(MDial, HideAndShowSkipAbsentParts) {
    TestHost host;
    MDial pan;
    pan.Create(DialParams{.id = 450,
                          .x = 2,
                          .y = 130,
                          .upBitmapBase = "",
                          .downBitmapBase = "",
                          .host = &host,
                          .min = 0,
                          .max = 127,
                          .ctrlMultiplier = 18,
                          .barWidth = 27,
                          .barHeight = 7,
                          .thumbSize = 5,
                          .barHorizontal = true});
    pan.HideField();
    pan.HideButtons();
    pan.Hide();
    EXPECT_FALSE(pan.GetBar().IsVisible());
    pan.Show();
    EXPECT_TRUE(pan.GetBar().IsVisible());
    EXPECT_FALSE(pan.GetUpButton().IsVisible());
    EXPECT_FALSE(FieldOf(pan).isVisibleTo(&host));
    EXPECT_EQ(pan.GetRect(), MRect::FromSize(2, 130, 27, 7));
}

class NoteListTest : public ::testing::Test {
protected:
    void SetUp() override {
        dial.Create(DialParams{.id = 420,
                               .x = 1,
                               .y = 63,
                               .upBitmapBase = "UPARROW",
                               .downBitmapBase = "DNARROW",
                               .downDy = 9,
                               .host = &host,
                               .fieldDx = 7,
                               .fieldDy = 2,
                               .fieldWidth = 21,
                               .fieldHeight = 15,
                               .min = -59,
                               .max = 67,
                               .ctrlMultiplier = 12});
        dial.SetNotes(IntArray{0, 4, 7});
    }
    TestHost host;
    FakeInputState input;
    MNoteListDial dial;
};

TEST_F(NoteListTest, StartsAsTheSingleNoteZero) {
    MNoteListDial fresh;
    fresh.Create(DialParams{
        .id = 460, .upBitmapBase = "", .downBitmapBase = "", .host = &host, .min = -59, .max = 67});
    EXPECT_EQ(ToVector(fresh.GetStoredNotes()), std::vector<int>{0});
    EXPECT_EQ(FieldOf(fresh).GetText(), "0");
}

TEST_F(NoteListTest, ArrowsMoveTheWholeChord) {
    EXPECT_EQ(FieldOf(dial).GetText(), "0,4,7");
    dial.OnChildEvent(421);
    EXPECT_EQ(FieldOf(dial).GetText(), "1,5,8");
    dial.SetNotes(IntArray{0, 4, 7});
    input.control = true;
    dial.OnChildEvent(421);
    EXPECT_EQ(ToVector(dial.GetNotes()), (std::vector<int>{12, 16, 19}));
    dial.OnChildEvent(422);
    dial.OnChildEvent(422);
    EXPECT_EQ(ToVector(dial.GetNotes()), (std::vector<int>{-12, -8, -5}));
    // The note list never waits for the mouse.
    input.primaryHeld = true;
    dial.OnChildEvent(421);
    EXPECT_EQ(input.waits, 0);
}

TEST_F(NoteListTest, NotesPressedAgainstAnEndMerge) {
    dial.SetNotes(IntArray{-58, -59, 0});
    dial.OnChildEvent(422);
    EXPECT_EQ(ToVector(dial.GetNotes()), (std::vector<int>{-59, -59, -1}));
}

TEST_F(NoteListTest, SetFirstNoteMovesTheChordAndClampsEachNote) {
    dial.SetFirstNote(60);
    EXPECT_EQ(FieldOf(dial).GetText(), "60,64,67");
    dial.SetNotes(IntArray{0, 4, 7});
    dial.SetFirstNote(65);
    EXPECT_EQ(FieldOf(dial).GetText(), "65,67,67");
    EXPECT_EQ(dial.GetBar().GetValue(), 65);
}

TEST_F(NoteListTest, ParsingTakesEveryPieceAndDoesNotClamp) {
    FieldOf(dial).SetText("3,,x,");
    EXPECT_EQ(dial.ParseNotes(), 3);
    EXPECT_EQ(ToVector(dial.GetStoredNotes()), (std::vector<int>{3, 0, 0, 0}));
    FieldOf(dial).SetText("");
    EXPECT_EQ(ToVector(dial.GetNotes()), std::vector<int>{0});
    FieldOf(dial).SetText("100,-7");
    EXPECT_EQ(ToVector(dial.GetNotes()), (std::vector<int>{100, -7}));
    FieldOf(dial).SetText("5,,9");
    dial.CommitEdit();
    EXPECT_EQ(FieldOf(dial).GetText(), "5,0,9");
}

TEST_F(NoteListTest, EmptyListShowsNothingAndBecomesZero) {
    dial.SetNotes(IntArray{});
    EXPECT_EQ(FieldOf(dial).GetText(), "");
    EXPECT_EQ(ToVector(dial.GetStoredNotes()), std::vector<int>{0});
}

class TempoTest : public ::testing::Test {
protected:
    void SetUp() override {
        dial.Create(DialParams{.id = 1005,
                               .x = 18,
                               .y = 146,
                               .upBitmapBase = "UPARROW",
                               .downBitmapBase = "DNARROW",
                               .downDy = 9,
                               .host = &host,
                               .fieldDx = 7,
                               .fieldDy = 3,
                               .fieldWidth = 53,
                               .fieldHeight = 13,
                               .min = 0,
                               .max = 1000000,
                               .ctrlMultiplier = 10});
        dial.SetNoFace(false);
        dial.SetLive(false);
    }
    TestHost host;
    FakeInputState input;
    MTempoDial dial;
};

TEST_F(TempoTest, ShowsBeatsOrSamples) {
    EXPECT_EQ(FieldOf(dial).GetText(), "126");
    dial.SetMode(1);
    EXPECT_EQ(FieldOf(dial).GetText(), "42000");
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 126.0);
    dial.SetMode(0);
    EXPECT_EQ(FieldOf(dial).GetText(), "126");
}

TEST_F(TempoTest, StepsBySemitonesOrOctaves) {
    dial.OnChildEvent(1006);
    EXPECT_EQ(FieldOf(dial).GetText(), "133.492");
    dial.OnChildEvent(1007);
    EXPECT_EQ(FieldOf(dial).GetText(), "126");
    input.control = true;
    dial.OnChildEvent(1006);
    EXPECT_EQ(FieldOf(dial).GetText(), "252");
}

TEST_F(TempoTest, StepsStickAtTheBounds) {
    dial.SetTempo(0.5);
    dial.OnChildEvent(1007);
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 0.5);
    EXPECT_EQ(FieldOf(dial).GetText(), "0.500");
    input.control = true;
    dial.SetTempo(9000000.0);
    dial.OnChildEvent(1006);
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 10000000.0);
}

TEST_F(TempoTest, TypedTextCountsOnlyOnCommit) {
    FieldOf(dial).SetText("140");
    dial.SetValueText("140");
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 126.0);
    dial.CommitEdit();
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 140.0);
    EXPECT_EQ(dial.GetDisplay(), "140") << "the tooltip names the tempo in force";

    dial.SetMode(1);
    FieldOf(dial).SetText("44100");
    dial.CommitEdit();
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 120.0);
    EXPECT_EQ(dial.GetDisplay(), "44100");
}

TEST_F(TempoTest, TypedTempoThatWouldStopTheClockIsRefused) {
    for (const char* text : {"0", "-12", "abc", ""}) {
        FieldOf(dial).SetText(text);
        dial.CommitEdit();
        EXPECT_DOUBLE_EQ(dial.GetTempo(), 126.0) << text;
        EXPECT_EQ(FieldOf(dial).GetText(), "126") << text;
    }
    FieldOf(dial).SetText("0.01");
    dial.CommitEdit();
    EXPECT_DOUBLE_EQ(dial.GetTempo(), 0.5);
    EXPECT_EQ(FieldOf(dial).GetText(), "0.500");
}

TEST_F(TempoTest, FaceFillsTheGapsBetweenItsParts) {
    dial.SetColorsAll(kRed, kRed, kBlue, kGreen, 0, 0, 0);
    const QImage image = host.Render();
    // Between the arrows' right edge (25) and the field (25..78) nothing; but under the field's
    // top edge (146..148) the face shows the field background.
    EXPECT_EQ(TestHost::PixelAt(image, 40, 147), kGreen);
}

}  // namespace
