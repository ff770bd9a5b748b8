// Peer check: files written by giflib's encoder decode to the same indices and palette with our
// reader as with giflib's own decoder.
#include "GifTestSupport.h"
#include "GiflibWriter.h"

#include <gtest/gtest.h>
#include <random>

using namespace giftest;

namespace {

// Runs of random length and colour, so that the code stream has short and long strings.
std::vector<std::uint8_t> RunPixels(int width, int height, int colors, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < pixels.size();) {
        const auto color = static_cast<std::uint8_t>(random() % colors);
        for (std::size_t run = 1 + random() % 40; run > 0 && i < pixels.size(); --run)
            pixels[i++] = color;
    }
    return pixels;
}

struct TPeerCase {
    const char* name;
    int width;
    int height;
    int colors;
    bool interlaced;
    bool local;
    int frames;
};

void PrintTo(const TPeerCase& c, std::ostream* out)
{
    *out << c.name;
}

class GiflibPeer : public testing::TestWithParam<TPeerCase> {};

} // namespace

TEST_P(GiflibPeer, FirstImageMatchesGiflib)
{
    const TPeerCase& c = GetParam();
    std::vector<TGiflibFrame> frames;
    for (int f = 0; f < c.frames; ++f) {
        TGiflibFrame frame;
        frame.width = c.width - f;
        frame.height = c.height;
        frame.interlaced = c.interlaced;
        if (c.local)
            frame.localColors = Palette(c.colors, 50 + f);
        frame.pixels = RunPixels(frame.width, frame.height, c.colors, 17u * (f + 1) + c.width);
        frames.push_back(std::move(frame));
    }
    const std::string path = (TempDir() / (std::string(c.name) + ".gif")).string();
    WriteGifWithGiflib(path, c.width, c.height, c.local ? Palette(256, 3) : Palette(c.colors, 9), frames);

    const TGiflibImage expected = DecodeFirstImageWithGiflib(path);
    TGifFile gif;
    gif.LoadFromFile(path);
    ASSERT_EQ(gif.SubImages.size(), static_cast<std::size_t>(c.frames));
    const TGifSubImage& first = *gif.SubImages[0];
    ASSERT_EQ(first.ImageDescriptor.ImageWidth, expected.width);
    ASSERT_EQ(first.ImageDescriptor.ImageHeight, expected.height);
    EXPECT_EQ(AllPixels(first), expected.pixels);
    EXPECT_EQ(AllPixels(first), frames[0].pixels);

    const TColorTable& table = first.HasLocalColorTable ? first.LocalColorTable : gif.GlobalColorTable;
    ASSERT_EQ(static_cast<std::size_t>(table.Count), expected.colors.size());
    for (std::size_t i = 0; i < expected.colors.size(); ++i) {
        EXPECT_EQ(table.Colors[i].Red, expected.colors[i].Red) << i;
        EXPECT_EQ(table.Colors[i].Green, expected.colors[i].Green) << i;
        EXPECT_EQ(table.Colors[i].Blue, expected.colors[i].Blue) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, GiflibPeer,
    testing::Values(TPeerCase{"two_colours", 33, 17, 2, false, false, 1},
                    TPeerCase{"two_colours_interlaced", 9, 13, 2, true, false, 1},
                    TPeerCase{"sixteen_colours", 100, 61, 16, false, false, 1},
                    TPeerCase{"sixteen_interlaced", 64, 9, 16, true, false, 2},
                    TPeerCase{"full_palette", 320, 240, 256, false, false, 1},
                    TPeerCase{"full_palette_interlaced", 641, 479, 256, true, false, 1},
                    TPeerCase{"local_tables", 37, 23, 16, false, true, 3},
                    TPeerCase{"local_interlaced", 255, 3, 256, true, true, 2},
                    TPeerCase{"one_pixel", 1, 1, 2, false, false, 1},
                    TPeerCase{"one_column", 1, 300, 256, true, false, 1},
                    TPeerCase{"long_row", 4097, 2, 4, false, false, 3}),
    [](const testing::TestParamInfo<TPeerCase>& info) { return std::string(info.param.name); });
