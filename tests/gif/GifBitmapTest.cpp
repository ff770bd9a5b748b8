// The bitmap file bytes of the first image and the toolkit bitmap built from them.
#include "Classes.h"
#include "GifTestSupport.h"
#include "Graphics.h"

#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using giftest::TGifBuilder;
using giftest::WriteTempFile;

namespace {

std::uint32_t DWordAt(const TMemoryStream& stream, std::size_t at)
{
    const std::uint8_t* b = stream.Memory() + at;
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint16_t WordAt(const TMemoryStream& stream, std::size_t at)
{
    return static_cast<std::uint16_t>(stream.Memory()[at] | (stream.Memory()[at + 1] << 8));
}

// Pixel i of the image is i + 1.
TMemoryStream BitmapOf(TGifFile& gif, std::uint16_t width, std::uint16_t height)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i + 1);
    gif.LoadFromFile(WriteTempFile("bmp.gif", TGifBuilder().Header().Screen(true, 7).Colors(256).ImageDescriptor(width, height).ImageData(pixels, 8).Trailer().Bytes()));
    TMemoryStream stream;
    WriteBitmapStream(*gif.SubImages[0], stream);
    return stream;
}

// The picture that loading the first image's bitmap file gives.
QImage ThroughBitmapFile(const TGifFile& gif)
{
    TMemoryStream stream;
    WriteBitmapStream(FirstSubImage(gif), stream);
    TBitmap bitmap;
    bitmap.LoadFromStream(stream);
    return bitmap.Picture();
}

void ExpectSameIndexedPicture(const QImage& actual, const QImage& expected)
{
    ASSERT_EQ(actual.format(), QImage::Format_Indexed8);
    ASSERT_EQ(expected.format(), QImage::Format_Indexed8);
    ASSERT_EQ(actual.size(), expected.size());
    EXPECT_EQ(actual.colorTable(), expected.colorTable());
    for (int y = 0; y < expected.height(); ++y)
        ASSERT_EQ(std::memcmp(actual.constScanLine(y), expected.constScanLine(y), std::size_t(expected.width())), 0)
            << "row " << y;
}

// Pixel i is (7 i + seed) mod colors, so neighbouring pixels differ and every index is used.
std::vector<std::uint8_t> Spread(int width, int height, int colors, int seed = 0)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>((7 * i + seed) % colors);
    return pixels;
}

int SizeBits(int colors)
{
    int bits = 0;
    while ((2 << bits) < colors)
        ++bits;
    return bits;
}

int CodeSize(int colors)
{
    return std::max(2, SizeBits(colors) + 1);
}

// One image of width x height with a global table of `colors` entries, then a second image that
// must not show.
std::string GlobalTableGif(int colors, int width, int height, std::uint8_t flags = 0)
{
    TGifBuilder file;
    file.Header().Screen(true, SizeBits(colors), width, height).Colors(colors, 3);
    file.ImageDescriptor(width, height, flags).ImageData(Spread(width, height, colors), CodeSize(colors));
    file.Image(2, 2, colors, 1, CodeSize(colors));
    return file.Trailer().Bytes();
}

// A global table of 256 entries and the image's own table of `colors` entries.
std::string LocalTableGif(int colors, int width, int height)
{
    TGifBuilder file;
    file.Header().Screen(true, 7, width, height).Colors(256);
    file.ImageDescriptor(width, height, std::uint8_t(0x80 | SizeBits(colors))).Colors(colors, 90);
    file.ImageData(Spread(width, height, colors, 5), CodeSize(colors));
    return file.Trailer().Bytes();
}

} // namespace

TEST(BitmapFile, HeadersOfAThreeByTwoImage)
{
    TGifFile gif;
    TMemoryStream stream = BitmapOf(gif, 3, 2);
    ASSERT_EQ(stream.Size(), 1086u);
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_EQ(stream.Memory()[0], 'B');
    EXPECT_EQ(stream.Memory()[1], 'M');
    EXPECT_EQ(DWordAt(stream, 2), 1086u);
    EXPECT_EQ(DWordAt(stream, 6), 0u);
    EXPECT_EQ(DWordAt(stream, 10), 1078u);
    EXPECT_EQ(DWordAt(stream, 14), 40u);
    EXPECT_EQ(DWordAt(stream, 18), 3u);
    EXPECT_EQ(DWordAt(stream, 22), 2u);
    EXPECT_EQ(WordAt(stream, 26), 1);
    EXPECT_EQ(WordAt(stream, 28), 8);
    EXPECT_EQ(DWordAt(stream, 30), 0u);
    EXPECT_EQ(DWordAt(stream, 34), 0u);
    EXPECT_EQ(DWordAt(stream, 38), 143u);
    EXPECT_EQ(DWordAt(stream, 42), 143u);
    EXPECT_EQ(DWordAt(stream, 46), 0u);
    EXPECT_EQ(DWordAt(stream, 50), 0u);

    TBitmapInfoHeader info;
    FillBitmapInfoHeader(*gif.SubImages[0], info);
    EXPECT_EQ(std::memcmp(info.Bytes, stream.Memory() + 14, 40), 0);
}

