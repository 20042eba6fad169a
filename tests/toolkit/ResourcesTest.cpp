// Every picture the controls ask for by name exists, at its size, in one bit per pixel.
#include <gtest/gtest.h>

#include <string>

#include <QBitmap>

#include "toolkit/Resources.h"

namespace {

struct BitmapCase {
    std::string name;
    int width;
    int height;
    friend void PrintTo(const BitmapCase& c, std::ostream* out) { *out << c.name; }
};

std::vector<BitmapCase> AllBitmaps() {
    std::vector<BitmapCase> cases = {
        {"PLAY2UP", 24, 24},     {"PLAY2DN", 24, 24}, {"ONOFFUP", 17, 17},  {"ONOFFDN", 17, 17},
        {"UPARROWUP", 7, 9},     {"UPARROWDN", 7, 9}, {"DNARROWUP", 7, 9},  {"DNARROWDN", 7, 9},
        {"FILEUP", 16, 15},      {"FILEDN", 16, 15},  {"EDITUP", 16, 15},   {"EDITDN", 16, 15},
        {"MIDIUP", 16, 15},      {"MIDIDN", 16, 15},  {"NOTEBMP", 37, 162}, {"GLOBALBMP", 79, 166},
        {"LOOPBKGBMP", 125, 20}, {"ICON128", 32, 32},
    };
    for (int n = 1; n <= 8; ++n) {
        cases.push_back({"LOOPSCTRL" + std::to_string(n) + "UP", 10, 18});
        cases.push_back({"LOOPSCTRL" + std::to_string(n) + "DN", 10, 18});
    }
    return cases;
}

class BitmapResourceTest : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(BitmapResourceTest, ExistsAtItsSizeInTwoColours) {
    const QImage image = Resources::LoadBitmap(GetParam().name);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(GetParam().width, GetParam().height));
    EXPECT_EQ(image.format(), QImage::Format_Mono);
    ASSERT_EQ(image.colorCount(), 2);
    EXPECT_EQ(image.color(0), qRgb(0, 0, 0));
    EXPECT_EQ(image.color(1), qRgb(255, 255, 255));
    // A picture, not a blank: both colours occur.
    int black = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            black += image.pixelIndex(x, y) == 0 ? 1 : 0;
        }
    }
    EXPECT_GT(black, 0);
    EXPECT_LT(black, image.width() * image.height());
}

INSTANTIATE_TEST_SUITE_P(All, BitmapResourceTest, ::testing::ValuesIn(AllBitmaps()),
                         [](const auto& param) { return param.param.name; });

TEST(Resources, UpAndDownPicturesDiffer) {
    for (const char* base : {"PLAY2", "ONOFF", "UPARROW", "DNARROW", "FILE", "EDIT", "MIDI",
                             "LOOPSCTRL1", "LOOPSCTRL8"}) {
        EXPECT_NE(Resources::LoadBitmap(std::string(base) + "UP"),
                  Resources::LoadBitmap(std::string(base) + "DN"))
            << base;
    }
    EXPECT_NE(Resources::LoadBitmap("LOOPSCTRL1UP"), Resources::LoadBitmap("LOOPSCTRL2UP"));
}

TEST(Resources, UnknownNamesGiveNothing) {
    EXPECT_TRUE(Resources::LoadBitmap("GENCUR").isNull());
    EXPECT_FALSE(Resources::LoadCursor("GENCUR").has_value());
    EXPECT_FALSE(Resources::LoadCursor("").has_value());
}

TEST(Resources, EveryCursorLoadsWithItsHotSpot) {
    for (const char* name : {"NOCUR", "SIZECUR", "PUSHCUR", "UPCUR", "DNCUR", "BARHCUR", "BARVCUR",
                             "TEXTCUR", "HANDCUR", "FCUR", "ECUR", "MCUR"}) {
        const std::optional<QCursor> cursor = Resources::LoadCursor(name);
        ASSERT_TRUE(cursor.has_value()) << name;
        EXPECT_EQ(cursor->shape(), Qt::BitmapCursor) << name;
        const QPoint hot = cursor->hotSpot();
        EXPECT_TRUE(hot.x() >= 0 && hot.x() < 32 && hot.y() >= 0 && hot.y() < 32) << name;
        // The hot spot is on an opaque pixel, where the user expects the click to land.
        const QImage mask = cursor->mask().toImage();
        EXPECT_NE(mask.pixelIndex(hot), mask.pixelIndex(31, 31)) << name;
    }
    EXPECT_EQ(Resources::LoadCursor("TEXTCUR")->hotSpot(), QPoint(3, 8));
}

// Wayland draws a cursor from its picture only: every cursor carries one, black and white
// where its mask is set and see-through elsewhere.
TEST(Resources, EveryCursorCarriesAPictureThatFollowsItsMask) {
    for (const char* name : {"NOCUR", "PUSHCUR", "TEXTCUR", "HANDCUR", "SIZECUR"}) {
        const std::optional<QCursor> cursor = Resources::LoadCursor(name);
        ASSERT_TRUE(cursor.has_value()) << name;
        const QImage picture = cursor->pixmap().toImage();
        ASSERT_FALSE(picture.isNull()) << name;
        ASSERT_EQ(picture.size(), QSize(32, 32)) << name;
        const QImage mask = cursor->mask().toImage();
        int black = 0;
        int white = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QColor colour = picture.pixelColor(x, y);
                const bool opaque = mask.pixelIndex(x, y) == mask.pixelIndex(cursor->hotSpot());
                ASSERT_EQ(colour.alpha(), opaque ? 255 : 0) << name << " " << x << "," << y;
                if (opaque) {
                    ASSERT_TRUE(colour.rgb() == qRgb(0, 0, 0) ||
                                colour.rgb() == qRgb(255, 255, 255));
                    (colour.rgb() == qRgb(0, 0, 0) ? black : white) += 1;
                }
            }
        }
        EXPECT_GT(black, 0) << name << " has an outline";
        EXPECT_GT(white, 0) << name << " has a fill";
    }
}

TEST(Resources, IconComesInTheRequestedColours) {
    const QIcon icon = Resources::LoadAppIcon(Qt::red, Qt::white);
    ASSERT_FALSE(icon.isNull());
    const QImage image = icon.pixmap(32, 32).toImage();
    EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(Qt::red));
    EXPECT_EQ(QColor(image.pixel(1, 1)), QColor(Qt::white));
}

}  // namespace
