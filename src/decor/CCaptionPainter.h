#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "decor/CSubclassWnd.h"
#include "panels/MShadePalette.h"

class CaptionFrame;
class QPainter;
class QRegion;
class QWidget;

// What the window draws a caption image with: the image's size, a painter on it and the state
// the image shows. Passed by address with the caption's paint message.
struct CaptionPaintInfo {
    int width = 0;
    int height = 0;
    QPainter* dc = nullptr;
    bool active = false;
};

// Where the caption buttons lie in a caption image of a given width.
struct CaptionButtonRects {
    QRect close;
    QRect middle;    // maximise, restore, help or the grayed maximise
    QRect minimize;  // empty without a minimise box
    int width = 0;   // taken from the right end of the caption, gaps included
};

// Paints the main window's title bar in the palette's colours. Installing it wraps the window in
// a frameless CaptionFrame whose top strip is the caption, and hooks the window so that title
// changes, activation, look changes and the window's own show, hide, move, resize and close
// reach the frame. The caption is kept as two cached images (inactive, active); an image is
// drawn afresh only when the caption's size changes, after a title or look change, or when its
// state has not been painted at this size yet. The window draws the images' contents itself when
// it receives the paint message (its handler calls RenderCaption). A member of the main window.
class CCaptionPainter : public CSubclassWnd {
public:
    using MessageSender =
        std::function<void(int message, std::intptr_t wParam, std::intptr_t lParam)>;

    // Classic caption metrics in device-independent pixels: the caption strip's height and the
    // square cell of the icon and of each caption button.
    static constexpr int kCaptionHeight = 18;
    static constexpr int kButtonSize = 18;

    CCaptionPainter();
    ~CCaptionPainter() override;

    // Wraps window in a caption frame and hooks it. send delivers paintMessage to the window:
    // wParam is the active flag, lParam the CaptionPaintInfo's address, or 0 when only the
    // caption font is to be dropped. Nothing is shown until the window is.
    void InstallOn(QWidget* window, int paintMessage, MessageSender send);
    // Unhooks and puts the window back as a top-level window of its own. Also on destruction.
    void Uninstall();
    bool IsInstalled() const { return frame_ != nullptr; }
    CaptionFrame* Frame() const { return frame_.get(); }

    // The caption text (the window's title is set just after). Both images are stale then;
    // the window's title change, or else the next paint, draws the one on show.
    void SetTitle(const QString& text);
    const QString& Title() const { return title_; }
    // The palette whose base and contrast the active caption is drawn in; not owned. Without
    // one the desktop's highlight colours are used.
    void SetPalette(const MShadePalette* palette) { palette_ = palette; }
    // Which caption buttons the window has; the close button is always there.
    void SetButtons(bool maximizeBox, bool minimizeBox, bool contextHelp);

    // Makes sure the image of the current state is up to date (rebuild: draw both afresh) and
    // repaints the caption with it. Nothing happens while the window is minimised; false then.
    bool BlitCaption(bool rebuild);
    // The window's handler of the paint message.
    void RenderCaption(bool active, CaptionPaintInfo* info);
    // The caption strip in frame coordinates.
    QRect CaptionArea() const;
    CaptionButtonRects ButtonRects(int width) const;
    // Where the title is drawn in a caption this wide: after the icon, ending 2 pixels before
    // the leftmost button; a longer title is cut with an ellipsis.
    QRect TitleRect(int width) const;
    int DrawCaptionIcon(CaptionPaintInfo& info);
    int DrawCaptionButtons(CaptionPaintInfo& info);
    // Paints the caption part of a frame paint; false when region does not touch the caption.
    bool HandleFramePaint(QPainter& painter, const QRegion& region);

    bool IsActive() const { return isActive_; }
    // The cached image of a state; null until that state is painted at the current size.
    const QImage& Image(bool active) const { return images_[active ? 1 : 0]; }
    int PaintMessage() const { return paintMessage_; }

    // Whether this platform lets the program draw the window's decoration: real window
    // systems (X11, Wayland) do; offscreen, framebuffer and similar platforms do not.
    static bool IsSupportedOn(const QString& platformName);
    static bool IsSupported();

    // The desktop's colours of an inactive caption.
    static ColorRef InactiveCaptionColor();
    static ColorRef InactiveCaptionTextColor();

protected:
    bool HandleMessage(QEvent* event) override;
    virtual bool HandleActivation(QEvent* event, bool active);
    virtual bool HandleTitleChange(QEvent* event, const QString& text);
    // A change of the desktop's colours, fonts or style: both images and the font go.
    virtual bool HandleLookChange(QEvent* event);

private:
    static QRect TitleRect(int width, int iconWidth, int buttonsWidth);
    // The image of the current state, drawn when missing; false while minimised.
    bool PrepareImage();
    void DiscardImages();
    bool RelayToFrame(QEvent* event);
    QFont CaptionFont();

    std::array<QImage, 2> images_;
    int imageWidth_ = 0;
    int imageHeight_ = 0;
    bool isActive_ = false;
    int paintMessage_ = 0;
    std::optional<QFont> captionFont_;
    QString title_;

    MessageSender send_;
    const MShadePalette* palette_ = nullptr;
    MShadePalette fallbackPalette_;
    bool maximizeBox_ = false;
    bool minimizeBox_ = true;
    bool contextHelp_ = false;
    std::unique_ptr<CaptionFrame> frame_;
};
