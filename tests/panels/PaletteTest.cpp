// The colour rules and the colour chooser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include <QApplication>
#include <QColorDialog>
#include <QTemporaryDir>
#include <QTimer>

#include "core/Random.h"
#include "panels/MShadePalette.h"

namespace {

struct ContrastCase {
    ColorRef in;
    ColorRef out;
    friend void PrintTo(const ContrastCase& c, std::ostream* out) {
        *out << std::hex << c.in << " -> " << c.out;
    }
};

class ContrastColorTest : public ::testing::TestWithParam<ContrastCase> {};

TEST_P(ContrastColorTest, MovesEveryChannelHalfWayRound) {
    EXPECT_EQ(ContrastColor(GetParam().in, -128), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, ContrastColorTest,
    ::testing::Values(ContrastCase{MakeColorRef(0, 0, 0), MakeColorRef(128, 128, 128)},
                      ContrastCase{MakeColorRef(0, 128, 255), MakeColorRef(128, 0, 127)},
                      ContrastCase{MakeColorRef(0, 0, 255), MakeColorRef(128, 128, 127)},
                      ContrastCase{MakeColorRef(255, 255, 255), MakeColorRef(127, 127, 127)}));

TEST(ContrastColor, KIsReadAsSixteenBitsAndTheTopByteIsClear) {
    EXPECT_EQ(ContrastColor(MakeColorRef(10, 20, 30), 10), MakeColorRef(0, 10, 20));
    // 65536 - 128 read as 16 bits is -128.
    EXPECT_EQ(ContrastColor(MakeColorRef(0, 0, 0), 65536 - 128), MakeColorRef(128, 128, 128));
    EXPECT_EQ(ContrastColor(0x7F000000, -128) & 0xFF000000, 0);
}

struct ShiftCase {
    ColorRef in;
    int direction;
    bool fallback;
    ColorRef out;
    friend void PrintTo(const ShiftCase& c, std::ostream* out) {
        *out << std::hex << c.in << (c.direction > 0 ? " up" : " down")
             << (c.fallback ? "" : " without fallback") << " -> " << c.out;
    }
};

class ShiftColorTest : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(ShiftColorTest, ClampsOrFallsBack) {
    const ShiftCase& c = GetParam();
    EXPECT_EQ(ShiftColor(c.in, c.direction, c.fallback, 80), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, ShiftColorTest,
    ::testing::Values(ShiftCase{MakeColorRef(64, 64, 64), +1, true, MakeColorRef(144, 144, 144)},
                      // All three above 255: two shifts down instead.
                      ShiftCase{MakeColorRef(240, 240, 240), +1, true, MakeColorRef(80, 80, 80)},
                      ShiftCase{MakeColorRef(240, 240, 240), +1, false,
                                MakeColorRef(255, 255, 255)},
                      // All three below 0: two shifts up.
                      ShiftCase{MakeColorRef(0, 0, 0), -1, true, MakeColorRef(160, 160, 160)},
                      // One channel clamped is no saturation.
                      ShiftCase{MakeColorRef(250, 10, 10), +1, true, MakeColorRef(255, 90, 90)},
                      ShiftCase{MakeColorRef(0, 0, 255), -1, true, MakeColorRef(0, 0, 175)},
                      // Green far over the top saturates on its own.
                      ShiftCase{MakeColorRef(0, 230, 0), +1, true, MakeColorRef(0, 70, 0)},
                      ShiftCase{MakeColorRef(0, 225, 0), +1, true, MakeColorRef(80, 255, 80)},
                      // Green and red both at white saturate.
                      ShiftCase{MakeColorRef(200, 200, 0), +1, true, MakeColorRef(40, 40, 0)},
                      ShiftCase{MakeColorRef(0, 200, 200), +1, true, MakeColorRef(0, 40, 40)}));

TEST(MShadePalette, DerivesSevenColoursFromBlue) {
    MShadePalette palette;
    palette.DeriveFrom(MakeColorRef(0, 0, 255));
    EXPECT_EQ(palette.base, MakeColorRef(0, 0, 255));
    EXPECT_EQ(palette.contrast, MakeColorRef(128, 128, 127));
    EXPECT_EQ(palette.darker, MakeColorRef(0, 0, 175));
    EXPECT_EQ(palette.lighter, MakeColorRef(80, 80, 255));
    EXPECT_EQ(palette.lightest, MakeColorRef(160, 160, 255));
    EXPECT_EQ(palette.contrastDarker, MakeColorRef(48, 48, 47));
    EXPECT_EQ(palette.contrastLighter, MakeColorRef(208, 208, 207));
}

// Drives the modal colour chooser from a timer: act(dialog) runs once it is up.
template <typename Act>
void WhenChooserOpens(Act act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act, tries = 0]() mutable {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        } else if (++tries > 500) {
            // Never leave a test hanging on a dialog that did not appear.
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

TEST(MShadePalette, ChooserCancelKeepsTheBaseAndTheCustomColoursStayForTheRun) {
    Random::seed(1234);
    MShadePalette palette;
    palette.DeriveFrom(MakeColorRef(12, 34, 56));

    WhenChooserOpens([](QColorDialog& dialog) {
        dialog.setCurrentColor(QColor(1, 2, 3));
        dialog.reject();
    });
    EXPECT_EQ(palette.ChooseBaseColor(nullptr), MakeColorRef(12, 34, 56));

    // First use filled the custom colours from the generator, blue from the first draw.
    Random::seed(1234);
    const auto& custom = MShadePalette::CustomColors();
    for (int i = 0; i < MShadePalette::kCustomColorCount; ++i) {
        const int blue = Random::below(256);
        const int green = Random::below(256);
        const int red = Random::below(256);
        EXPECT_EQ(custom[static_cast<std::size_t>(i)], MakeColorRef(red, green, blue)) << i;
    }

    // A change the user makes to a custom colour is kept; nothing is drawn at random again.
    const int nextDraw = Random::next();
    Random::seed(1234);
    for (int i = 0; i < 3 * MShadePalette::kCustomColorCount; ++i) {
        Random::next();
    }
    WhenChooserOpens([](QColorDialog& dialog) {
        QColorDialog::setCustomColor(0, QColor(9, 8, 7));
        dialog.setCurrentColor(QColor(200, 100, 50));
        dialog.accept();
    });
    EXPECT_EQ(palette.ChooseBaseColor(nullptr), MakeColorRef(200, 100, 50));
    EXPECT_EQ(custom[0], MakeColorRef(9, 8, 7));
    EXPECT_EQ(Random::next(), nextDraw);
}

TEST(MShadePalette, ChooserStartsFromTheBaseColour) {
    MShadePalette palette;
    palette.DeriveFrom(MakeColorRef(70, 80, 90));
    QColor shown;
    WhenChooserOpens([&shown](QColorDialog& dialog) {
        shown = dialog.currentColor();
        dialog.accept();
    });
    EXPECT_EQ(palette.ChooseBaseColor(nullptr), MakeColorRef(70, 80, 90));
    EXPECT_EQ(shown, QColor(70, 80, 90));
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir runtimeDir(QDir::tempPath() + QStringLiteral("/gs-panels-test-XXXXXX"));
    if (runtimeDir.isValid()) {
        QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        setenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit().constData(), 1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
