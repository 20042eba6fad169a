#include "decor/CCaptionPainter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QRegion>
#include <QWidget>

#include "decor/CaptionFrame.h"
#include "toolkit/Resources.h"

namespace {

enum class Glyph { Close, Maximize, Restore, Help, Minimize };

// A classic caption button: a raised face with a black glyph, or a gray embossed one when the
// button is not available.
void DrawCaptionButton(QPainter& dc, const QRect& rect, Glyph glyph, bool grayed) {
    const QColor face = ToQColor(GetSysColor(SysColor::ButtonFace));
    const QColor light = ToQColor(GetSysColor(SysColor::ButtonHighlight));
    const QColor shadow = ToQColor(GetSysColor(SysColor::ButtonShadow));
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing, false);
    dc.fillRect(rect, face);
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    dc.setPen(light);
    dc.drawLine(l, t, r - 1, t);
    dc.drawLine(l, t, l, b - 1);
    dc.setPen(Qt::black);
    dc.drawLine(l, b, r, b);
    dc.drawLine(r, t, r, b);
    dc.setPen(shadow);
    dc.drawLine(l + 1, b - 1, r - 1, b - 1);
    dc.drawLine(r - 1, t + 1, r - 1, b - 1);

    const QRect inner = rect.adjusted(3, 2, -4, -3);
    auto drawGlyph = [&](const QColor& color, int offset) {
        const QRect g = inner.translated(offset, offset);
        dc.setPen(QPen(color, 1));
        switch (glyph) {
            case Glyph::Close:
                for (int i = 0; i < 2; ++i) {
                    dc.drawLine(g.left() + 1 + i, g.top() + 1, g.right() - 1 + i - 1,
                                g.bottom() - 1);
                    dc.drawLine(g.right() - 2 + i, g.top() + 1, g.left() + i, g.bottom() - 1);
                }
                return;
            case Glyph::Maximize:
                dc.drawRect(g.adjusted(1, 0, -1, -1));
                dc.drawLine(g.left() + 1, g.top() + 1, g.right() - 1, g.top() + 1);
                return;
            case Glyph::Restore: {
                const QRect back(g.left() + 3, g.top(), g.width() - 4, g.height() - 3);
                const QRect front(g.left() + 1, g.top() + 3, g.width() - 4, g.height() - 4);
                dc.drawRect(back);
                dc.fillRect(front, face);
                dc.drawRect(front);
                dc.drawLine(front.left(), front.top() + 1, front.right(), front.top() + 1);
                return;
            }
            case Glyph::Help:
                dc.drawText(g, Qt::AlignCenter, QStringLiteral("?"));
                return;
            case Glyph::Minimize:
                dc.fillRect(QRect(g.left() + 2, g.bottom() - 2, std::max(1, g.width() - 5), 2),
                            color);
                return;
        }
    };
    if (grayed) {
        drawGlyph(light, 1);
        drawGlyph(shadow, 0);
    } else {
        drawGlyph(Qt::black, 0);
    }
    dc.restore();
}

}  // namespace

CCaptionPainter::CCaptionPainter() {
    fallbackPalette_.DeriveFrom(fallbackPalette_.base);
}

CCaptionPainter::~CCaptionPainter() {
    Uninstall();
}

void CCaptionPainter::InstallOn(QWidget* window, int paintMessage, MessageSender send) {
    Uninstall();
    paintMessage_ = paintMessage;
    send_ = std::move(send);
    if (title_.isEmpty()) {
        title_ = window->windowTitle();
    }
    const bool wasVisible = window->isVisible();
    frame_ = std::make_unique<CaptionFrame>(*this, window);
    AttachToWindow(window);
    if (wasVisible) {
        window->show();
    }
}

void CCaptionPainter::Uninstall() {
    AttachToWindow(nullptr);
    if (!frame_) {
        return;
    }
    std::unique_ptr<CaptionFrame> frame = std::move(frame_);
    if (QWidget* client = frame->Client(); client != nullptr && client->parent() == frame.get()) {
        const bool wasVisible = frame->isVisible();
        const QPoint at = frame->pos();
        client->setParent(nullptr, Qt::Window);
        client->move(at);
        if (wasVisible) {
            client->show();
        }
    }
    DiscardImages();
}

void CCaptionPainter::SetTitle(const QString& text) {
    title_ = text;
    imageWidth_ = imageHeight_ = 0;
    if (frame_) {
        frame_->update(CaptionArea());
    }
}

