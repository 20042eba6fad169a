#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <functional>

class CCaptionPainter;
class QMenu;

// The top-level window around the main window while its caption is painted by the program: a
// frameless window whose top strip is the caption (drawn by the CCaptionPainter) and whose rest
// is the main window. Dragging the caption moves the window (through the window manager when
// there is one, else by hand), the caption buttons close and minimise it, the icon opens the
// window menu, and grips on the left and right edges resize it horizontally. Owned by the
// painter.
class CaptionFrame : public QWidget {
public:
    CaptionFrame(CCaptionPainter& painter, QWidget* client);
    ~CaptionFrame() override;

    QWidget* Client() const { return client_; }
    // The "About" item of the window menu; without a handler the menu has no such item.
    void SetAboutHandler(std::function<void()> handler) { aboutHandler_ = std::move(handler); }
    // The window menu that the caption's icon opens (built afresh each time).
    QMenu* CreateWindowMenu();

    // Closing asked for by the main window itself, after it has agreed: no second question.
    void CloseForClient();
    // Keeps the main window at its place under the caption after it was moved or resized by
    // its own code: the frame takes over the move, or the size plus the caption.
    void FollowClientMove();
    void FollowClientResize();

    // True while a drag of the caption moves the window by hand (no window manager).
    bool IsMovingByHand() const { return movingByHand_; }

    // Narrow: the grips lie over the main window's own edges, where its volume dial begins.
    static constexpr int kGripWidth = 2;

    static constexpr const char* kAboutText = "&About qov ...";
    static constexpr const char* kMinimizeText = "Mi&nimize";
    static constexpr const char* kCloseText = "&Close";

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Part { None, Icon, Close, Middle, Minimize, Caption };
    Part PartAt(QPoint point) const;
    void PlaceGrips();

    CCaptionPainter& painter_;
    QWidget* client_;
    QWidget* leftGrip_ = nullptr;
    QWidget* rightGrip_ = nullptr;
    std::function<void()> aboutHandler_;
    Part pressed_ = Part::None;
    bool movingByHand_ = false;
    QPoint pressGlobal_;
    QPoint pressFramePos_;
    bool clientClosing_ = false;
    bool clientClosed_ = false;
    bool following_ = false;
};
