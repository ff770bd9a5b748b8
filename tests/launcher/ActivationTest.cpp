// Activation of the main window with every form of the program created in the program's own
// order (the progress window first), and double-clicks in the game list.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "FmProgr.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit4.h"

#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// A 4 x 4 GIF in one colour.
std::string FlatGif(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    const std::vector<std::uint8_t> pixels(16, 1);
    return giftest::TGifBuilder()
        .Header()
        .Screen(true, 0, 4, 4)
        .Raw(std::string{'\0', '\0', '\0', char(red), char(green), char(blue)})
        .ImageDescriptor(4, 4)
        .ImageData(pixels, 2)
        .Trailer()
        .Bytes();
}

class ActivationTest : public testing::Test {
protected:
    void SetUp() override
    {
        program.Write("scrshots/notavail.gif", FlatGif(0, 0, 255));
        program.Write("scrshots/alpha.gif", FlatGif(255, 0, 0));
        program.Write("kabinex.ini", "[path]\nemudir=<no definido!>\n[games]\nalpha=Alpha\nbeta=Beta\n");
        CurrentDirScope here(program.Path());
        progress = std::make_unique<TProgressForm>();
        main = std::make_unique<TForm1>();
        about = std::make_unique<TAboutBox>();
        viewer = std::make_unique<TForm2>([] { return std::string("."); }, [] { return std::string("."); });
        main->SetAuxiliaryWindows(about.get(), viewer.get());
    }

    QColor Preview() const { return main->Screenshot->Picture().pixelColor(0, 0); }

    // Shows the main window and waits for its first activation.
    void ShowMain()
    {
        main->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !main->Screenshot->Picture().isNull(); }));
        ASSERT_EQ(Preview(), QColor(255, 0, 0));
    }

    // Opens a modal window, closes it from inside its loop, and hands the focus back to the main
    // window as the window manager does.
    void OpenAndClose(QWidget& modal, const std::function<void()>& open)
    {
        QTimer::singleShot(0, &modal, [&modal] {
            (void)QTest::qWaitFor([&modal] { return modal.isActiveWindow(); }, 2000);
            modal.close();
        });
        open();
        main->activateWindow();
    }

    TempDir program;
    ScriptedDialogs dialogs;
    std::unique_ptr<TProgressForm> progress;
    std::unique_ptr<TForm1> main;
    std::unique_ptr<TAboutBox> about;
    std::unique_ptr<TForm2> viewer;
};

TEST_F(ActivationTest, ClosingTheAboutWindowReloadsThePreviewAndFocusesTheList)
{
    ShowMain();
    main->ButtonAbout->setFocus();
    program.Write("scrshots/alpha.gif", FlatGif(0, 255, 0));
    OpenAndClose(*about, [&] { main->ButtonAbout->click(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return Preview() == QColor(0, 255, 0); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return main->GameDescs->hasFocus(); }));

    // A second round works the same: nothing is used up by the first.
    main->ButtonAbout->setFocus();
    program.Write("scrshots/alpha.gif", FlatGif(255, 255, 0));
    OpenAndClose(*about, [&] { main->ButtonAbout->click(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return Preview() == QColor(255, 255, 0); }));
    EXPECT_TRUE(main->GameDescs->hasFocus());
}

TEST_F(ActivationTest, AMessageBoxClosingIsNoActivation)
{
    ShowMain();
    program.Write("scrshots/alpha.gif", FlatGif(0, 255, 0));
    {
        QMessageBox box(QMessageBox::NoIcon, "Kabinex", "Faltan ROMs!     ", QMessageBox::Ok);
        OpenAndClose(box, [&] { box.exec(); });
    }
    QTest::qWait(100);
    EXPECT_EQ(Preview(), QColor(255, 0, 0));
}

TEST_F(ActivationTest, DoubleClickAnywhereInTheListLaunchesTheSelection)
{
    ShowMain();
    QWidget* area = main->GameDescs->viewport();
    // Below the two items: the empty part of the list. With no emulator directory the launch
    // answers with its warning, which shows that it ran.
    QTest::mouseDClick(area, Qt::LeftButton, {}, QPoint(20, area->height() - 5));
    EXPECT_EQ(dialogs.warnings.size(), 1);
    EXPECT_EQ(main->SelectedGame(), "alpha");
    const QRect second = main->GameDescs->visualRect(main->GameDescs->model()->index(1, 0));
    QTest::mouseClick(area, Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(area, Qt::LeftButton, {}, second.center());
    EXPECT_EQ(dialogs.warnings.size(), 2) << "one launch per double-click";
    EXPECT_EQ(main->SelectedGame(), "beta");
}

} // namespace
