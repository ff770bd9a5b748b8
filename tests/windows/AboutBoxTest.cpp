// The about window's texts, picture and closing, and the artwork the program carries.
#include "Artwork.h"
#include "Controls.h"
#include "Forms.h"
#include "ScriptedDialogs.h"
#include "Unit4.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(Artwork, SizesAndColourCounts)
{
    const QImage main = MainLogo();
    EXPECT_EQ(main.size(), QSize(200, 150));
    EXPECT_EQ(main.format(), QImage::Format_Indexed8);
    EXPECT_EQ(main.colorCount(), 256);

    const QImage about = AboutLogo();
    EXPECT_EQ(about.size(), QSize(320, 240));
    EXPECT_EQ(about.colorCount(), 256);

    const QImage icon = ApplicationIconImage();
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.colorCount(), 16);
    EXPECT_FALSE(ApplicationIcon().isNull());
}

class AboutBoxTest : public testing::Test {
protected:
    TAboutBox box;
    ScriptedDialogs dialogs;
};

TEST_F(AboutBoxTest, WindowTextsAndLayout)
{
    EXPECT_EQ(box.Caption(), QStringLiteral("About Kabinex"));
    EXPECT_EQ(box.size(), QSize(390, 453));
    EXPECT_TRUE(box.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(box.Version->text(), QStringLiteral("Version 1.02a"));
    EXPECT_EQ(box.Version->parentWidget(), box.Panel1);
    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(box.OKButton->isDefault());
    EXPECT_TRUE(box.Label4->text().startsWith(QStringLiteral("mailto://")));
    EXPECT_TRUE(box.Label5->text().startsWith(QStringLiteral("mailto://")));
    for (QLabel* label : {box.Label1, box.Label2, box.Label3, box.Label4, box.Label5, box.Label6}) {
        EXPECT_FALSE(label->text().isEmpty()) << label->objectName().toStdString();
        EXPECT_EQ(label->parentWidget(), box.Panel1);
        // Each credit fits its label.
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
    }
    EXPECT_EQ(box.Image1->Picture(), AboutLogo());
}

TEST_F(AboutBoxTest, ThePanelCoversTheLowestRowsOfTheLogo)
{
    box.show();
    const QImage shot = box.grab().toImage();
    const QImage logo = AboutLogo();
    // Row 8 of the window shows the logo's first row; the panel's black covers the rows from
    // the window's row 240 on, inside its bevel.
    EXPECT_EQ(shot.pixelColor(40 + 100, 8), logo.pixelColor(100, 0));
    EXPECT_EQ(shot.pixelColor(40 + 100, 235), logo.pixelColor(100, 227));
    EXPECT_EQ(shot.pixelColor(40 + 200, 245), QColor(Qt::black));
}

TEST_F(AboutBoxTest, OkAndEnterAcceptTheCloseButtonRejects)
{
    QTimer::singleShot(0, &box, [&] { box.OKButton->click(); });
    EXPECT_EQ(box.ShowModal(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());

    QTimer::singleShot(0, &box, [&] { QTest::keyClick(&box, Qt::Key_Return); });
    EXPECT_EQ(box.ShowModal(), QDialog::Accepted);

    QTimer::singleShot(0, &box, [&] { box.close(); });
    EXPECT_EQ(box.ShowModal(), QDialog::Rejected);
}

TEST_F(AboutBoxTest, IsModalWhileOpenAndKeepsItsPlace)
{
    TForm owner({"Owner", 200, 100, clBlack, {"MS Sans Serif", -11, false, clRed}, TBorderIcons::SystemMenu});
    owner.show();
    bool blocked = false;
    QPoint placed;
    QTimer::singleShot(0, &box, [&] {
        blocked = box.isModal() && QApplication::activeModalWidget() == &box;
        box.move(box.pos() + QPoint(11, 13));
        placed = box.pos();
        box.OKButton->click();
    });
    box.ShowModal();
    EXPECT_TRUE(blocked);

    QPoint reopened;
    QTimer::singleShot(0, &box, [&] {
        reopened = box.pos();
        box.OKButton->click();
    });
    box.ShowModal();
    EXPECT_EQ(reopened, placed);
}

} // namespace
