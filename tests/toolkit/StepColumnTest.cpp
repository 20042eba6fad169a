// The step column: its layout, its value interface and its colours.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "ToolkitTestSupport.h"
#include "core/StepValue.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MStepColumn.h"
#include "toolkit/ToolkitEvents.h"

namespace {

constexpr int kOn = static_cast<int>(StepValue::On);
constexpr int kRoot = static_cast<int>(StepValue::Root);
constexpr int kProgram = static_cast<int>(StepValue::Program);
constexpr int kVelocity = static_cast<int>(StepValue::Velocity);
constexpr int kPan = static_cast<int>(StepValue::Pan);
constexpr int kDuration = static_cast<int>(StepValue::Duration);

class StepColumnTest : public ::testing::Test {
protected:
    static constexpr int kId = 10300;
    static constexpr int kX = 208;
    static constexpr int kY = 2;

    void SetUp() override { column.Create(kId, "4", kX, kY, &host); }

    MRect At(int dx, int dy, int width, int height) {
        return MRect::FromSize(kX + dx, kY + dy, width, height);
    }

    TestHost host{300, 170};
    FakeInputState input;
    MStepColumn column;
};

TEST_F(StepColumnTest, PartsSitWhereTheColumnLaysThemOut) {
    EXPECT_EQ(column.GetRect(), At(0, 0, 37, 162));
    EXPECT_EQ(column.GetLabel().GetRect(), At(12, 2, 23, 16));
    EXPECT_EQ(column.GetLabel().GetText(), "4");
    EXPECT_EQ(column.GetOnOff().GetRect(), At(12, 30, 17, 17));
    EXPECT_EQ(column.GetVelocityDial().GetBar().GetRect(), At(30, 19, 6, 115));
    EXPECT_EQ(column.GetVelocityDial().GetUpButton().GetRect(), At(30, 134, 7, 9));
    EXPECT_EQ(column.GetVelocityDial().GetDownButton().GetRect(), At(30, 143, 7, 9));
    EXPECT_EQ(column.GetNoteDial().GetUpButton().GetRect(), At(1, 63, 7, 9));
    EXPECT_EQ(column.GetNoteDial().GetDownButton().GetRect(), At(1, 72, 7, 9));
    EXPECT_EQ(FieldOf(column.GetNoteDial()).GetRect(), At(8, 65, 21, 15));
    EXPECT_EQ(column.GetProgramDial().GetUpButton().GetRect(), At(1, 96, 7, 9));
    EXPECT_EQ(column.GetProgramDial().GetDownButton().GetRect(), At(1, 105, 7, 9));
    EXPECT_EQ(FieldOf(column.GetProgramDial()).GetRect(), At(8, 98, 21, 15));
    EXPECT_EQ(column.GetPanDial().GetBar().GetRect(), At(2, 130, 27, 7));
    EXPECT_EQ(column.GetDurationDial().GetBar().GetRect(), At(2, 153, 27, 7));
}

TEST_F(StepColumnTest, StartsWithDefaultValuesAndOnlyThePartsVisible) {
    EXPECT_EQ(column.GetValue(kOn), 1);
    EXPECT_EQ(column.GetValue(kRoot), 0);
    EXPECT_EQ(column.GetValue(kProgram), 64);
    EXPECT_EQ(column.GetValue(kVelocity), 100);
    EXPECT_EQ(column.GetValue(kPan), 64);
    EXPECT_EQ(column.GetValue(kDuration), 17);
    EXPECT_TRUE(column.GetNoteDial().IsLive());
    EXPECT_TRUE(column.GetProgramDial().IsLive());

    EXPECT_TRUE(column.GetOnOff().IsVisible());
    EXPECT_TRUE(column.GetPanDial().GetBar().IsVisible());
    EXPECT_FALSE(column.GetPanDial().GetUpButton().IsVisible());
    EXPECT_TRUE(FieldOf(column.GetVelocityDial()).isHidden());
    // Its own creation ran while the column was not finished: redraw stayed off.
    EXPECT_FALSE(column.IsVisible());
    EXPECT_FALSE(column.IsRedraw());
    column.Show();
    EXPECT_FALSE(column.IsVisible());
    column.SetRedraw(true);
    column.Show();
    EXPECT_TRUE(column.IsVisible());
    column.Hide();
    EXPECT_FALSE(column.IsVisible());
    EXPECT_FALSE(column.GetOnOff().IsVisible());
    EXPECT_FALSE(column.GetVelocityDial().GetBar().IsVisible());
    EXPECT_TRUE(FieldOf(column.GetNoteDial()).isHidden());
}

TEST_F(StepColumnTest, SetValueClampsToEachDialsRange) {
    column.SetValue(kDuration, 30);
    EXPECT_EQ(column.GetValue(kDuration), 17);
    EXPECT_EQ(column.GetDurationDial().GetBar().GetValue(), 17);
    column.SetValue(kProgram, -5);
    EXPECT_EQ(column.GetValue(kProgram), -1);
    column.SetValue(kOn, 7);
    EXPECT_EQ(column.GetOnOff().GetState(), 1);
    column.SetValue(kOn, 0);
    EXPECT_EQ(column.GetValue(kOn), 0);
    column.SetValue(kVelocity, 300);
    EXPECT_EQ(column.GetValue(kVelocity), 127);
    column.SetValue(kPan, -3);
    EXPECT_EQ(column.GetValue(kPan), 0);
    // Not a value id: nothing changes, and reading it answers id - 10.
    column.SetValue(70, 5);
    EXPECT_EQ(column.GetValue(70), 60);
}

TEST_F(StepColumnTest, RootMovesTheChord) {
    column.SetNotes(IntArray{0, 4, 7});
    column.SetValue(kRoot, 60);
    EXPECT_EQ(FieldOf(column.GetNoteDial()).GetText(), "60,64,67");
    EXPECT_EQ(column.GetValue(kRoot), 60);
    // SetRoot takes its value as 16 bits: 65536 + 2 is 2.
    column.SetRoot(65538);
    const IntArray& notes = column.GetNotes();
    EXPECT_EQ(std::vector<int>(notes.begin(), notes.end()), (std::vector<int>{2, 6, 9}));
}

TEST_F(StepColumnTest, ChildEventsReachTheRightDial) {
    EXPECT_EQ(column.OnChildEvent(kId + 41), 41);
    EXPECT_EQ(column.GetValue(kVelocity), 101);
    input.control = true;
    column.OnChildEvent(kId + 41);
    EXPECT_EQ(column.GetValue(kVelocity), 111);
    column.OnChildEvent(kId + 32);
    EXPECT_EQ(column.GetValue(kProgram), 54);
    column.SetNotes(IntArray{0, 4, 7});
    column.OnChildEvent(kId + 21);
    EXPECT_EQ(FieldOf(column.GetNoteDial()).GetText(), "12,16,19");
    input.control = false;

    // The toggle needs no relay: nothing happens and the offset comes back.
    EXPECT_EQ(column.OnChildEvent(kId + 10), 10);
    EXPECT_EQ(column.GetValue(kOn), 1);
    EXPECT_EQ(column.OnChildEvent(kId + 70), 70);
}

TEST_F(StepColumnTest, BarPressIsCopiedIntoTheDial) {
    const MRect bar = column.GetVelocityDial().GetBar().GetRect();
    EXPECT_EQ(DispatchMouse(EV_PRESS, bar.left + 2, bar.bottom - 1, &host), kId + 44);
    EXPECT_EQ(column.OnChildEvent(kId + 44), 44);
    EXPECT_EQ(column.GetValue(kVelocity), 1);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, bar.left + 2, bar.top - 50, &host), kId + 44);
    column.OnChildEvent(kId + 44);
    EXPECT_EQ(column.GetValue(kVelocity), 127);
}

