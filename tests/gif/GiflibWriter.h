// Writes GIF files with giflib's encoder (for the peer check and the benchmark) and decodes them
// with giflib's DGifSlurp.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace giftest {

struct TGiflibFrame {
    int width = 0;
    int height = 0;
    bool interlaced = false;
    std::vector<GifColorType> localColors; // empty: no local table
    std::vector<std::uint8_t> pixels;      // width * height indices, row 0 first
};

inline void GiflibCheck(int result, const char* what)
{
    if (result == GIF_ERROR)
        throw std::runtime_error(std::string("giflib: ") + what + " failed");
}

// globalColors empty: no global table.
inline void WriteGifWithGiflib(const std::string& path, int screenWidth, int screenHeight,
                               const std::vector<GifColorType>& globalColors, const std::vector<TGiflibFrame>& frames)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr)
        throw std::runtime_error("giflib: cannot create " + path);
    ColorMapObject* global =
        globalColors.empty() ? nullptr : GifMakeMapObject(static_cast<int>(globalColors.size()), globalColors.data());
    GiflibCheck(EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, global), "EGifPutScreenDesc");
    GifFreeMapObject(global);
    for (const TGiflibFrame& frame : frames) {
        ColorMapObject* local = frame.localColors.empty()
                                    ? nullptr
                                    : GifMakeMapObject(static_cast<int>(frame.localColors.size()), frame.localColors.data());
        GiflibCheck(EGifPutImageDesc(gif, 0, 0, frame.width, frame.height, frame.interlaced, local), "EGifPutImageDesc");
        GifFreeMapObject(local);
        std::vector<int> order;
        if (frame.interlaced) {
            const int first[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int row = first[pass]; row < frame.height; row += step[pass])
                    order.push_back(row);
        } else {
            for (int row = 0; row < frame.height; ++row)
                order.push_back(row);
        }
        for (int row : order) {
            auto* line = const_cast<GifPixelType*>(frame.pixels.data() + static_cast<std::size_t>(row) * frame.width);
            GiflibCheck(EGifPutLine(gif, line, frame.width), "EGifPutLine");
        }
    }
    GiflibCheck(EGifCloseFile(gif, &error), "EGifCloseFile");
}

inline std::vector<GifColorType> Palette(int count, int seed)
{
    std::vector<GifColorType> colors(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        colors[static_cast<std::size_t>(i)] = {static_cast<GifByteType>(i * 7 + seed), static_cast<GifByteType>(255 - i),
                                               static_cast<GifByteType>(i ^ seed)};
    return colors;
}

// The first image of a file as giflib decodes it: indices (de-interlaced) and palette.
struct TGiflibImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<GifColorType> colors;
};

inline TGiflibImage DecodeFirstImageWithGiflib(const std::string& path)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr)
        throw std::runtime_error("giflib: cannot open " + path);
    if (DGifSlurp(gif) == GIF_ERROR || gif->ImageCount < 1) {
        DGifCloseFile(gif, &error);
        throw std::runtime_error("giflib: cannot decode " + path);
    }
    const SavedImage& image = gif->SavedImages[0];
    TGiflibImage result;
    result.width = image.ImageDesc.Width;
    result.height = image.ImageDesc.Height;
    result.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(result.width) * result.height);
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    if (map != nullptr)
        result.colors.assign(map->Colors, map->Colors + map->ColorCount);
    DGifCloseFile(gif, &error);
    return result;
}

} // namespace giftest
