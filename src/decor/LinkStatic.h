#pragma once

#include <QBasicTimer>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QStringList>
#include <functional>
#include <optional>

#include "toolkit/ColorRef.h"

// How a link is opened; tests put their own in place so that no browser ever starts.
struct LinkOpener {
    // Hands the address to the desktop; true when the desktop took it.
    std::function<bool(const QString& url)> openWithDesktop;
    // The default web browser's command line (a desktop entry's Exec line), or nothing.
    std::function<std::optional<QString>()> browserCommand;
    // Starts a program detached with these arguments (no shell in between). Returns a
    // program-start code: above 32 when it started, 2 when the program is not there, 5 when it
    // could not be started.
    std::function<int(const QString& program, const QStringList& arguments)> startProgram;

    static LinkOpener System();
};

// A label that shows a web address as a link: its text turns the hover colour and (in mode -1)
// underlined while the pointer is over it, its tooltip is the address, and a click opens the
// address through the desktop, falling back to the default browser's command line; a failed open
// beeps and explains why. Visited after the first successful open. A child of its dialog.
class LinkStatic : public QLabel {
public:
    // Results of Open(): anything above kFirstSuccess means opened.
    static constexpr int kFirstSuccess = 32;
    static constexpr int kOpened = 33;
    // What a refused address or a desktop that could not open it reports.
    static constexpr int kNoAssociation = 31;
    static constexpr int kHoverTimerMs = 100;

    explicit LinkStatic(const QString& text = {}, QWidget* parent = nullptr);
    ~LinkStatic() override;

    void SetUrl(const QString& url);
    const QString& Url() const { return url_; }
    // 1: always underlined, 0: never, -1: underlined while the pointer is over the link.
    void SetUnderlineMode(int mode);
    int UnderlineMode() const { return underlineMode_; }
    void SetVisited(bool visited);
    bool IsVisited() const { return visited_; }
    bool IsHovering() const { return hovering_; }
    bool IsUnderlined() const { return font().underline(); }

    void SetLinkColor(ColorRef color) {
        linkColor_ = color;
        ApplyColor();
    }
    void SetVisitedColor(ColorRef color) {
        visitedColor_ = color;
        ApplyColor();
    }
    void SetHoverColor(ColorRef color) {
        hoverColor_ = color;
        ApplyColor();
    }
    // A colour that replaces the link's own colours in every state (the about box's).
    void SetColorOverride(std::optional<ColorRef> color) {
        colorOverride_ = color;
        ApplyColor();
    }
    // The colour the text is drawn in now.
    ColorRef TextColor() const;
    const std::optional<QCursor>& LinkCursor() const { return linkCursor_; }

    void SetOpener(LinkOpener opener) { opener_ = std::move(opener); }
    // Where the failure text goes (after the beep); a warning box unless a test sets one.
    void SetErrorHandler(std::function<void(const QString& text)> handler) {
        showError_ = std::move(handler);
    }

    // Opens the link as a click does: visited when it opened, else the beep and the reason.
    void Follow();
    // Opens url through the desktop, else through the browser's command line; the result code.
    int Open(const QString& url) const;

    // The pointer is at point (client coordinates), as the hover timer finds it.
    void CheckHover(QPoint point);

    // "Unable to open hyperlink:\n\n" follows this in the failure message.
    static QString ErrorText(int code);
    static constexpr const char* kErrorPrefix = "Unable to open hyperlink:\n\n";
    // The browser's command line cut before its address placeholder ("%1", or a desktop
    // entry's %u %U %f %F; quoted ones cut at their opening quote).
    static QString CutPlaceholder(const QString& commandLine);
    // The command line that opens url: the cut line, one space, url.
    static QString BrowserCommandLine(const QString& commandLine, const QString& url);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void ApplyColor();
    void ApplyFont();

    ColorRef linkColor_ = MakeColorRef(0, 0, 238);
    ColorRef visitedColor_ = MakeColorRef(85, 26, 139);
    ColorRef hoverColor_ = MakeColorRef(255, 0, 0);
    bool hovering_ = false;
    bool visited_ = false;
    int underlineMode_ = -1;
    QString url_;
    QFont underlineFont_;
    QFont normalFont_;
    std::optional<QCursor> linkCursor_;
    QBasicTimer hoverTimer_;
    std::optional<ColorRef> colorOverride_;
    bool pressed_ = false;
    LinkOpener opener_;
    std::function<void(const QString&)> showError_;
};
