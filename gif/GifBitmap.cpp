// TGifFile::AsBitmap: the toolkit bitmap of the first image.
#include "GifUnit.h"
#include "Graphics.h"

#include <QImage>
#include <cstring>

namespace {

// The picture that loading the image's bitmap file (WriteBitmapStream) gives: 8-bit indices
// unchanged, all 256 palette entries. Built straight from the rows and the colour table, so the
// pixels are copied once instead of through a file and a decoder.
QImage IndexedPicture(const TGifSubImage& image)
{
    const int width = image.ImageDescriptor.ImageWidth;
    const int height = image.ImageDescriptor.ImageHeight;
    if (width == 0 || height == 0)
        return {};
    if (image.Pixels->Columns != width || image.Pixels->Rows != height)
        RaiseIndexOutOfBounds();
    QImage picture = NewIndexedPicture(width, height);
    if (picture.isNull())
        throw ENotEnoughMemory("Not enough memory for a bitmap of " + std::to_string(width) + " x " +
                               std::to_string(height) + " pixels");

    const TColorTable& colors = BitmapColorTable(image);
    QList<QRgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = qRgb(colors.Colors[i].Red, colors.Colors[i].Green, colors.Colors[i].Blue);
    picture.setColorTable(palette);

    const std::size_t padding = std::size_t(picture.bytesPerLine()) - std::size_t(width);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* line = picture.scanLine(y);
        std::memcpy(line, image.Pixels->RowMemory(y + 1), std::size_t(width));
        std::memset(line + width, 0, padding);
    }
    return picture;
}

} // namespace

std::unique_ptr<TBitmap> TGifFile::AsBitmap() const
{
    return std::make_unique<TBitmap>(IndexedPicture(FirstSubImage(*this)));
}
