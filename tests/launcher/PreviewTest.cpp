// The screenshot preview of the main window, on GIF files built byte by byte.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QApplication>
#include <gmock/gmock.h>
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

// A width x height image whose pixel i is (5 i) mod colors, with a global table of `colors`
// entries, entry k being (k, 255 - k, 3 k).
std::string ManyColourGif(int colors, int width, int height)
{
    int sizeBits = 0;
    while ((2 << sizeBits) < colors)
        ++sizeBits;
    std::string table;
    for (int k = 0; k < colors; ++k)
        table += {char(k), char(255 - k), char(3 * k)};
    std::vector<std::uint8_t> pixels(std::size_t(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = std::uint8_t(5 * i % colors);
    return TGifBuilder()
        .Header()
        .Screen(true, sizeBits, width, height)
        .Raw(table)
        .ImageDescriptor(width, height)
        .ImageData(pixels, std::max(2, sizeBits + 1))
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

    // The window as the program shows it: its first activation shows the first game.
    std::unique_ptr<TForm1> StartShown()
    {
        CurrentDirScope here(program.Path());
        auto form = std::make_unique<TForm1>();
        form->show();
        QApplication::processEvents();
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

TEST_F(PreviewTest, HugeFirstScreenshotGivesTheErrorBoxAtStartAndTheProgramGoesOn)
{
    // A valid GIF of a few bytes declaring 65535 x 65535 pixels must be refused, not allocated.
    program.Write("scrshots/ninja.gif", TGifBuilder().Header().Screen(true, 0, 65535, 65535).Colors(2).ImageDescriptor(65535, 65535).ImageData({1}, 2).Trailer().Bytes());
    auto form = StartShown();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_THAT(dialogs.errors[0].toStdString(), testing::HasSubstr("65535 x 65535"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->Screenshot->Picture().isNull());

    form->GameDescs->setCurrentRow(1);
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(4, 4));
    EXPECT_EQ(dialogs.errors.size(), 1);
}

TEST_F(PreviewTest, ScreenshotsOfEveryTableSizeShowTheirColours)
{
    constexpr int Width = 23, Height = 9;
    for (int colors : {32, 64, 128, 256}) {
        SCOPED_TRACE(std::to_string(colors) + " colours");
        program.Write("scrshots/ninja.gif", ManyColourGif(colors, Width, Height));
        auto form = Start();
        ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("; ").toStdString();
        const QImage shown = form->Screenshot->grab().toImage();
        const QPoint origin((273 - Width) / 2, (193 - Height) / 2);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const int k = 5 * (y * Width + x) % colors;
                ASSERT_EQ(shown.pixelColor(origin + QPoint(x, y)), QColor(k, 255 - k, 3 * k % 256)) << x << "," << y;
            }
    }
}

} // namespace
