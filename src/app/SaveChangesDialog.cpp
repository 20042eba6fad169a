#include "app/SaveChangesDialog.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "toolkit/PointFont.h"
#include "toolkit/Resources.h"

namespace {

// 217 x 85 dialog units of an 8-point "MS Sans Serif" dialog, in pixels.
constexpr int kWidth = 326;
constexpr int kHeight = 138;
constexpr int kFrame = 3;
constexpr int kBandHeight = 36;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kIconSize = 32;

}  // namespace

SaveChangesDialog::SaveChangesDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(true);
    setFixedSize(kWidth, kHeight);
    setFont(PointFont("MS Sans Serif", 80));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(Resources::LoadAppIcon().pixmap(kIconSize, kIconSize));
    icon->setGeometry(kFrame + 8, kFrame + 8, kIconSize, kIconSize);

    prompt_ = new QLabel(QString::fromUtf8(kInitialText), this);
    prompt_->setObjectName(QStringLiteral("prompt"));
    prompt_->setWordWrap(true);
    prompt_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    prompt_->setTextFormat(Qt::PlainText);
    const int textLeft = kFrame + 8 + kIconSize + 10;
    prompt_->setGeometry(textLeft, kFrame + 8, kWidth - textLeft - kFrame - 8,
                         kHeight - kBandHeight - 2 * kFrame - 12);

    save_ = new QPushButton(QStringLiteral("&Save"), this);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    dontSave_ = new QPushButton(QStringLiteral("&Don't Save"), this);
    save_->setObjectName(QStringLiteral("save"));
    cancel_->setObjectName(QStringLiteral("cancel"));
    dontSave_->setObjectName(QStringLiteral("dontSave"));
    save_->setDefault(true);
    const int buttonTop = kHeight - kFrame - (kBandHeight + kButtonHeight) / 2;
    const int gap = (kWidth - 2 * kFrame - 3 * kButtonWidth) / 4;
    int left = kFrame + gap;
    for (QPushButton* button : {save_, cancel_, dontSave_}) {
        button->setGeometry(left, buttonTop, kButtonWidth, kButtonHeight);
        left += kButtonWidth + gap;
    }
    connect(save_, &QPushButton::clicked, this, [this] { done(kSave); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(kCancel); });
    connect(dontSave_, &QPushButton::clicked, this, [this] { done(kDontSave); });
}

QString SaveChangesDialog::ShownName(const QString& name) {
    const QList<uint> characters = name.toUcs4();
    if (characters.size() <= kLongestShownName) {
        return name;
    }
    // Whole characters only; the file name at the end matters most, so the end keeps more.
    constexpr int kEllipsis = 3;
    constexpr int kHead = (kLongestShownName - kEllipsis) * 2 / 5;
    constexpr int kTail = kLongestShownName - kEllipsis - kHead;
    const QList<uint> head = characters.mid(0, kHead);
    const QList<uint> tail = characters.mid(characters.size() - kTail);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(head.constData()), head.size()) +
           QStringLiteral("...") +
           QString::fromUcs4(reinterpret_cast<const char32_t*>(tail.constData()), tail.size());
}

QString SaveChangesDialog::PromptFor(const std::string& name) {
    return QStringLiteral("Save changes to") + QStringLiteral("\n\"") +
           ShownName(QString::fromStdString(name)) + QStringLiteral("\"?");
}

void SaveChangesDialog::setPrompt(const QString& text) {
    prompt_->setText(text);
}

QString SaveChangesDialog::prompt() const {
    return prompt_->text();
}

void SaveChangesDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const QRect all = rect();
    painter.drawRect(0, 0, all.width(), kFrame);
    painter.drawRect(0, all.height() - kFrame, all.width(), kFrame);
    painter.drawRect(0, 0, kFrame, all.height());
    painter.drawRect(all.width() - kFrame, 0, kFrame, all.height());
    painter.drawRect(0, all.height() - kBandHeight - kFrame, all.width(), kBandHeight);
}
