// The LZW decoder on code streams packed by hand: clear and end codes, the code being defined,
// width growth, the full table, interlaced row order, early ends and every failure.
#include "GifTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using giftest::AllPixels;
using giftest::ImageForDecoding;
using giftest::LiteralStream;
using giftest::TCodePacker;
using giftest::TImageForDecoding;
using testing::ElementsAre;

namespace {

// Minimum code size 2: clear 4, end 5, first free entry 6, codes 3 bits wide at first.
constexpr unsigned Clear2 = 4;
constexpr unsigned End2 = 5;

template <typename E>
std::string DecodeError(TImageForDecoding& image)
{
    try {
        image.Decompress();
    } catch (const E& error) {
        return error.what();
    }
    return "<no exception>";
}

class Decoder : public testing::Test {
protected:
    std::unique_ptr<TImageForDecoding> Image(std::uint16_t width, std::uint16_t height, const TCodePacker& codes,
                                             std::uint8_t minCodeSize = 2, bool interlaced = false)
    {
        return ImageForDecoding(gif, width, height, minCodeSize, codes.Bytes(), interlaced);
    }
    void TearDown() override { SetGifMessageHook(nullptr); }

    TGifFile gif;
};

} // namespace

TEST_F(Decoder, EndCodeAloneGivesNoPixels)
{
    auto image = Image(2, 1, TCodePacker().Put(End2, 3));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(0, 0));
}

TEST_F(Decoder, ClearCodeFollowedByEndCodeIsABadCode)
{
    auto image = Image(2, 1, TCodePacker().Put(Clear2, 3).Put(Clear2, 3).Put(End2, 3));
    EXPECT_EQ(DecodeError<EGifException>(*image), "Bad code");
}

TEST_F(Decoder, RunOfClearCodesActsAsOne)
{
    auto image = Image(3, 1, TCodePacker().Put(Clear2, 3).Put(Clear2, 3).Put(Clear2, 3).Put(2, 3).Put(3, 3).Put(6, 3).Put(End2, 3));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(2, 3, 2)) << "entry 6 is 2,3 only if one clear was counted";
}

TEST_F(Decoder, CodeEqualToTheNextFreeCodeIsPreviousStringPlusItsFirstByte)
{
    // clear, 1, 6 (being defined: "1" + "1"), 7 (being defined: "1 1" + "1")
    auto image = Image(6, 1, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(6, 3).Put(7, 3).Put(End2, 4));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(1, 1, 1, 1, 1, 1));
}

TEST_F(Decoder, UndefinedFirstCodeAfterClearIsPixelZero)
{
    auto image = Image(2, 1, TCodePacker().Put(Clear2, 3).Put(7, 3).Put(3, 3).Put(End2, 3));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(0, 3));
}

TEST_F(Decoder, StreamWithoutLeadingClearCodeIsReadAsIfItHadOne)
{
    auto image = Image(3, 1, TCodePacker().Put(1, 3).Put(6, 3).Put(End2, 3));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(1, 1, 1));
}

TEST_F(Decoder, CodeAboveTheNextFreeCodeIsABadCode)
{
    auto image = Image(4, 1, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(7, 3).Put(End2, 3));
    EXPECT_EQ(DecodeError<EGifException>(*image), "Bad code");
}

TEST_F(Decoder, MinimumCodeSizesTwoToNineAreAccepted)
{
    for (std::uint8_t size : {2, 5, 8, 9}) {
        const std::vector<std::uint8_t> pixels = {1, 0, 1, 1};
        auto image = ImageForDecoding(gif, 2, 2, size, LiteralStream(pixels, size));
        image->Decompress();
        EXPECT_EQ(AllPixels(*image), pixels) << int(size);
    }
    // Size 9 has literals above 255; a pixel is the literal's low byte.
    auto image = Image(1, 1, TCodePacker().Put(512, 10).Put(0x1FF, 10).Put(513, 10), 9);
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(0xFF));
}

TEST_F(Decoder, MinimumCodeSizesOneAndTenAreRejectedBeforeAnyDataIsRead)
{
    for (std::uint8_t size : {0, 1, 10, 12}) {
        auto image = ImageForDecoding(gif, 1, 1, size, "");
        EXPECT_EQ(DecodeError<EGifException>(*image), "Bad code Size") << int(size);
    }
}

