#include "ColorTbl.h"

TColorItem MakeColorItem(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return TColorItem{r, g, b};
}

void FillBlackWhite(TColorTable& table)
{
    table.Count = 2;
    table.Colors[0] = MakeColorItem(0, 0, 0);
    table.Colors[1] = MakeColorItem(255, 255, 255);
}

void FillStandard16(TColorTable& table)
{
    static const TColorItem standard[16] = {
        {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
        {0, 128, 128},   {128, 128, 128}, {192, 192, 192}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    table.Count = 16;
    for (int i = 0; i < 16; ++i)
        table.Colors[i] = standard[i];
}

void FillGrayScale(TColorTable& table)
{
    table.Count = 256;
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        table.Colors[i] = MakeColorItem(level, level, level);
    }
}

void InitColorTable(TColorTable& table, std::uint16_t colorCount)
{
    table.Count = colorCount;
    switch (colorCount) {
    case 2: FillBlackWhite(table); break;
    case 16: FillStandard16(table); break;
    case 256: FillGrayScale(table); break;
    default: break;
    }
}