TEST_F(StepColumnTest, ToggleAndArrowsReportTheirOwnIds) {
    const MRect onOff = column.GetOnOff().GetRect();
    EXPECT_EQ(DispatchMouse(EV_PRESS, onOff.left + 3, onOff.top + 3, &host), kId + 10);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, onOff.left + 3, onOff.top + 3, &host), kId + 10);
    EXPECT_EQ(column.GetValue(kOn), 0);
    const MRect up = column.GetProgramDial().GetUpButton().GetRect();
    EXPECT_EQ(DispatchMouse(EV_PRESS, up.left + 1, up.top + 1, &host), kId + 31);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, up.left + 1, up.top + 1, &host), kId + 31);
    EXPECT_EQ(column.GetPart(kOn), &column.GetOnOff());
    EXPECT_EQ(column.GetPart(kDuration), &column.GetDurationDial());
    EXPECT_EQ(column.GetPart(15), nullptr);
}

TEST_F(StepColumnTest, ColoursComeFromTheColumnsPalette) {
    const ColorRef base = MakeColorRef(40, 90, 160);
    column.SetColors(base);
    const MShadePalette& p = column.GetPalette();
    EXPECT_EQ(p.base, base);
    EXPECT_EQ(column.GetTextColor(), p.base);
    EXPECT_EQ(column.GetBackColor(), p.contrast);
    EXPECT_EQ(column.GetLabel().GetTextColor(), p.lighter);
    EXPECT_EQ(column.GetLabel().GetBackColor(), p.base);
    EXPECT_EQ(column.GetOnOff().GetPressedBackColor(), p.contrastLighter);
    EXPECT_EQ(column.GetVelocityDial().GetBar().GetBackColor(), NO_COLOR);
    EXPECT_EQ(FieldOf(column.GetNoteDial()).GetTextColor(), p.lightest);
    column.SetHighlight(true);
    EXPECT_EQ(column.GetLabel().GetTextColor(), p.contrast);
    EXPECT_EQ(column.GetLabel().GetBackColor(), p.lightest);
}

