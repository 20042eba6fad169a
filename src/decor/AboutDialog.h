#pragma once

#include <QDialog>
#include <QFont>

#include "decor/LinkStatic.h"
#include "panels/MShadePalette.h"

class QLabel;
class QPushButton;

// The about box: a picture drawn in text characters, the program's name and version, and the
// maker's web address as two link halves that open the same page. It holds the mouse while
// shown: a click on either half opens the page and keeps the box, a click anywhere else (also
// outside the box) or any command closes it. Coloured from the main window's palette. Made for
// each use by the main window. Where the window system keeps window positions and the mouse
// from clients (Wayland), it is a popup over its owner instead, which holds the mouse the
// same way.
class AboutDialog : public QDialog {
public:
    static constexpr const char* kMakerPage = "https://glimmerstave.org/";
    static constexpr const char* kFirstHalf = "https://glimmer";
    static constexpr const char* kSecondHalf = "stave.org/";

    // Control ids of the box's layout.
    static constexpr int ID_FIRST_LINK = 1001;
    static constexpr int ID_SECOND_LINK = 1002;
    static constexpr int ID_PICTURE = 1004;

    explicit AboutDialog(const MShadePalette& palette, QWidget* parent = nullptr,
                         LinkOpener opener = LinkOpener::System());
    ~AboutDialog() override;

    LinkStatic& FirstLink() { return *firstLink_; }
    LinkStatic& SecondLink() { return *secondLink_; }
    QLabel& Picture() { return *picture_; }
    QLabel& VersionLines() { return *versionLines_; }
    QPushButton& DefaultButton() { return *defaultButton_; }

    // Handles a primary press at a point on the screen as the box does while it holds the mouse:
    // on a link the page opens, elsewhere the box closes.
    void PressAt(QPoint global);

    static QString PictureText();
    static QString VersionText();
    // Dialog units of the box's font in pixels.
    QRect DialogRect(int x, int y, int width, int height) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void reject() override;

private:
    bool OnLink(QPoint global) const;
    // Holds the mouse unless the box is a popup, which holds it already.
    void HoldMouse();

    QFont boxFont_;
    int unitX_ = 2;
    int unitY_ = 2;
    QLabel* picture_ = nullptr;
    QLabel* versionLines_ = nullptr;
    LinkStatic* firstLink_ = nullptr;
    LinkStatic* secondLink_ = nullptr;
    QPushButton* defaultButton_ = nullptr;
    bool popup_ = false;
};
