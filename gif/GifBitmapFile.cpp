// The 8-bit bitmap file of a GIF image: file header, information header, 256-entry palette and
// bottom-up rows padded to 4 bytes.
#include "Classes.h"
#include "GifUnit.h"

#include <cstring>

namespace {

constexpr std::uint32_t PixelDataOffset = 14 + 40 + 256 * 4;

void PutWord(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutDWord(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t PaddedRowLength(const TGifSubImage& image)
{
    return (image.ImageDescriptor.ImageWidth + 3u) & ~3u;
}

// 64 bits: a 65535 by 65535 image would wrap a 32-bit size.
std::uint64_t BitmapFileSize(const TGifSubImage& image)
{
    return PixelDataOffset + static_cast<std::uint64_t>(PaddedRowLength(image)) * image.ImageDescriptor.ImageHeight;
}

} // namespace

const TColorTable& BitmapColorTable(const TGifSubImage& image)
{
    return image.HasLocalColorTable ? image.LocalColorTable : image.GifFile->GlobalColorTable;
}

void FillBitmapInfoHeader(const TGifSubImage& image, TBitmapInfoHeader& header)
{
    std::uint8_t* h = header.Bytes;
    std::memset(h, 0, sizeof header.Bytes);
    PutDWord(h + 0, 40);                                   // biSize
    PutDWord(h + 4, image.ImageDescriptor.ImageWidth);     // biWidth
    PutDWord(h + 8, image.ImageDescriptor.ImageHeight);    // biHeight, positive: bottom-up rows
    PutWord(h + 12, 1);                                    // biPlanes
    PutWord(h + 14, 8);                                    // biBitCount
    PutDWord(h + 24, 143);                                 // biXPelsPerMeter
    PutDWord(h + 28, 143);                                 // biYPelsPerMeter
    // biCompression, biSizeImage, biClrUsed and biClrImportant stay 0.
}

void WriteBitmapFile(const TGifSubImage& image, const std::function<void(const void* bytes, std::size_t count)>& write)
{
    const std::uint32_t width = image.ImageDescriptor.ImageWidth;
    const std::uint32_t height = image.ImageDescriptor.ImageHeight;
    // Rows are copied whole, so they must be exactly width bytes; checked before any byte goes out.
    if (width > 0 && height > 0 && (image.Pixels->Columns != static_cast<std::int32_t>(width) ||
                                    image.Pixels->Rows != static_cast<std::int32_t>(height)))
        RaiseIndexOutOfBounds();

    std::uint8_t head[PixelDataOffset] = {};
    head[0] = 'B';
    head[1] = 'M';
    PutDWord(head + 2, static_cast<std::uint32_t>(BitmapFileSize(image)));
    PutDWord(head + 10, PixelDataOffset);
    TBitmapInfoHeader info;
    FillBitmapInfoHeader(image, info);
    std::memcpy(head + 14, info.Bytes, sizeof info.Bytes);
    const TColorTable& colors = BitmapColorTable(image);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* entry = head + 54 + 4 * i;
        entry[0] = colors.Colors[i].Blue;
        entry[1] = colors.Colors[i].Green;
        entry[2] = colors.Colors[i].Red;
    }
    write(head, sizeof head);

    static const std::uint8_t padding[3] = {};
    const std::uint32_t paddingLength = PaddedRowLength(image) - width;
    for (std::uint32_t row = height; row >= 1; --row) {
        if (width > 0)
            write(image.Pixels->RowMemory(static_cast<std::int32_t>(row)), width);
        if (paddingLength > 0)
            write(padding, paddingLength);
    }
}

void WriteBitmapStream(const TGifSubImage& image, TMemoryStream& stream)
{
    const std::uint64_t fileSize = BitmapFileSize(image);
    stream.SetPosition(0);
    if (stream.Size() < fileSize)
        stream.Reserve(static_cast<std::size_t>(fileSize - stream.Size()));
    WriteBitmapFile(image, [&stream](const void* bytes, std::size_t count) { stream.Write(bytes, count); });
    stream.SetPosition(0);
}
