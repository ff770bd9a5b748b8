// Colour table record of the GIF model and its standard fills.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
struct TColorItem {
    std::uint8_t Red;
    std::uint8_t Green;
    std::uint8_t Blue;
};
#pragma pack(pop)
static_assert(sizeof(TColorItem) == 3, "entries have the byte layout of a GIF colour table");

struct TColorTable {
    TColorItem Colors[256] = {};
    std::int32_t Count = 0;
};

TColorItem MakeColorItem(std::uint8_t r, std::uint8_t g, std::uint8_t b);

void FillBlackWhite(TColorTable& table);
void FillStandard16(TColorTable& table);
void FillGrayScale(TColorTable& table);

// Sets Count to colorCount whatever it is; fills the standard table only for 2, 16 and 256.
void InitColorTable(TColorTable& table, std::uint16_t colorCount);
