#include "decor/LinkStatic.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTimerEvent>
#include <QUrl>

#include "decor/DefaultBrowser.h"
#include "toolkit/Resources.h"

LinkOpener LinkOpener::System() {
    LinkOpener opener;
    opener.openWithDesktop = [](const QString& url) {
        return QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
    };
    opener.browserCommand = [] { return DefaultBrowser::Command(); };
    opener.startProgram = [](const QString& program, const QStringList& arguments) {
        const QString path =
            QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            return 2;
        }
        return QProcess::startDetached(path, arguments) ? LinkStatic::kOpened : 5;
    };
    return opener;
}

LinkStatic::LinkStatic(const QString& text, QWidget* parent)
    : QLabel(text, parent), opener_(LinkOpener::System()) {
    // Clicks and moves reach the label (a plain label would pass them to its dialog).
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, false);
    if (url_.isEmpty()) {
        url_ = this->text();
    }
    normalFont_ = font();
    underlineFont_ = normalFont_;
    underlineFont_.setUnderline(true);
    linkCursor_ = Resources::LoadCursor("HANDCUR");
    if (linkCursor_) {
        setCursor(*linkCursor_);
    }
    setToolTip(url_);
    ApplyColor();
}

LinkStatic::~LinkStatic() {
    hoverTimer_.stop();
}

void LinkStatic::SetUrl(const QString& url) {
    url_ = url;
    if (text().isEmpty()) {
        setText(url);
    }
    setToolTip(url_);
}

void LinkStatic::SetUnderlineMode(int mode) {
    if (mode == underlineMode_) {
        return;
    }
    underlineMode_ = mode;
    ApplyFont();
}

void LinkStatic::SetVisited(bool visited) {
    visited_ = visited;
    ApplyColor();
}

void LinkStatic::ApplyFont() {
    const bool underlined = underlineMode_ == 1 || (underlineMode_ == -1 && hovering_);
    setFont(underlined ? underlineFont_ : normalFont_);
    update();
}

ColorRef LinkStatic::TextColor() const {
    if (colorOverride_) {
        return *colorOverride_;
    }
    if (hovering_) {
        return hoverColor_;
    }
    return visited_ ? visitedColor_ : linkColor_;
}

void LinkStatic::ApplyColor() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, ToQColor(TextColor()));
    setPalette(colours);
    update();
}

void LinkStatic::mouseMoveEvent(QMouseEvent* event) {
    if (!hovering_) {
        hovering_ = true;
        ApplyFont();
        ApplyColor();
        hoverTimer_.start(kHoverTimerMs, this);
    }
    QLabel::mouseMoveEvent(event);
}

void LinkStatic::timerEvent(QTimerEvent* event) {
    if (event->timerId() != hoverTimer_.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    CheckHover(mapFromGlobal(QCursor::pos()));
}

void LinkStatic::CheckHover(QPoint point) {
    if (!hovering_ || rect().contains(point)) {
        return;
    }
    hovering_ = false;
    hoverTimer_.stop();
    ApplyFont();
    ApplyColor();
}

void LinkStatic::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void LinkStatic::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        Follow();
    }
}

void LinkStatic::Follow() {
    hovering_ = false;
    const int result = Open(url_);
    if (result > kFirstSuccess) {
        SetVisited(true);
        return;
    }
    ApplyColor();
    QApplication::beep();
    const QString text = QString::fromLatin1(kErrorPrefix) + ErrorText(result);
    if (showError_) {
        showError_(text);
    } else {
        QMessageBox::warning(window(), QApplication::applicationName(), text);
    }
}

int LinkStatic::Open(const QString& url) const {
    if (url.isEmpty()) {
        return kNoAssociation;
    }
    if (opener_.openWithDesktop && opener_.openWithDesktop(url)) {
        return kOpened;
    }
    const int shellResult = kNoAssociation;
    // An address starting with a dash would reach the browser as an option.
    if (url.startsWith(QLatin1Char('-')) || !opener_.browserCommand || !opener_.startProgram) {
        return shellResult;
    }
    const std::optional<QString> command = opener_.browserCommand();
    if (!command) {
        return shellResult;
    }
    QStringList arguments = QProcess::splitCommand(CutPlaceholder(*command));
    if (arguments.isEmpty()) {
        return 2;
    }
    const QString program = arguments.takeFirst();
    // The address is one argument of its own: no shell sees it.
    arguments << url;
    return opener_.startProgram(program, arguments);
}

QString LinkStatic::CutPlaceholder(const QString& commandLine) {
    static const char* const kPlaceholders[] = {"%1", "%u", "%U", "%f", "%F"};
    for (const char* placeholder : kPlaceholders) {
        const QString quoted = QLatin1Char('"') + QLatin1String(placeholder) + QLatin1Char('"');
        if (const qsizetype at = commandLine.indexOf(quoted); at >= 0) {
            return commandLine.left(at);
        }
    }
    for (const char* placeholder : kPlaceholders) {
        if (const qsizetype at = commandLine.indexOf(QLatin1String(placeholder)); at >= 0) {
            return commandLine.left(at);
        }
    }
    return commandLine;
}

QString LinkStatic::BrowserCommandLine(const QString& commandLine, const QString& url) {
    return CutPlaceholder(commandLine) + QLatin1Char(' ') + url;
}

QString LinkStatic::ErrorText(int code) {
    switch (code) {
        case 0:
            return QStringLiteral("The operating system is out\nof memory or resources.");
        case 2:
            return QStringLiteral("The specified file was not found.");
        case 3:
            return QStringLiteral("The specified path was not found.");
        case 5:
            return QStringLiteral("The operating system denied\naccess to the specified file.");
        case 8:
            return QStringLiteral("There was not enough memory to complete the operation.");
        case 11:
            return QStringLiteral(
                "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        case 26:
            return QStringLiteral("A sharing violation occurred. ");
        case 27:
            return QStringLiteral("The filename association is\nincomplete or invalid.");
        case 28:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
        case 29:
            return QStringLiteral("The DDE transaction failed.");
        case 30:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\n"
                "were being processed.");
        case 31:
            return QStringLiteral(
                "There is no application associated\nwith the given filename extension.");
        case 32:
            return QStringLiteral("The specified dynamic-link library was not found.");
        default:
            return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}
