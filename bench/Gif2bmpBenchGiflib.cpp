// gif2bmp_giflib IN.gif OUT.bmp: the peer of gif2bmp for the benchmark, written the way a plain
// giflib program would: DGifSlurp, then the same 8-bit bitmap file of the first image (palette
// from the image's own table, else the global one, entries past its count black), rows bottom-up
// through stdio.
#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void PutDWord(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Fail("usage: gif2bmp_giflib IN.gif OUT.bmp");
    int error = 0;
    GifFileType* gif = DGifOpenFileName(argv[1], &error);
    if (gif == nullptr)
        return Fail(GifErrorString(error));
    if (DGifSlurp(gif) == GIF_ERROR || gif->ImageCount < 1)
        return Fail(GifErrorString(gif->Error));
    const SavedImage& image = gif->SavedImages[0];
    const std::uint32_t width = static_cast<std::uint32_t>(image.ImageDesc.Width);
    const std::uint32_t height = static_cast<std::uint32_t>(image.ImageDesc.Height);
    const std::uint32_t rowLength = (width + 3) & ~3u;

    std::uint8_t head[1078] = {};
    head[0] = 'B';
    head[1] = 'M';
    PutDWord(head + 2, 1078 + rowLength * height);
    PutDWord(head + 10, 1078);
    PutDWord(head + 14, 40);
    PutDWord(head + 18, width);
    PutDWord(head + 22, height);
    head[26] = 1;
    head[28] = 8;
    PutDWord(head + 38, 143);
    PutDWord(head + 42, 143);
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    for (int i = 0; map != nullptr && i < map->ColorCount; ++i) {
        head[54 + 4 * i] = map->Colors[i].Blue;
        head[55 + 4 * i] = map->Colors[i].Green;
        head[56 + 4 * i] = map->Colors[i].Red;
    }

    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr)
        return Fail("cannot create the bitmap file");
    std::fwrite(head, 1, sizeof head, out);
    static const std::uint8_t padding[3] = {};
    for (std::uint32_t row = height; row-- > 0;) {
        std::fwrite(image.RasterBits + static_cast<std::size_t>(row) * width, 1, width, out);
        std::fwrite(padding, 1, rowLength - width, out);
    }
    const bool written = std::ferror(out) == 0;
    if (std::fclose(out) != 0 || !written)
        return Fail("cannot write the bitmap file");
    DGifCloseFile(gif, &error);
    return 0;
}