TEST_F(StepColumnTest, VelocityBarShowsTheNoteBitmapAboveItsLevel) {
    column.SetColors(MakeColorRef(40, 90, 160));
    column.SetRedraw(true);
    column.Show();
    const MShadePalette& p = column.GetPalette();
    const QImage image = host.Render();
    // Velocity 100 of 127 over 115 pixels: level 90 pixels above the bottom, at y 19 + 25.
    const int x = kX + 32;
    EXPECT_EQ(TestHost::PixelAt(image, x, kY + 30), p.contrast);
    EXPECT_EQ(TestHost::PixelAt(image, x, kY + 100), p.contrastDarker);
    EXPECT_EQ(TestHost::PixelAt(image, x, kY + 44), p.lighter);
    // The column's own background around the parts.
    EXPECT_EQ(TestHost::PixelAt(image, kX + 3, kY + 50), p.base);
    // The label's box in contrast, the label itself in base.
    EXPECT_EQ(TestHost::PixelAt(image, kX + 10, kY + 5), p.contrast);
    EXPECT_EQ(TestHost::PixelAt(image, kX + 13, kY + 3), p.base);
}

TEST(MStepColumnRow, SixteenColumnsAsTheMainPanelPlacesThem) {
    TestHost host(707, 166);
    std::array<std::unique_ptr<MStepColumn>, 16> columns;
    for (int col = 15; col >= 0; --col) {
        columns[static_cast<std::size_t>(col)] = std::make_unique<MStepColumn>();
        columns[static_cast<std::size_t>(col)]->Create(10000 + 100 * col, std::to_string(col + 1),
                                                       94 + 38 * col, 2, &host);
    }
    const MStepColumn& last = *columns[15];
    EXPECT_EQ(last.GetId(), 11500);
    EXPECT_EQ(last.GetRect().left, 664);
    MStepColumn& lastColumn = *columns[15];
    EXPECT_EQ(lastColumn.GetPanDial().GetId(), 11550);
    EXPECT_EQ(lastColumn.GetPanDial().GetBar().GetId(), 11554);
    EXPECT_EQ(columns[0]->GetNoteDial().GetId(), 10020);
    EXPECT_EQ(columns[0]->GetNoteDial().GetUpButton().GetId(), 10021);
    EXPECT_EQ(FieldOf(columns[0]->GetNoteDial()).GetId(), 10023);

    // A press on column 15's pan bar reaches that bar, and no other column's part.
    EXPECT_EQ(DispatchMouse(EV_PRESS, 664 + 2 + 13, 2 + 130 + 3, &host), 11554);
    EXPECT_EQ(DispatchMouse(EV_RELEASE, 664 + 2 + 13, 2 + 130 + 3, &host), 11554);
    EXPECT_EQ(lastColumn.OnChildEvent(11554), 54);
    EXPECT_EQ(lastColumn.GetValue(kPan), 61);
    EXPECT_EQ(columns[14]->GetValue(kPan), 64);
    // The 1-pixel gap between two columns belongs to neither.
    EXPECT_EQ(DispatchMouse(EV_PRESS, 94 + 37, 2 + 133, &host), 0);
}

}  // namespace
