// Fuzz target: any bytes as a GIF file, loaded from memory (with a load nested in the row hook now
// and then, as a quick selection change does), then the bitmap file of every image.
#include "Classes.h"
#include "GifUnit.h"

#include <cstdint>
#include <cstdlib>

// A refused allocation must come back as a null pointer (and so as ENotEnoughMemory).
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

// Bitmaps of images up to this many pixels are written: bigger ones take the same code and would
// only measure the allocator.
constexpr std::int64_t MaxBitmapPixels = std::int64_t{1} << 15;

void CheckBitmaps(const TGifFile& gif)
{
    for (const auto& image : gif.SubImages) {
        const std::int64_t width = image->ImageDescriptor.ImageWidth;
        const std::int64_t height = image->ImageDescriptor.ImageHeight;
        if (width * height > MaxImagePixels || image->GifFile != &gif)
            std::abort();
        if (width * height > MaxBitmapPixels)
            continue;
        TMemoryStream stream;
        WriteBitmapStream(*image, stream);
        if (stream.Size() != static_cast<std::size_t>(1078 + ((width + 3) & ~3) * height) || stream.Position() != 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TGifFile gif;
    // The last input byte chooses the row at which a nested load of the same bytes starts.
    const int nestAtRow = size > 0 ? data[size - 1] % 8 : 0;
    int rows = 0;
    bool nested = false;
    SetGifMessageHook([&] {
        if (nested || nestAtRow == 0 || ++rows != nestAtRow)
            return;
        nested = true;
        try {
            gif.LoadFromMemory(data, size);
        } catch (const Exception&) {
        }
    });
    try {
        gif.LoadFromMemory(data, size);
    } catch (const Exception&) {
    }
    SetGifMessageHook(nullptr);
    CheckBitmaps(gif);
    return 0;
}
