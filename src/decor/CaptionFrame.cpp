#include "decor/CaptionFrame.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "decor/CCaptionPainter.h"
#include "toolkit/Resources.h"

namespace {

// A strip on the left or right edge that resizes the frame horizontally. Its drag goes to the
// window manager when there is one and is done by hand otherwise.
class EdgeGrip : public QWidget {
public:
    EdgeGrip(QWidget* frame, Qt::Edge edge) : QWidget(frame), frame_(frame), edge_(edge) {
        if (std::optional<QCursor> cursor = Resources::LoadCursor("SIZECUR")) {
            setCursor(*cursor);
        } else {
            setCursor(Qt::SizeHorCursor);
        }
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            return;
        }
        QWindow* handle = frame_->windowHandle();
        byHand_ = handle == nullptr || !handle->startSystemResize(edge_);
        pressGlobal_ = event->globalPosition().toPoint();
        pressGeometry_ = frame_->geometry();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!byHand_ || !(event->buttons() & Qt::LeftButton)) {
            return;
        }
        const int dx = event->globalPosition().toPoint().x() - pressGlobal_.x();
        const int lowest = frame_->minimumWidth();
        const int highest = std::max(lowest, frame_->maximumWidth());
        QRect next = pressGeometry_;
        if (edge_ == Qt::RightEdge) {
            next.setWidth(std::clamp(pressGeometry_.width() + dx, lowest, highest));
        } else {
            next.setLeft(pressGeometry_.right() + 1 -
                         std::clamp(pressGeometry_.width() - dx, lowest, highest));
        }
        frame_->setGeometry(next);
    }
    void mouseReleaseEvent(QMouseEvent*) override { byHand_ = false; }

private:
    QWidget* frame_;
    Qt::Edge edge_;
    bool byHand_ = false;
    QPoint pressGlobal_;
    QRect pressGeometry_;
};

}  // namespace

CaptionFrame::CaptionFrame(CCaptionPainter& painter, QWidget* client)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), painter_(painter), client_(client) {
    setAttribute(Qt::WA_QuitOnClose, true);
    setWindowTitle(client->windowTitle());
    setWindowIcon(client->windowIcon());
    setMouseTracking(true);
    const QPoint at = client->pos();
    const QSize clientSize = client->size();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, CCaptionPainter::kCaptionHeight, 0, 0);
    layout->setSpacing(0);
    // The frame's limits follow the main window's: fixed height, width between its bounds.
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    // Reparenting hides the window; its own show() later shows the frame too.
    client->setParent(this);
    layout->addWidget(client);

    leftGrip_ = new EdgeGrip(this, Qt::LeftEdge);
    rightGrip_ = new EdgeGrip(this, Qt::RightEdge);
    layout->activate();
    move(at);
    resize(clientSize.width(), clientSize.height() + CCaptionPainter::kCaptionHeight);
    PlaceGrips();
}

CaptionFrame::~CaptionFrame() = default;

void CaptionFrame::PlaceGrips() {
    leftGrip_->setGeometry(0, 0, kGripWidth, height());
    rightGrip_->setGeometry(width() - kGripWidth, 0, kGripWidth, height());
    leftGrip_->raise();
    rightGrip_->raise();
}

void CaptionFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceGrips();
    painter_.BlitCaption(false);
}

void CaptionFrame::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized()) {
        // Nothing was painted while minimised.
        painter_.BlitCaption(false);
    }
}

void CaptionFrame::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter_.HandleFramePaint(painter, event->region());
}

CaptionFrame::Part CaptionFrame::PartAt(QPoint point) const {
    const QRect area = painter_.CaptionArea();
    if (!area.contains(point)) {
        return Part::None;
    }
    const QPoint inCaption = point - area.topLeft();
    const CaptionButtonRects buttons = painter_.ButtonRects(area.width());
    if (buttons.close.contains(inCaption)) {
        return Part::Close;
    }
    if (buttons.middle.contains(inCaption)) {
        return Part::Middle;
    }
    if (!buttons.minimize.isEmpty() && buttons.minimize.contains(inCaption)) {
        return Part::Minimize;
    }
    if (inCaption.x() < CCaptionPainter::kButtonSize) {
        return Part::Icon;
    }
    return Part::Caption;
}

void CaptionFrame::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    pressed_ = PartAt(event->position().toPoint());
    switch (pressed_) {
        case Part::Caption: {
            QWindow* handle = windowHandle();
            movingByHand_ = handle == nullptr || !handle->startSystemMove();
            pressGlobal_ = event->globalPosition().toPoint();
            pressFramePos_ = pos();
            return;
        }
        case Part::Icon: {
            QMenu* menu = CreateWindowMenu();
            menu->setAttribute(Qt::WA_DeleteOnClose);
            pressed_ = Part::None;
            menu->popup(mapToGlobal(QPoint(0, painter_.CaptionArea().bottom() + 1)));
            return;
        }
        default:
            return;
    }
}

void CaptionFrame::mouseMoveEvent(QMouseEvent* event) {
    if (movingByHand_ && (event->buttons() & Qt::LeftButton)) {
        move(pressFramePos_ + event->globalPosition().toPoint() - pressGlobal_);
    }
}

void CaptionFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const Part pressed = pressed_;
    pressed_ = Part::None;
    movingByHand_ = false;
    // A button acts when the press and the release are both on it.
    if (pressed != PartAt(event->position().toPoint())) {
        return;
    }
    if (pressed == Part::Close) {
        close();
    } else if (pressed == Part::Minimize) {
        showMinimized();
    }
}

QMenu* CaptionFrame::CreateWindowMenu() {
    auto* menu = new QMenu(this);
    menu->addAction(QString::fromLatin1(kMinimizeText), this, [this] { showMinimized(); });
    menu->addAction(QString::fromLatin1(kCloseText), this, [this] { close(); });
    if (aboutHandler_) {
        menu->addSeparator();
        menu->addAction(QString::fromLatin1(kAboutText), this, [this] { aboutHandler_(); });
    }
    return menu;
}

void CaptionFrame::closeEvent(QCloseEvent* event) {
    if (clientClosed_ || client_ == nullptr) {
        event->accept();
        return;
    }
    // The main window decides: its own close procedure may refuse.
    clientClosing_ = true;
    const bool closed = client_->close();
    clientClosing_ = false;
    event->setAccepted(closed || clientClosed_);
}

void CaptionFrame::CloseForClient() {
    clientClosed_ = true;
    if (!clientClosing_) {
        close();
    }
}

void CaptionFrame::FollowClientMove() {
    const QPoint home(0, CCaptionPainter::kCaptionHeight);
    if (following_ || client_->pos() == home) {
        return;
    }
    // The main window placed itself on the screen: the frame goes there instead.
    following_ = true;
    move(client_->pos());
    client_->move(home);
    following_ = false;
}

void CaptionFrame::FollowClientResize() {
    const QSize inside(width(), height() - CCaptionPainter::kCaptionHeight);
    if (following_ || client_->size() == inside) {
        return;
    }
    following_ = true;
    resize(client_->width(), client_->height() + CCaptionPainter::kCaptionHeight);
    following_ = false;
}