TEST(BitmapFile, RowsAreBottomUpAndPaddedToFourBytes)
{
    TGifFile gif;
    const struct {
        std::uint16_t width;
        std::size_t padded;
    } cases[] = {{3, 4}, {4, 4}, {5, 8}, {1, 4}};
    for (const auto& c : cases) {
        TMemoryStream stream = BitmapOf(gif, c.width, 2);
        ASSERT_EQ(stream.Size(), 1078 + 2 * c.padded) << c.width;
        const std::uint8_t* rows = stream.Memory() + 1078;
        for (std::size_t x = 0; x < c.padded; ++x) {
            const bool pixel = x < c.width;
            EXPECT_EQ(rows[x], pixel ? c.width + x + 1 : 0) << "bottom image row first, width " << c.width;
            EXPECT_EQ(rows[c.padded + x], pixel ? x + 1 : 0) << "top image row last, width " << c.width;
        }
    }
}

TEST(BitmapFile, PaletteComesFromTheLocalTableElseTheGlobalOne)
{
    TGifFile gif;
    TGifBuilder file;
    file.Header().Screen(true, 7).Colors(256).ImageDescriptor(1, 1, 0x80 | 3).Colors(16, 100).ImageData({1}, 4);
    gif.LoadFromFile(WriteTempFile("local.gif", file.Bytes() + ";"));
    TMemoryStream stream;
    WriteBitmapStream(*gif.SubImages[0], stream);
    const std::uint8_t* palette = stream.Memory() + 54;
    EXPECT_EQ(palette[4 * 15 + 0], 255 - 15) << "blue";
    EXPECT_EQ(palette[4 * 15 + 1], 30) << "green";
    EXPECT_EQ(palette[4 * 15 + 2], 115) << "red";
    EXPECT_EQ(palette[4 * 15 + 3], 0);

    gif.SubImages[0]->HasLocalColorTable = false;
    WriteBitmapStream(*gif.SubImages[0], stream);
    palette = stream.Memory() + 54;
    EXPECT_EQ(palette[4 * 15 + 2], 15) << "global table";
    EXPECT_EQ(palette[4 * 200 + 1], 144);
}

TEST(BitmapFile, TwoColourFileHasBlackEntriesFromTwoOn)
{
    TGifFile gif;
    gif.LoadFromFile(WriteTempFile("bw.gif", TGifBuilder().Header().Screen(true, 0).Colors(2, 40).Image(2, 2, 2, 0, 2).Trailer().Bytes()));
    TMemoryStream stream;
    WriteBitmapStream(*gif.SubImages[0], stream);
    const std::uint8_t* palette = stream.Memory() + 54;
    EXPECT_EQ(palette[2], 40);
    EXPECT_EQ(palette[4 + 2], 41);
    for (int i = 2; i < 256; ++i)
        for (int b = 0; b < 4; ++b)
            ASSERT_EQ(palette[4 * i + b], 0) << i;
}

TEST(BitmapFile, EmptyImageHasHeadersOnly)
{
    TGifFile gif;
    gif.LoadFromFile(WriteTempFile("empty.gif", TGifBuilder().Header().Screen(true, 0).Colors(2).ImageDescriptor(0, 0).Byte(2).Raw(giftest::SubBlocks(giftest::TCodePacker().Put(5, 3).Bytes())).Trailer().Bytes()));
    TMemoryStream stream;
    WriteBitmapStream(*gif.SubImages[0], stream);
    EXPECT_EQ(stream.Size(), 1078u);
}

TEST(AsBitmap, ShowsTheFirstImageWithItsPalette)
{
    TGifFile gif;
    TGifBuilder file;
    file.Header().Screen(true, 1).Byte(255).Byte(0).Byte(0).Byte(0).Byte(0).Byte(255).Colors(2);
    file.ImageDescriptor(3, 2).ImageData({0, 1, 0, 1, 1, 0}, 2).Image(7, 7, 4, 0, 2).Trailer();
    gif.LoadFromFile(WriteTempFile("as.gif", file.Bytes()));
    std::unique_ptr<TBitmap> bitmap = gif.AsBitmap();
    ASSERT_EQ(bitmap->Width(), 3);
    ASSERT_EQ(bitmap->Height(), 2);
    EXPECT_EQ(bitmap->Image().pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(bitmap->Image().pixelColor(1, 0), QColor(0, 0, 255));
    EXPECT_EQ(bitmap->Image().pixelColor(2, 1), QColor(255, 0, 0));
    EXPECT_EQ(bitmap->Image().pixelColor(1, 1), QColor(0, 0, 255));
}

TEST(AsBitmap, ModelWithoutImagesFailsWithTheListIndexError)
{
    TGifFile gif;
    try {
        gif.AsBitmap();
        FAIL() << "no exception";
    } catch (const EListError& error) {
        EXPECT_STREQ(error.what(), "Der Index der Liste überschreitet das Maximum (0)");
    }
}

TEST(AsBitmap, EqualsTheBitmapFileLoaded)
{
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"2 colours, 7 wide", GlobalTableGif(2, 7, 3)},
        {"4 colours, 13 wide", GlobalTableGif(4, 13, 5)},
        {"8 colours, 1 wide", GlobalTableGif(8, 1, 9)},
        {"16 colours, 4 wide", GlobalTableGif(16, 4, 4)},
        {"32 colours, 33 wide", GlobalTableGif(32, 33, 6)},
        {"64 colours, 10 wide", GlobalTableGif(64, 10, 10)},
        {"128 colours, 129 wide", GlobalTableGif(128, 129, 3)},
        {"256 colours, 31 wide", GlobalTableGif(256, 31, 17)},
        {"256 colours, interlaced", GlobalTableGif(256, 9, 11, 0x40)},
        {"local 16 over global 256", LocalTableGif(16, 5, 4)},
        {"local 128 over global 256", LocalTableGif(128, 6, 7)},
        {"256 colours, big enough for huge pages", GlobalTableGif(256, 701, 400)},
    };
    TGifFile gif; // reused, as the program reuses its model
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gif.LoadFromFile(WriteTempFile("same.gif", c.bytes));
        const QImage shown = gif.AsBitmap()->Picture(); // outlives its bitmap, as in the preview
        ExpectSameIndexedPicture(shown, ThroughBitmapFile(gif));
    }
}

