// Lays out one of each toolkit control and one step column in one base colour, the way the
// main panel colours them, and writes the picture as a PNG:
//   toolkit_gallery OUTPUT.png [BASE_COLOUR as 0xBBGGRR hex]
// Run it with QT_SCALE_FACTOR=2 for a picture at twice the size (the bitmaps stay crisp).
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QTemporaryDir>

#include "panels/MShadePalette.h"
#include "toolkit/Canvas.h"
#include "toolkit/ControlHost.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/MBmpStatic.h"
#include "toolkit/MButton.h"
#include "toolkit/MButtonGroup.h"
#include "toolkit/MDial.h"
#include "toolkit/MEdit.h"
#include "toolkit/MLabel.h"
#include "toolkit/MStepColumn.h"
#include "toolkit/MTempoDial.h"
#include "toolkit/MToggleButton.h"

namespace {

class GalleryHost : public QWidget, public ControlHost {
public:
    GalleryHost() { setFixedSize(312, 179); }
    QWidget* HostWidget() override { return this; }
    void OnControlEvent(int, int, int, int) override {}
    ColorRef background = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(rect(), ToQColor(background));
        Canvas dc(painter, event->region());
        PaintControls(dc, this);
    }
};

// Everything on show, owned together so it all lives as long as the host.
struct Gallery {
    explicit Gallery(GalleryHost& host, ColorRef baseColor);

    MBmpStatic globalBackground;
    MToggleButton play;
    MToggleButton mute;
    MTempoDial tempo;
    MDial volume;
    MDial transpose;
    MBmpButton file;
    MBmpButton edit;
    MBmpButton midi;
    MButtonGroup loops;
    MStepColumn column;
    MBmpStatic loopBackground;
    MDial next;
    MDial repeats;
    MButton textButton;
    MLabel label;
    MEdit status;
};

Gallery::Gallery(GalleryHost& host, ColorRef baseColor) {
    MShadePalette p;
    p.DeriveFrom(baseColor);
    host.background = p.contrast;

    column.Create(10000, "1", 94, 2, &host);
    globalBackground.Create(0, "GLOBALBMP", 0, 0, &host, "GLOBALBMP");
    play.Create(1000, "PLAYBTN", 36, 60, &host, "PLAY2UP", "PLAY2DN");
    mute.Create(1001, "MUTEBTN", 40, 92, &host, "ONOFFUP", "ONOFFDN");
    mute.SetState(1);
    tempo.Create(DialParams{.id = 1005,
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
    tempo.SetNoFace(false);
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
    volume.SetValue(80);
    transpose.Create(DialParams{.id = 1060,
                                .x = 10,
                                .y = 2,
                                .upBitmapBase = "UPARROW",
                                .upDy = 144,
                                .downBitmapBase = "DNARROW",
                                .downDy = 153,
                                .host = &host,
                                .min = -59,
                                .max = 67,
                                .ctrlMultiplier = 12,
                                .barWidth = 6,
                                .barHeight = 135,
                                .thumbSize = 2});
    transpose.HideField();
    transpose.SetValue(0);
    file.Create(1002, "", 22, 4, &host, "FILEUP", "FILEDN");
    edit.Create(1003, "", 40, 4, &host, "EDITUP", "EDITDN");
    midi.Create(1004, "", 58, 4, &host, "MIDIUP", "MIDIDN");
    loops.Create(20000, "LOOPSCTRL", 79, 0, &host, 8, false);
    loops.Select(2);
    loops.Highlight(4);

    loopBackground.Create(0, "LOOPBKGBMP", 150, 10, &host, "LOOPBKGBMP");
    next.Create(DialParams{.id = 1100,
                           .x = 151,
                           .y = 11,
                           .upBitmapBase = "UPARROW",
                           .upDx = 21,
                           .downBitmapBase = "DNARROW",
                           .downDx = 21,
                           .downDy = 9,
                           .host = &host,
                           .fieldDx = 0,
                           .fieldDy = 3,
                           .fieldWidth = 21,
                           .fieldHeight = 15,
                           .min = 1,
                           .max = 8,
                           .ctrlMultiplier = 1});
    next.SetNoFace(false);
    next.SetValue(3);
    repeats.Create(DialParams{.id = 1110,
                              .x = 246,
                              .y = 11,
                              .upBitmapBase = "UPARROW",
                              .downBitmapBase = "DNARROW",
                              .downDy = 9,
                              .host = &host,
                              .fieldDx = 7,
                              .fieldDy = 3,
                              .fieldWidth = 21,
                              .fieldHeight = 15,
                              .min = 1,
                              .max = 32,
                              .ctrlMultiplier = 4});
    repeats.SetNoFace(false);
    repeats.SetValue(2);

    textButton.Create(1200, "MButton", 150, 44, 230, 62, &host);
    label.Create(1201, "MLabel", 150, 70, 230, 88, &host);
    status.Create(3, &host, p.contrastDarker, p.contrast, 0, 166, 312, 13, "left");
    status.SetText(" Glimmerstave toolkit gallery");

    // The colours as the main panel gives them.
    column.SetColors(baseColor);
    column.SetRedraw(true);
    column.Show();
    column.SetValue(10, 1);
    IntArray chord{0, 4, 7};
    column.SetNotes(chord);
    column.SetValue(30, 19);
    column.SetValue(40, 96);
    column.SetValue(50, 40);
    column.SetValue(60, 6);
    column.SetHighlight(true);
    globalBackground.SetColors(p.base, p.lightest);
    play.SetPressColors(p.contrastDarker, p.contrast, p.darker, p.lighter);
    mute.SetPressColors(p.lighter, p.base, p.darker, p.lighter);
    tempo.SetColorsAll(p.lighter, p.darker, p.darker, p.lighter, 0, 0, 0);
    volume.SetColorsAll(p.lighter, p.darker, p.darker, p.lighter, p.lighter, p.darker, p.contrast);
    transpose.SetColorsAll(p.lighter, p.darker, p.darker, p.lighter, p.lighter, p.darker,
                           p.contrast);
    loops.SetColorsAll(p.base, p.lightest, p.base, p.contrast, p.contrastDarker, p.contrastLighter,
                       p.contrastDarker, p.contrastLighter, p.base, p.contrast);
    file.SetColors(p.lighter, p.darker);
    edit.SetColors(p.contrast, p.contrastDarker);
    midi.SetColors(p.darker, p.lighter);
    loopBackground.SetColors(p.base, p.lightest);
    next.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base, 0, 0, 0);
    repeats.SetColorsAll(p.contrastDarker, p.contrastLighter, p.lightest, p.base, 0, 0, 0);
    textButton.SetColors(p.lightest, p.darker);
    label.SetColors(p.lighter, p.base);
    status.SetColors(p.contrast, p.contrastDarker);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [0xBBGGRR]\n", argv[0]);
        return 2;
    }
    // A private runtime directory, so nothing of the session is touched.
    QTemporaryDir runtimeDir(QDir::tempPath() + QStringLiteral("/gs-gallery-XXXXXX"));
    if (runtimeDir.isValid()) {
        QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        setenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit().constData(), 1);
    }
    QApplication app(argc, argv);
    const ColorRef base = argc > 2 ? static_cast<ColorRef>(std::strtol(argv[2], nullptr, 16))
                                   : MakeColorRef(46, 94, 140);
    GalleryHost host;
    auto gallery = std::make_unique<Gallery>(host, base);
    host.show();
    const QPixmap picture = host.grab();
    if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
