// PNG and JPEG screenshots made by real encoders (ImageMagick, Pillow), shown in the main window's
// preview and compared with each tool's own scaling; and the lookup of every kind of screenshot
// in any letter case.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QImage>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

const QSize Box(273, 193);

void RunTool(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A GIF of one colour: 1 red, 2 green, 3 blue.
std::string PlainGif(int width, int height, std::uint8_t colour)
{
    return giftest::TGifBuilder()
        .Header()
        .Screen(true, 1, width, height)
        .Raw(std::string("\x00\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 12))
        .ImageDescriptor(width, height)
        .ImageData(std::vector<std::uint8_t>(std::size_t(width) * height, colour), 2)
        .Trailer()
        .Bytes();
}

struct TDifference {
    double mean = 0;
    int largest = 0;
};

TDifference Compare(const QImage& shown, const QImage& expected)
{
    TDifference difference;
    long long sum = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QColor a = shown.pixelColor(x, y), b = expected.pixelColor(x, y);
            for (int d : {a.red() - b.red(), a.green() - b.green(), a.blue() - b.blue()}) {
                sum += std::abs(d);
                difference.largest = std::max(difference.largest, std::abs(d));
            }
        }
    difference.mean = double(sum) / (3.0 * shown.width() * shown.height());
    return difference;
}

class PreviewImagesTest : public testing::Test {
protected:
    void SetUp() override
    {
        program.Write("scrshots/notavail.gif", PlainGif(4, 4, 2));
        program.Write("kabinex.ini", "[path]\nemudir=emu/\n[games]\nninja=Ninja\nbare=No screenshot\n");
    }

    std::unique_ptr<TForm1> Start()
    {
        CurrentDirScope here(program.Path());
        auto form = std::make_unique<TForm1>();
        form->GameDescsClick();
        return form;
    }

    // The picture in the control matches the expected file's, size and pixels, within a tolerance
    // for two scaling filters.
    void ExpectShownLike(const std::string& expectedFile)
    {
        auto form = Start();
        ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("; ").toStdString();
        const QImage expected(QString::fromStdString(expectedFile));
        ASSERT_FALSE(expected.isNull());
        const QImage& picture = form->Screenshot->Picture();
        ASSERT_EQ(picture.size(), expected.size());
        const TDifference difference = Compare(picture, expected);
        EXPECT_LT(difference.mean, 1.0);
        EXPECT_LE(difference.largest, 32);
        // Shown centred in the control.
        const QImage grabbed = form->Screenshot->grab().toImage();
        const QPoint origin((Box.width() - picture.width()) / 2, (Box.height() - picture.height()) / 2);
        EXPECT_EQ(grabbed.pixelColor(origin + QPoint(5, 5)), picture.pixelColor(5, 5));
    }

    // An ImageMagick picture with smooth colours and a few hard edges.
    std::string MagickSource() const
    {
        return "-size 600x400 gradient:#FF2000-#0040FF \\( -size 600x400 gradient:#00000000-#00FF00FF -rotate 90 "
               "-resize 600x400! \\) -compose over -composite -fill white -draw 'rectangle 100,100 220,160' ";
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

TEST_F(PreviewImagesTest, ImageMagickPngsOfEveryKindAreScaledLikeImageMagickScalesThem)
{
    const std::string png = program / "scrshots/ninja.png";
    const std::string expected = program / "expected.png";
    const struct {
        const char* kind;
        std::string make;
    } kinds[] = {
        {"palette", "convert " + MagickSource() + "+dither -colors 64 PNG8:" + png},
        {"grey", "convert " + MagickSource() + "-colorspace Gray -depth 8 -type Grayscale PNG:" + png},
        {"16-bit", "convert " + MagickSource() + "-depth 16 PNG48:" + png},
        {"alpha", "convert " + MagickSource() + "\\( -size 600x400 gradient:white-#FFFFFF40 \\) -alpha off "
                      "-compose copy_opacity -composite PNG32:" + png},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        RunTool(kind.make);
        // Transparency shows the window's black.
        RunTool("convert " + png + " -background black -alpha remove -alpha off -resize 273x193 PNG24:" + expected);
        ExpectShownLike(expected);
    }
}

TEST_F(PreviewImagesTest, PillowJpegIsTurnedAsItsOrientationSaysAndScaledLikePillowScalesIt)
{
    // Stored 386 x 200 with orientation 6 (turn clockwise): shown 200 x 386, fitted to 100 x 193.
    const std::string script = R"(
from PIL import Image, ImageDraw, ImageOps
import sys
image = Image.new("RGB", (386, 200))
image.putdata([(x * 255 // 386, y * 255 // 200, 128) for y in range(200) for x in range(386)])
ImageDraw.Draw(image).rectangle((0, 0, 60, 40), fill=(255, 255, 255))
exif = Image.Exif()
exif[0x0112] = 6
image.save(sys.argv[1], quality=95, exif=exif.tobytes())
shown = ImageOps.exif_transpose(Image.open(sys.argv[1]))
shown.resize((100, 193), Image.LANCZOS).save(sys.argv[2])
)";
    program.Write("make.py", script);
    RunTool("/usr/bin/python3 " + (program / "make.py") + " " + (program / "scrshots/ninja.jpg") + " " +
        (program / "expected.png"));
    ExpectShownLike(program / "expected.png");
    // The white corner, stored top left, is top right once turned.
    auto form = Start();
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(95, 3), QColor(Qt::white));
}

TEST_F(PreviewImagesTest, SmallerPngIsShownUnscaledAndCentred)
{
    RunTool("convert -size 50x30 xc:'#10E020' -fill '#E01010' -draw 'point 0,0' PNG24:" + (program / "scrshots/ninja.png"));
    auto form = Start();
    const QImage& picture = form->Screenshot->Picture();
    ASSERT_EQ(picture.size(), QSize(50, 30));
    const QImage grabbed = form->Screenshot->grab().toImage();
    const QPoint origin((273 - 50) / 2, (193 - 30) / 2);
    EXPECT_EQ(grabbed.pixelColor(origin), QColor(0xE0, 0x10, 0x10));
    EXPECT_EQ(grabbed.pixelColor(origin + QPoint(49, 29)), QColor(0x10, 0xE0, 0x20));
    EXPECT_EQ(grabbed.pixelColor(origin - QPoint(1, 1)), QColor(Qt::black));
}

// The pictures beside the selection are decoded ahead; one replaced since is read again.
TEST_F(PreviewImagesTest, APictureDecodedAheadAndReplacedSinceIsReadAgain)
{
    program.Write("scrshots/ninja.gif", PlainGif(10, 6, 1));
    RunTool("convert -size 100x80 xc:red PNG24:" + (program / "scrshots/bare.png"));
    auto form = Start(); // bare.png, the next game's, is decoded meanwhile
    RunTool("convert -size 90x70 xc:blue PNG24:" + (program / "new.png"));
    std::filesystem::rename(program / "new.png", program / "scrshots/bare.png");

    form->GameDescs->setCurrentRow(1);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("; ").toStdString();
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(90, 70));
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(5, 5), QColor(Qt::blue));

    form->GameDescs->setCurrentRow(0); // decoded ahead again, unchanged this time
    form->GameDescs->setCurrentRow(1);
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(90, 70));
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(5, 5), QColor(Qt::blue));
}

TEST_F(PreviewImagesTest, DamagedPngGivesTheErrorBoxNamingItAndKeepsPictureAndButton)
{
    program.Write("scrshots/ninja.gif", PlainGif(10, 6, 1));
    RunTool("convert -size 300x200 gradient:red-blue PNG24:" + (program / "whole.png"));
    const std::string whole = ReadAll(program / "whole.png");
    const std::string damaged = program.Write("scrshots/bare.png", whole.substr(0, whole.size() / 2));
    auto form = Start();
    form->ButtonExecute->setText("before");

    form->GameDescs->setCurrentRow(1);

    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_THAT(dialogs.errors[0].toStdString(), testing::HasSubstr(damaged));
    EXPECT_EQ(form->Screenshot->Picture().size(), QSize(10, 6));
    EXPECT_EQ(form->Screenshot->Picture().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(form->ButtonExecute->text(), "before");
}

TEST_F(PreviewImagesTest, EveryKindOfScreenshotIsFoundInItsOrderInAnyLetterCase)
{
    // Copied from DOS: the directory, the pictures and the placeholder in capitals.
    std::filesystem::remove_all(program / "scrshots");
    program.Write("SCRSHOTS/NOTAVAIL.GIF", PlainGif(4, 4, 2));
    const auto shownWidth = [&] { return Start()->Screenshot->Picture().width(); };
    EXPECT_EQ(shownWidth(), 4);

    std::filesystem::create_directories(program / "emu/SNAP/NINJA");
    RunTool("convert -size 21x7 xc:gray PNG:" + (program / "emu/SNAP/NINJA/0000.png"));
    EXPECT_EQ(shownWidth(), 21);
    RunTool("convert -size 22x7 xc:gray PNG:" + (program / "emu/SNAP/Ninja.PNG"));
    EXPECT_EQ(shownWidth(), 22);
    RunTool("convert -size 23x7 xc:gray JPEG:" + (program / "SCRSHOTS/NINJA.JPEG"));
    EXPECT_EQ(shownWidth(), 23);
    RunTool("convert -size 24x7 xc:gray JPEG:" + (program / "SCRSHOTS/ninja.JPG"));
    EXPECT_EQ(shownWidth(), 24);
    RunTool("convert -size 25x7 xc:gray PNG:" + (program / "SCRSHOTS/Ninja.png"));
    EXPECT_EQ(shownWidth(), 25);
    program.Write("SCRSHOTS/NINJA.GIF", PlainGif(26, 7, 1));
    EXPECT_EQ(shownWidth(), 26);
    // The exact name wins over one in another letter case.
    program.Write("SCRSHOTS/ninja.gif", PlainGif(27, 7, 1));
    EXPECT_EQ(shownWidth(), 27);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("; ").toStdString();
}

TEST_F(PreviewImagesTest, ScreenshotAddedToASettledDirectoryIsFound)
{
    program.Write("scrshots/OTHER.GIF", PlainGif(5, 5, 1));
    const auto settled = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(program / "scrshots", settled);
    EXPECT_EQ(Start()->Screenshot->Picture().width(), 4); // the placeholder, after a listing
    RunTool("convert -size 31x7 xc:gray PNG:" + (program / "scrshots/NINJA.PNG"));
    EXPECT_EQ(Start()->Screenshot->Picture().width(), 31);
    std::filesystem::remove(program / "scrshots/NINJA.PNG");
    std::filesystem::last_write_time(program / "scrshots", settled);
    EXPECT_EQ(Start()->Screenshot->Picture().width(), 4);
}

} // namespace
