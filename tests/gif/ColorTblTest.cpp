// Colour tables: the three standard fills and what InitColorTable leaves alone.
#include "ColorTbl.h"

#include <gtest/gtest.h>

namespace {

bool Same(const TColorItem& item, int r, int g, int b)
{
    return item.Red == r && item.Green == g && item.Blue == b;
}

TColorTable Marked()
{
    TColorTable table;
    for (int i = 0; i < 256; ++i)
        table.Colors[i] = MakeColorItem(1, 2, static_cast<std::uint8_t>(i));
    table.Count = 5;
    return table;
}

} // namespace

TEST(ColorTable, LayoutIsThatOfAGifColourTable)
{
    EXPECT_EQ(sizeof(TColorTable::Colors), 768u);
    const TColorItem item = MakeColorItem(1, 2, 3);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&item);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(TColorTable{}.Count, 0);
    EXPECT_TRUE(Same(TColorTable{}.Colors[200], 0, 0, 0));
}

TEST(ColorTable, OtherCountsChangeOnlyCount)
{
    for (std::uint16_t count : {4, 8, 32, 128, 0, 1000}) {
        TColorTable table = Marked();
        InitColorTable(table, count);
        EXPECT_EQ(table.Count, count);
        EXPECT_TRUE(Same(table.Colors[0], 1, 2, 0));
        EXPECT_TRUE(Same(table.Colors[7], 1, 2, 7));
    }
}

TEST(ColorTable, SixteenGivesTheStandardTableAndKeepsTheRest)
{
    TColorTable table = Marked();
    InitColorTable(table, 16);
    EXPECT_EQ(table.Count, 16);
    EXPECT_TRUE(Same(table.Colors[0], 0, 0, 0));
    EXPECT_TRUE(Same(table.Colors[1], 128, 0, 0));
    EXPECT_TRUE(Same(table.Colors[4], 0, 0, 128));
    EXPECT_TRUE(Same(table.Colors[7], 128, 128, 128));
    EXPECT_TRUE(Same(table.Colors[8], 192, 192, 192));
    EXPECT_TRUE(Same(table.Colors[11], 255, 255, 0));
    EXPECT_TRUE(Same(table.Colors[14], 0, 255, 255));
    EXPECT_TRUE(Same(table.Colors[15], 255, 255, 255));
    EXPECT_TRUE(Same(table.Colors[16], 1, 2, 16));
}

TEST(ColorTable, TwoOverwritesOnlyTheFirstTwoEntries)
{
    TColorTable table;
    InitColorTable(table, 16);
    InitColorTable(table, 2);
    EXPECT_EQ(table.Count, 2);
    EXPECT_TRUE(Same(table.Colors[0], 0, 0, 0));
    EXPECT_TRUE(Same(table.Colors[1], 255, 255, 255));
    EXPECT_TRUE(Same(table.Colors[2], 0, 128, 0));
    EXPECT_TRUE(Same(table.Colors[15], 255, 255, 255));
}

TEST(ColorTable, TwoHundredFiftySixIsAGreyRamp)
{
    TColorTable table = Marked();
    InitColorTable(table, 256);
    EXPECT_EQ(table.Count, 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(Same(table.Colors[i], i, i, i)) << i;
}
