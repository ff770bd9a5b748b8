// The screenshot preview of the main window, on GIF files built byte by byte.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QListWidget>
#include <gtest/gtest.h>

namespace {

using giftest::TGifBuilder;

// A GIF whose first image is width x height in colour index `first` of a 4-colour table, with a
// second image after it in index 3.
std::string TwoImageGif(int width, int height, std::uint8_t first)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height, first);
    std::vector<std::uint8_t> second(4, 3);
    return TGifBuilder()
        .Header()
        .Screen(true, 1, width, height)
        .Raw(std::string("\x00\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 12))
        .ImageDescriptor(width, height)
        .ImageData(pixels, 2)
        .ImageDescriptor(2, 2)
        .ImageData(second, 2)
        .Trailer()
        .Bytes();
}

const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);
const QColor Blue(0, 0, 255);

class PreviewTest : public testing::Test {
protected:
    void SetUp() override
    {
        program.Write("scrshots/ninja.gif", TwoImageGif(10, 6, 1));
        program.Write("scrshots/notavail.gif", TwoImageGif(4, 4, 2));
        program.Write("kabinex.ini", "[games]\nninja=Ninja\nbare=No screenshot\n");
    }
    void TearDown() override { SetGifMessageHook(nullptr); }

    std::unique_ptr<TForm1> Start()
    {
        CurrentDirScope here(program.Path());
        auto form = std::make_unique<TForm1>();
        form->GameDescsClick();
        return form;
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

TEST_F(PreviewTest, ShowsTheFirstImageOfTheSelectedGameCentred)
{
    auto form = Start();
    const QImage& picture = form->Screenshot->Picture();
    ASSERT_EQ(picture.size(), QSize(10, 6));
    EXPECT_EQ(picture.pixelColor(0, 0), Red);
    EXPECT_EQ(picture.pixelColor(9, 5), Red);

    const QImage shown = form->Screenshot->grab().toImage();
    const QPoint origin((273 - 10) / 2, (193 - 6) / 2);
    EXPECT_EQ(shown.pixelColor(origin), Red);
    EXPECT_EQ(shown.pixelColor(origin + QPoint(9, 5)), Red);
    EXPECT_EQ(shown.pixelColor(origin - QPoint(1, 1)), QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(origin + QPoint(10, 6)), QColor(Qt::black));
}

TEST_F(PreviewTest, BiggerPictureIsCutAroundItsCentre)
{
    program.Write("scrshots/ninja.gif", TwoImageGif(400, 300, 1));
    auto form = Start();
    const QImage shown = form->Screenshot->grab().toImage();
    EXPECT_EQ(shown.pixelColor(0, 0), Red);
    EXPECT_EQ(shown.pixelColor(272, 192), Red);
}

TEST_F(PreviewTest, GameWithoutScreenshotShowsThePlaceholder)
{
    auto form = Start();
    form->GameDescs->setCurrentRow(1);
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(4, 4));
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(0, 0), Green);
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(PreviewTest, FailedLoadKeepsPictureAndButtonAndShowsTheError)
{
    program.Write("kabinex.ini", "[path]\nemudir=<no definido!>\n[games]\nninja=Ninja\nbare=No screenshot\n");
    auto form = Start();
    ASSERT_EQ(form->ButtonExecute->text(), "No MAVE!");
    std::filesystem::remove(program / "scrshots/notavail.gif");
    form->ButtonExecute->setText("before");

    form->GameDescs->setCurrentRow(1);
    EXPECT_EQ(dialogs.errors, QStringList({"Datei nicht gefunden."}));
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(10, 6));
    EXPECT_EQ(form->ButtonExecute->text(), "before");
}

TEST_F(PreviewTest, BrokenGifReportsAndKeepsThePicture)
{
    auto form = Start();
    program.Write("scrshots/bare.gif", "GIF89a\x0A");
    form->GameDescs->setCurrentRow(1);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(0, 0), Red);
}

TEST_F(PreviewTest, SelectionChangedDuringADecodeEndsWithTheLastGamesPicture)
{
    program.Write("scrshots/ninja.gif", TwoImageGif(200, 150, 1));
    program.Write("scrshots/bare.gif", TwoImageGif(8, 8, 3));
    auto form = Start();
    form->GameDescs->setCurrentRow(1);
    int hookCalls = 0;
    SetGifMessageHook([&] {
        // While the first game decodes the user picks the second one.
        if (++hookCalls == 20)
            form->GameDescs->setCurrentRow(1);
    });
    form->GameDescs->setCurrentRow(0);
    EXPECT_GT(hookCalls, 20);
    EXPECT_EQ(form->GameDescs->currentRow(), 1);
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(8, 8));
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(0, 0), Blue);
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

} // namespace
