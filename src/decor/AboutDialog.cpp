#include "decor/AboutDialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "toolkit/PointFont.h"
#include "toolkit/Resources.h"
#include "toolkit/WindowSystem.h"

#ifndef GLIMMERSTAVE_VERSION
#define GLIMMERSTAVE_VERSION "0"
#endif

namespace {

void Colour(QWidget* widget, ColorRef text, ColorRef background) {
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, ToQColor(text));
    colours.setColor(QPalette::Window, ToQColor(background));
    widget->setPalette(colours);
}

void SetCursorByName(QWidget* widget, const char* name) {
    if (std::optional<QCursor> cursor = Resources::LoadCursor(name)) {
        widget->setCursor(*cursor);
    }
}

}  // namespace

QString AboutDialog::PictureText() {
    return QStringLiteral(
        "    .  +   .    +    \n"
        " +     .   ___  .   .\n"
        "   .  |\\  |   |   +  \n"
        "======|/==|===|======\n"
        "  +  /|   |   |  .   \n"
        "=====|=|==O===O======\n"
        "  .  \\|/  .   +    . \n"
        "======|=============\n"
        " . ( _|   +    .   + \n"
        "====================\n"
        "  +   .   .  +    .  ");
}

QString AboutDialog::VersionText() {
    // Five lines of Courier fill the 49 dialog units of the box: the licence takes the place
    // of the blank line there was.
    return QStringLiteral("Glimmerstave\nversion %1\nMIDI step\nsequencer\nGPL v3 or later")
        .arg(QStringLiteral(GLIMMERSTAVE_VERSION));
}

AboutDialog::AboutDialog(const MShadePalette& palette, QWidget* parent, LinkOpener opener)
    : QDialog(parent), boxFont_(PointFont("Courier New", 80)) {
    boxFont_.setStyleHint(QFont::Monospace);
    setFont(boxFont_);
    // Wayland refuses a mouse grab to anything but a popup, and places a dialog where the
    // compositor likes: there the box is a popup anchored to its owner.
    popup_ = parent != nullptr && !WindowSystem::ReportsWindowPositions();
    setWindowFlags((popup_ ? Qt::Popup : Qt::Dialog) | Qt::FramelessWindowHint);
    setMouseTracking(true);
    // Dialog units: a quarter of the average character width, an eighth of the line height.
    const QFontMetrics metrics(boxFont_);
    unitX_ = std::max(1, metrics.averageCharWidth());
    unitY_ = std::max(1, metrics.height());
    setFixedSize(DialogRect(0, 0, 94, 170).size());

    const ColorRef face = palette.contrast;
    Colour(this, palette.contrastLighter, face);
    setAutoFillBackground(true);

    versionLines_ = new QLabel(VersionText(), this);
    versionLines_->setGeometry(DialogRect(16, 95, 66, 49));
    versionLines_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Colour(versionLines_, palette.contrastLighter, face);

    picture_ = new QLabel(PictureText(), this);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setGeometry(DialogRect(5, 0, 85, 91));
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Colour(picture_, palette.contrastDarker, face);

    firstLink_ = new LinkStatic(QString::fromLatin1(kFirstHalf), this);
    secondLink_ = new LinkStatic(QString::fromLatin1(kSecondHalf), this);
    firstLink_->setGeometry(DialogRect(15, 147, 66, 10));
    secondLink_->setGeometry(DialogRect(15, 156, 66, 10));
    for (LinkStatic* link : {firstLink_, secondLink_}) {
        link->SetUrl(QString::fromLatin1(kMakerPage));
        link->SetUnderlineMode(1);
        link->SetOpener(opener);
        // The box's colours, not the link's own: both halves in the base colour.
        link->SetColorOverride(palette.base);
        Colour(link, palette.base, face);
    }

    // The default button lies below the box's edge and is never seen: Enter presses it.
    defaultButton_ = new QPushButton(QStringLiteral("--"), this);
    defaultButton_->setGeometry(DialogRect(69, 189, 25, 10));
    defaultButton_->setDefault(true);
    connect(defaultButton_, &QPushButton::clicked, this, [this] { done(1); });
}

AboutDialog::~AboutDialog() = default;

QRect AboutDialog::DialogRect(int x, int y, int width, int height) const {
    return QRect(x * unitX_ / 4, y * unitY_ / 8, width * unitX_ / 4, height * unitY_ / 8);
}

void AboutDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    const QWidget* owner = parentWidget();
    if (popup_) {
        // Only a place relative to the owner means anything to the compositor.
        move(owner->window()->geometry().center() - rect().center());
    } else if (const QScreen* screen = owner != nullptr ? owner->screen() : this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    HoldMouse();
}

void AboutDialog::hideEvent(QHideEvent* event) {
    if (!popup_) {
        releaseMouse();
    }
    QDialog::hideEvent(event);
}

void AboutDialog::HoldMouse() {
    if (!popup_) {
        grabMouse();
    }
}

void AboutDialog::reject() {
    done(1);
}

bool AboutDialog::OnLink(QPoint global) const {
    for (const LinkStatic* link : {firstLink_, secondLink_}) {
        if (QRect(link->mapToGlobal(QPoint(0, 0)), link->size()).contains(global)) {
            return true;
        }
    }
    return false;
}

void AboutDialog::PressAt(QPoint global) {
    if (OnLink(global)) {
        // Both halves open the same page.
        firstLink_->Follow();
        if (isVisible()) {
            HoldMouse();
        }
        return;
    }
    done(1);
}

void AboutDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        PressAt(event->globalPosition().toPoint());
    }
}

void AboutDialog::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void AboutDialog::mouseMoveEvent(QMouseEvent* event) {
    SetCursorByName(this, OnLink(event->globalPosition().toPoint()) ? "HANDCUR" : "NOCUR");
}

void AboutDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The white frame around the whole box.
    QPainter painter(this);
    painter.setPen(Qt::white);
    painter.drawRect(DialogRect(0, 0, 94, 170).adjusted(0, 0, -1, -1));
}