TEST(AsBitmap, ImageWithoutPixelsGivesAnEmptyBitmap)
{
    const std::string endCodeOnly = giftest::SubBlocks(giftest::TCodePacker().Put(5, 3).Bytes());
    const struct {
        std::uint16_t width, height;
    } sizes[] = {{0, 0}, {0, 5}, {7, 0}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        TGifFile gif;
        gif.LoadFromFile(WriteTempFile("empty.gif", TGifBuilder().Header().Screen(true, 0).Colors(2).ImageDescriptor(size.width, size.height).Byte(2).Raw(endCodeOnly).Trailer().Bytes()));
        std::unique_ptr<TBitmap> bitmap = gif.AsBitmap();
        EXPECT_EQ(bitmap->Width(), 0);
        EXPECT_EQ(bitmap->Height(), 0);
        EXPECT_TRUE(ThroughBitmapFile(gif).isNull()) << "the bitmap file loads as an empty bitmap too";
    }
}

TEST(AsBitmap, WidestImageTheReaderAcceptsConvertsWhole)
{
    // 65535 x 1024 fills the reader's pixel limit with the widest rows; each bitmap row takes
    // one byte of padding.
    constexpr int Width = 65535, Height = 1024;
    static_assert(std::int64_t{Width} * Height <= MaxImagePixels);
    TGifFile gif;
    auto image = std::make_unique<TGifSubImage>(256, &gif);
    image->ImageDescriptor.ImageWidth = Width;
    image->ImageDescriptor.ImageHeight = Height;
    image->Pixels = std::make_unique<TByteArray2D>(Width, Height);
    TBigByteArray& items = *image->Pixels->Items;
    items.SetItem(Width, 2);                  // end of the top row
    items.SetItem(items.Size - Width + 1, 3); // start of the bottom row
    gif.SubImages.push_back(std::move(image));

    const QImage picture = gif.AsBitmap()->Picture();
    ASSERT_EQ(picture.size(), QSize(Width, Height));
    EXPECT_EQ(picture.pixelIndex(Width - 1, 0), 2);
    EXPECT_EQ(picture.pixelIndex(0, Height - 1), 3);

    TMemoryStream stream;
    WriteBitmapStream(*gif.SubImages[0], stream);
    const std::uint64_t size = 1078 + std::uint64_t{Width + 1} * Height;
    EXPECT_EQ(stream.Size(), size);
    EXPECT_EQ(DWordAt(stream, 2), size);
    EXPECT_EQ(stream.Memory()[size - 2], 2) << "top row's last pixel, then its padding";
    EXPECT_EQ(stream.Memory()[1078], 3);
}

TEST(AsBitmap, LoadedPictureCanBeDrawnOnWithoutChangingItsCopies)
{
    // The canvas works on 32-bit pixels; a bitmap kept as 8-bit indices must give it those. A
    // control shares the picture instead of copying it, so drawing must not reach its copy.
    TGifFile gif;
    gif.LoadFromFile(WriteTempFile("draw.gif", GlobalTableGif(4, 3, 2)));
    std::unique_ptr<TBitmap> bitmap = gif.AsBitmap();
    const TColorItem colour = gif.GlobalColorTable.Colors[3]; // pixel (1, 0) is 7 mod 4
    EXPECT_EQ(bitmap->Canvas().Pixel(1, 0), TColor(colour.Red | colour.Green << 8 | colour.Blue << 16));
    const QImage shown = bitmap->Picture();
    bitmap->Canvas().SetPixel(1, 0, clWhite);
    EXPECT_EQ(bitmap->Picture().pixelColor(1, 0), QColor(Qt::white));
    EXPECT_EQ(shown.pixelColor(1, 0), QColor(colour.Red, colour.Green, colour.Blue));
}