TEST_F(Decoder, CodeWidthGrowsRightAfterEntrySevenWithSizeTwo)
{
    // Entries 6 and 7 come from the codes 1 and 2; then codes are 4 bits wide.
    auto image = Image(5, 1, TCodePacker().Put(Clear2, 3).Put(0, 3).Put(1, 3).Put(2, 3).Put(3, 4).Put(7, 4).Put(End2, 4));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(0, 1, 2, 3, 1)) << "entry 7 is 1,2; only its first byte fits";
}

namespace {

// Fills the table with size 2: one code without entry, then entries 6 .. 4095 from literals.
TCodePacker FullTable(std::vector<std::uint8_t>& expected)
{
    TCodePacker codes;
    codes.Put(Clear2, 3).Put(0, 3);
    expected.push_back(0);
    int width = 3;
    for (unsigned freeCode = 6; freeCode < 4096;) {
        const unsigned pixel = freeCode % 4;
        codes.Put(pixel, width);
        expected.push_back(static_cast<std::uint8_t>(pixel));
        ++freeCode;
        if (freeCode >= (1u << width) && width < 12)
            ++width;
    }
    return codes;
}

} // namespace

TEST_F(Decoder, FullTableAcceptsAClearCodeAndGoesOnAtTheStartWidth)
{
    std::vector<std::uint8_t> expected;
    TCodePacker codes = FullTable(expected);
    codes.Put(Clear2, 12).Put(3, 3).Put(2, 3).Put(End2, 3);
    expected.insert(expected.end(), {3, 2});
    auto image = Image(static_cast<std::uint16_t>(expected.size()), 1, codes);
    image->Decompress();
    EXPECT_EQ(AllPixels(*image), expected);
}

TEST_F(Decoder, FullTableWithoutClearCodeGoesOnWithTwelveBitCodesUntilAClearOrEndCode)
{
    std::vector<std::uint8_t> expected;
    TCodePacker codes = FullTable(expected);
    // Entry 4095 is 2,3 (pixels 4094 % 4 and 4095 % 4). With the table full, codes stand for
    // their strings without new entries; a clear code then starts again at 3 bits.
    codes.Put(2, 12).Put(4095, 12).Put(0, 12).Put(Clear2, 12).Put(1, 3).Put(6, 3).Put(End2, 3);
    expected.insert(expected.end(), {2, 2, 3, 0, 1, 1, 1});
    auto image = Image(static_cast<std::uint16_t>(expected.size()), 1, codes);
    image->Decompress();
    EXPECT_EQ(AllPixels(*image), expected);

    // The end code right after the full table ends the image normally.
    std::vector<std::uint8_t> plain;
    TCodePacker ended = FullTable(plain);
    ended.Put(End2, 12);
    auto endedImage = Image(static_cast<std::uint16_t>(plain.size()), 1, ended);
    endedImage->Decompress();
    EXPECT_EQ(AllPixels(*endedImage), plain);
}

TEST_F(Decoder, InterlacedRowsFollowTheFourPasses)
{
    const struct {
        std::uint16_t height;
        std::vector<int> order;
    } cases[] = {{1, {0}}, {3, {0, 2, 1}}, {8, {0, 4, 2, 6, 1, 3, 5, 7}}, {5, {0, 4, 2, 1, 3}}};
    for (const auto& c : cases) {
        // The k-th row stored holds pixel value k.
        std::vector<std::uint8_t> stored;
        for (std::size_t k = 0; k < c.order.size(); ++k)
            stored.push_back(static_cast<std::uint8_t>(k));
        auto image = ImageForDecoding(gif, 1, c.height, 3, LiteralStream(stored, 3), true);
        image->Decompress();
        for (std::size_t k = 0; k < c.order.size(); ++k)
            EXPECT_EQ(image->Pixels->GetItem(1, c.order[k] + 1), k) << "height " << c.height << " row " << c.order[k];
    }
}

TEST_F(Decoder, EarlyEndCodeLeavesIncompleteRowsZero)
{
    auto image = Image(2, 3, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(2, 3).Put(3, 3).Put(End2, 3));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(1, 2, 0, 0, 0, 0)) << "the half row 3 is dropped";
}

