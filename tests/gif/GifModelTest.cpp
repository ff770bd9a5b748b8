// The GIF model: values after creation, the colour-count check and the flag encodings.
#include "GifUnit.h"

#include <gtest/gtest.h>

TEST(GifModel, NewFileIsAnEmptyBlackAndWhiteGif87a)
{
    TGifFile gif;
    EXPECT_EQ(std::string(gif.Header.Signature, 3), "GIF");
    EXPECT_EQ(std::string(gif.Header.Version, 3), "87a");
    EXPECT_EQ(gif.ScreenDescriptor.ScreenWidth, 0);
    EXPECT_EQ(gif.ScreenDescriptor.PackedFields, 0);
    EXPECT_TRUE(gif.HasGlobalColorTable);
    EXPECT_EQ(gif.BitsPerPixel, 1);
    EXPECT_EQ(gif.GlobalColorTable.Count, 2);
    EXPECT_EQ(gif.GlobalColorTable.Colors[1].Green, 255);
    EXPECT_TRUE(gif.SubImages.empty());
}

TEST(GifModel, SubImageTakesItsBitsAndCodeSizeFromTheColourCount)
{
    TGifFile gif;
    const struct {
        std::uint16_t colors;
        int bits;
        int minCodeSize;
    } cases[] = {{2, 1, 2}, {4, 2, 2}, {8, 3, 3}, {16, 4, 4}, {32, 5, 5}, {64, 6, 6}, {128, 7, 7}, {256, 8, 8}};
    for (const auto& c : cases) {
        TGifSubImage image(c.colors, &gif);
        EXPECT_EQ(image.BitsPerPixel, c.bits) << c.colors;
        EXPECT_EQ(image.MinCodeSize, c.minCodeSize) << c.colors;
        EXPECT_EQ(image.LocalColorTable.Count, c.colors);
        EXPECT_EQ(image.ImageDescriptor.PackedFields, 0) << "no local table, not interlaced";
        EXPECT_EQ(image.GifFile, &gif);
        EXPECT_EQ(image.Pixels->Columns, 0);
        EXPECT_TRUE(image.Extensions->empty());
    }
}

TEST(GifModel, SubImageRejectsOtherColourCounts)
{
    TGifFile gif;
    for (std::uint16_t colors : {0, 1, 3, 48, 100, 255, 512}) {
        try {
            TGifSubImage image(colors, &gif);
            ADD_FAILURE() << colors;
        } catch (const EGifException& error) {
            EXPECT_STREQ(error.what(), "Number of colors must be 2, 4, 8, 16 or 256");
        }
    }
}

TEST(GifModel, ImageFlagsRoundTrip)
{
    TGifFile gif;
    TGifSubImage image(16, &gif);
    image.HasLocalColorTable = true;
    image.Interlaced = true;
    image.EncodeImageFlags();
    EXPECT_EQ(image.ImageDescriptor.PackedFields, 0x80 | 0x40 | 3);
    image.Interlaced = false;
    image.HasLocalColorTable = false;
    image.EncodeImageFlags();
    EXPECT_EQ(image.ImageDescriptor.PackedFields, 0) << "size bits only with a local table";

    image.ImageDescriptor.PackedFields = 0x40 | 0x20 | 6;
    image.DecodeImageFlags();
    EXPECT_FALSE(image.HasLocalColorTable);
    EXPECT_TRUE(image.Interlaced);
    EXPECT_EQ(image.BitsPerPixel, 7);
    EXPECT_EQ(image.LocalColorTable.Count, 128);
}

TEST(GifModel, ScreenFlagsGiveTheGlobalCountWithOrWithoutTable)
{
    TGifFile gif;
    gif.ScreenDescriptor.PackedFields = 0x77;
    gif.DecodeScreenFlags();
    EXPECT_FALSE(gif.HasGlobalColorTable);
    EXPECT_EQ(gif.BitsPerPixel, 8);
    EXPECT_EQ(gif.GlobalColorTable.Count, 256);
    gif.ScreenDescriptor.PackedFields = 0x80 | 3;
    gif.DecodeScreenFlags();
    EXPECT_TRUE(gif.HasGlobalColorTable);
    EXPECT_EQ(gif.GlobalColorTable.Count, 16);
}

TEST(GifModel, NewExtensionIsAZeroedGraphicControlWithoutData)
{
    TExtension extension;
    EXPECT_EQ(extension.ExtensionType, etGraphicControl);
    EXPECT_EQ(extension.GraphicControlExt.DelayTime, 0);
    EXPECT_EQ(extension.GraphicControlExt.Terminator, 0);
    EXPECT_EQ(extension.CommentData, nullptr);
}
