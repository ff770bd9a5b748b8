// The bitmap file bytes of the first image and the toolkit bitmap built from them.
#include "Classes.h"
#include "GifTestSupport.h"
#include "Graphics.h"

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