TEST_F(Decoder, DataAfterTheEndCodeIsIgnored)
{
    std::string data = TCodePacker().Put(Clear2, 3).Put(3, 3).Put(End2, 3).Put(7, 3).Put(7, 3).Bytes();
    auto image = ImageForDecoding(gif, 1, 1, 2, data);
    image->CompressedData.AddBlock(std::string(10, '\xFF'));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(3));
}

TEST_F(Decoder, MissingDataFailsWithTheBufferError)
{
    auto empty = ImageForDecoding(gif, 1, 1, 2, "");
    EXPECT_EQ(DecodeError<EStringListError>(*empty), "Der Index der Liste überschreitet das Maximum (0)");

    // No end code, and the codes (with those of the padding bits) give only 4 of 8 pixels.
    auto cut = Image(8, 1, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(1, 3));
    EXPECT_EQ(DecodeError<EStringListError>(*cut), "Der Index der Liste überschreitet das Maximum (1)");
    EXPECT_THAT(AllPixels(*cut), ElementsAre(0, 0, 0, 0, 0, 0, 0, 0)) << "the incomplete row is dropped";
}

TEST_F(Decoder, DataEndingWithoutEndCodeAfterTheLastPixelEndsTheImage)
{
    // Two rows of two, the end code missing; in several blocks, interlaced or not.
    for (const bool interlaced : {false, true}) {
        const std::string data = TCodePacker().Put(Clear2, 3).Put(1, 3).Put(2, 3).Put(3, 3).Put(0, 3).Bytes();
        auto image = ImageForDecoding(gif, 2, 2, 2, data.substr(0, 1), interlaced);
        image->CompressedData.AddBlock(data.substr(1));
        image->Decompress();
        EXPECT_THAT(AllPixels(*image), ElementsAre(1, 2, 3, 0)) << interlaced;
    }
    // One pixel short stays an error.
    auto shortImage = Image(5, 1, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(2, 3).Put(3, 3).Put(0, 3));
    EXPECT_EQ(DecodeError<EStringListError>(*shortImage), "Der Index der Liste überschreitet das Maximum (1)");
}

TEST_F(Decoder, MorePixelsThanTheImageHoldsFailsAtTheFirstExtraRowAndKeepsTheRows)
{
    auto image = Image(1, 2, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(2, 3).Put(3, 3).Put(End2, 3));
    EXPECT_EQ(DecodeError<EIndexOutOfBounds>(*image), "Dynamic array index out of bounds");
    EXPECT_THAT(AllPixels(*image), ElementsAre(1, 2));

    auto zeroWidth = Image(0, 1, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(End2, 3));
    EXPECT_EQ(DecodeError<EIndexOutOfBounds>(*zeroWidth), "Dynamic array index out of bounds");
}

TEST_F(Decoder, StringsSpanningRowsAreSplitAcrossThem)
{
    // Entry 6 = 1,2; entry 7 = 2,1; code 8 (being defined) = 1,2,1: rows 1 and 2, and one pixel
    // of row 3 that is dropped.
    auto image = Image(3, 3, TCodePacker().Put(Clear2, 3).Put(1, 3).Put(2, 3).Put(6, 3).Put(8, 4).Put(End2, 4));
    image->Decompress();
    EXPECT_THAT(AllPixels(*image), ElementsAre(1, 2, 1, 2, 1, 2, 0, 0, 0));
}

TEST_F(Decoder, MessageHookRunsOncePerCompletedRowWithTheRowInPlace)
{
    std::vector<std::uint8_t> pixels(4 * 5);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i / 4 + 1);
    auto image = ImageForDecoding(gif, 4, 5, 3, LiteralStream(pixels, 3));
    std::vector<int> storedRowsSeen;
    SetGifMessageHook([&] {
        int stored = 0;
        for (int row = 1; row <= 5; ++row)
            stored += image->Pixels->GetItem(1, row) != 0;
        storedRowsSeen.push_back(stored);
    });
    image->Decompress();
    EXPECT_THAT(storedRowsSeen, ElementsAre(1, 2, 3, 4, 5));
    EXPECT_EQ(AllPixels(*image), pixels);
}
