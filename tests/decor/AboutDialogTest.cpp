#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "decor/AboutDialog.h"

namespace {

class AboutBox : public testing::Test {
protected:
    AboutBox() {
        palette.DeriveFrom(MakeColorRef(200, 40, 90));
        LinkOpener opener;
        opener.openWithDesktop = [this](const QString& url) {
            opened.push_back(url);
            return true;
        };
        opener.browserCommand = [] { return std::optional<QString>(); };
        opener.startProgram = [](const QString&, const QStringList&) { return 2; };
        dialog = std::make_unique<AboutDialog>(palette, nullptr, opener);
    }

    void Show() {
        dialog->show();
        QApplication::processEvents();
    }

    static QPoint GlobalCentre(QWidget& widget) {
        return widget.mapToGlobal(widget.rect().center());
    }

    MShadePalette palette;
    std::vector<QString> opened;
    std::unique_ptr<AboutDialog> dialog;
};

TEST_F(AboutBox, LaysOutItsPartsInDialogUnits) {
    const QRect box = dialog->DialogRect(0, 0, 94, 170);
    EXPECT_EQ(dialog->size(), box.size());
    EXPECT_EQ(dialog->FirstLink().geometry(), dialog->DialogRect(15, 147, 66, 10));
    EXPECT_EQ(dialog->SecondLink().geometry(), dialog->DialogRect(15, 156, 66, 10));
    EXPECT_EQ(dialog->Picture().geometry(), dialog->DialogRect(5, 0, 85, 91));
    EXPECT_EQ(dialog->VersionLines().geometry(), dialog->DialogRect(16, 95, 66, 49));
    // The default button is there for the Enter key but lies below the box.
    EXPECT_GE(dialog->DefaultButton().geometry().top(), dialog->height());
    EXPECT_TRUE(dialog->DefaultButton().isDefault());
}

TEST_F(AboutBox, TheLicenceFitsInTheVersionLines) {
    const QLabel& lines = dialog->VersionLines();
    EXPECT_TRUE(lines.text().contains(QStringLiteral("GPL v3 or later")));
    const QRect needed = lines.fontMetrics().boundingRect(
        lines.contentsRect(), static_cast<int>(lines.alignment()), lines.text());
    EXPECT_LE(needed.height(), lines.contentsRect().height());
    EXPECT_LE(needed.width(), lines.contentsRect().width());
}

TEST_F(AboutBox, TakesItsColoursFromThePalette) {
    auto textOf = [](QWidget& widget) {
        return FromQColor(widget.palette().color(QPalette::WindowText));
    };
    EXPECT_EQ(FromQColor(dialog->palette().color(QPalette::Window)), palette.contrast);
    EXPECT_EQ(textOf(dialog->Picture()), palette.contrastDarker);
    EXPECT_EQ(textOf(dialog->VersionLines()), palette.contrastLighter);
    for (LinkStatic* link : {&dialog->FirstLink(), &dialog->SecondLink()}) {
        EXPECT_EQ(textOf(*link), palette.base);
        EXPECT_EQ(link->TextColor(), palette.base);
        EXPECT_TRUE(link->IsUnderlined());
        EXPECT_EQ(link->Url(), QString::fromLatin1(AboutDialog::kMakerPage));
    }
}

TEST_F(AboutBox, NamesTheProgramAndItsVersion) {
    EXPECT_TRUE(dialog->VersionLines().text().contains(QStringLiteral("Glimmerstave")));
    EXPECT_TRUE(dialog->VersionLines().text().contains(QStringLiteral(GLIMMERSTAVE_VERSION)));
    EXPECT_EQ(QString::fromLatin1(AboutDialog::kFirstHalf) +
                  QString::fromLatin1(AboutDialog::kSecondHalf),
              QString::fromLatin1(AboutDialog::kMakerPage));
}

TEST_F(AboutBox, HoldsTheMouseWhileShown) {
    Show();
    EXPECT_EQ(QWidget::mouseGrabber(), dialog.get());
    dialog->PressAt(QPoint(-500, -500));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(AboutBox, AClickOnEitherHalfOpensThePageAndKeepsTheBox) {
    Show();
    dialog->PressAt(GlobalCentre(dialog->FirstLink()));
    dialog->PressAt(GlobalCentre(dialog->SecondLink()));
    EXPECT_EQ(opened, (std::vector<QString>(2, QString::fromLatin1(AboutDialog::kMakerPage))));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->FirstLink().IsVisited());
    EXPECT_EQ(QWidget::mouseGrabber(), dialog.get());
}

TEST_F(AboutBox, AClickInsideTheBoxButOffTheLinksClosesIt) {
    Show();
    dialog->PressAt(GlobalCentre(dialog->Picture()));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_TRUE(opened.empty());
}

TEST_F(AboutBox, AClickOutsideTheBoxClosesIt) {
    Show();
    const QPoint outside = dialog->mapToGlobal(QPoint(dialog->width() + 30, -30));
    QMouseEvent press(QEvent::MouseButtonPress, dialog->mapFromGlobal(outside), outside,
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.get(), &press);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
}

TEST_F(AboutBox, EnterAndEscapeCloseIt) {
    Show();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
    Show();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
}

}  // namespace