bool CCaptionPainter::IsSupportedOn(const QString& platformName) {
    return platformName == QLatin1String("xcb") ||
           platformName.startsWith(QLatin1String("wayland"));
}

bool CCaptionPainter::IsSupported() {
    return IsSupportedOn(QGuiApplication::platformName());
}

void CCaptionPainter::SetButtons(bool maximizeBox, bool minimizeBox, bool contextHelp) {
    maximizeBox_ = maximizeBox;
    minimizeBox_ = minimizeBox;
    contextHelp_ = contextHelp;
    DiscardImages();
}

ColorRef CCaptionPainter::InactiveCaptionColor() {
    return FromQColor(QApplication::palette().color(QPalette::Inactive, QPalette::Dark));
}

ColorRef CCaptionPainter::InactiveCaptionTextColor() {
    return FromQColor(QApplication::palette().color(QPalette::Inactive, QPalette::Light));
}

QRect CCaptionPainter::CaptionArea() const {
    const int width = frame_ ? frame_->width() : 0;
    return QRect(0, 0, width, kCaptionHeight);
}

void CCaptionPainter::DiscardImages() {
    images_[0] = QImage();
    images_[1] = QImage();
}

bool CCaptionPainter::PrepareImage() {
    if (!frame_ || frame_->isMinimized()) {
        return false;
    }
    const QRect area = CaptionArea();
    if (area.width() != imageWidth_ || area.height() != imageHeight_) {
        DiscardImages();
        imageWidth_ = area.width();
        imageHeight_ = area.height();
    }
    if (imageWidth_ <= 0 || imageHeight_ <= 0) {
        return false;
    }
    QImage& image = images_[isActive_ ? 1 : 0];
    if (!image.isNull()) {
        return true;
    }
    const qreal ratio = frame_->devicePixelRatioF();
    image = QImage(qRound(imageWidth_ * ratio), qRound(imageHeight_ * ratio),
                   QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter dc(&image);
    CaptionPaintInfo info{imageWidth_, imageHeight_, &dc, isActive_};
    if (send_) {
        send_(paintMessage_, isActive_ ? 1 : 0, reinterpret_cast<std::intptr_t>(&info));
    }
    return true;
}

bool CCaptionPainter::BlitCaption(bool rebuild) {
    if (!frame_ || frame_->isMinimized()) {
        return false;
    }
    if (rebuild) {
        DiscardImages();
    }
    if (!PrepareImage()) {
        return false;
    }
    frame_->update(CaptionArea());
    return true;
}

bool CCaptionPainter::HandleFramePaint(QPainter& painter, const QRegion& region) {
    const QRect area = CaptionArea();
    if (!region.intersects(area) || !PrepareImage()) {
        return false;
    }
    painter.drawImage(area.topLeft(), images_[isActive_ ? 1 : 0]);
    return true;
}

QFont CCaptionPainter::CaptionFont() {
    if (!captionFont_) {
        QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
        font.setBold(true);
        // Crisp, like the rest of the window's two-colour text.
        font.setStyleStrategy(QFont::NoAntialias);
        // Never taller than the strip it is drawn in.
        if (QFontMetrics(font).height() > kCaptionHeight - 2) {
            font.setPixelSize(kCaptionHeight - 6);
        }
        captionFont_ = font;
    }
    return *captionFont_;
}

void CCaptionPainter::RenderCaption(bool active, CaptionPaintInfo* info) {
    if (info == nullptr || info->dc == nullptr) {
        captionFont_.reset();
        return;
    }
    const MShadePalette& palette = palette_ != nullptr ? *palette_ : fallbackPalette_;
    QPainter& dc = *info->dc;
    dc.fillRect(QRect(0, 0, info->width, info->height),
                ToQColor(active ? palette.base : InactiveCaptionColor()));
    const int iconWidth = DrawCaptionIcon(*info);
    const int buttonsWidth = DrawCaptionButtons(*info);
    const QFont font = CaptionFont();
    dc.setFont(font);
    dc.setPen(ToQColor(active ? palette.contrast : InactiveCaptionTextColor()));
    const QRect textRect = TitleRect(info->width, iconWidth, buttonsWidth);
    // Measured on the image it is drawn into, so a cut title ends in its ellipsis.
    const QString shown =
        QFontMetrics(font, dc.device()).elidedText(title_, Qt::ElideRight, textRect.width());
    dc.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

int CCaptionPainter::DrawCaptionIcon(CaptionPaintInfo& info) {
    const QRect rect = QRect(0, 0, kButtonSize, kButtonSize).adjusted(2, 1, 0, -1);
    const QIcon icon = Resources::LoadAppIcon();
    if (!icon.isNull() && info.dc != nullptr) {
        info.dc->drawPixmap(rect, icon.pixmap(rect.size()));
    }
    return kButtonSize;
}

QRect CCaptionPainter::TitleRect(int width) const {
    return TitleRect(width, kButtonSize, ButtonRects(width).width);
}

QRect CCaptionPainter::TitleRect(int width, int iconWidth, int buttonsWidth) {
    return QRect(iconWidth + 2, 0, std::max(0, width - buttonsWidth - iconWidth - 2),
                 kCaptionHeight);
}

CaptionButtonRects CCaptionPainter::ButtonRects(int width) const {
    CaptionButtonRects rects;
    const int b = kButtonSize;
    QRect cell(QPoint(width - b, 0), QPoint(width - 1, kButtonSize - 1));
    cell.adjust(0, 2, -2, -2);
    rects.close = cell;
    cell.translate(-b, 0);
    rects.middle = cell;
    if (minimizeBox_) {
        cell.translate(-(b - 2), 0);
        rects.minimize = cell;
    }
    // The leftmost button and a gap of 2 before it: the title ends there.
    rects.width = width - cell.left() + 2;
    return rects;
}

int CCaptionPainter::DrawCaptionButtons(CaptionPaintInfo& info) {
    const CaptionButtonRects rects = ButtonRects(info.width);
    QPainter& dc = *info.dc;
    DrawCaptionButton(dc, rects.close, Glyph::Close, false);
    if (maximizeBox_) {
        const bool maximized = frame_ && frame_->isMaximized();
        DrawCaptionButton(dc, rects.middle, maximized ? Glyph::Restore : Glyph::Maximize, false);
    } else if (contextHelp_) {
        DrawCaptionButton(dc, rects.middle, Glyph::Help, false);
    } else {
        DrawCaptionButton(dc, rects.middle, Glyph::Maximize, true);
    }
    if (minimizeBox_) {
        DrawCaptionButton(dc, rects.minimize, Glyph::Minimize, false);
    }
    return rects.width;
}

bool CCaptionPainter::HandleMessage(QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowTitleChange:
            return HandleTitleChange(event, static_cast<QWidget*>(Window())->windowTitle());
        case QEvent::WindowActivate:
            return HandleActivation(event, true);
        case QEvent::WindowDeactivate:
            return HandleActivation(event, false);
        case QEvent::ApplicationPaletteChange:
        case QEvent::ApplicationFontChange:
        case QEvent::StyleChange:
        case QEvent::ThemeChange:
            return HandleLookChange(event);
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Close:
            return RelayToFrame(event);
        default:
            return PassOn(event);
    }
}

bool CCaptionPainter::HandleActivation(QEvent* event, bool active) {
    auto* window = static_cast<QWidget*>(Window());
    const bool newActive = active && window->isEnabled();
    const bool handled = PassOn(event);
    if (newActive != isActive_) {
        isActive_ = newActive;
        BlitCaption(false);
    }
    return handled;
}

bool CCaptionPainter::HandleTitleChange(QEvent* event, const QString& text) {
    const bool handled = PassOn(event);
    title_ = text;
    if (frame_) {
        frame_->setWindowTitle(text);
    }
    // Both images are stale; only the one on show is drawn now.
    imageWidth_ = imageHeight_ = 0;
    BlitCaption(false);
    return handled;
}

bool CCaptionPainter::HandleLookChange(QEvent* event) {
    imageWidth_ = imageHeight_ = 0;
    DiscardImages();
    if (send_) {
        send_(paintMessage_, 0, 0);
    }
    const bool handled = PassOn(event);
    BlitCaption(false);
    return handled;
}

bool CCaptionPainter::RelayToFrame(QEvent* event) {
    const bool handled = PassOn(event);
    if (!frame_) {
        return handled;
    }
    switch (event->type()) {
        case QEvent::ShowToParent:
            frame_->show();
            break;
        case QEvent::HideToParent:
            // The frame goes with the window; hiding for a moment (while a setup is applied)
            // hides the frame too.
            if (!frame_->isMinimized()) {
                frame_->hide();
            }
            break;
        case QEvent::Move:
            frame_->FollowClientMove();
            break;
        case QEvent::Resize:
            frame_->FollowClientResize();
            break;
        case QEvent::Close:
            if (event->isAccepted()) {
                frame_->CloseForClient();
            }
            break;
        default:
            break;
    }
    return handled;
}
