#include "Graphics.h"

#include "SysUtils.h"

#include <algorithm>
#include <cstring>

TBitmap::TBitmap(int width, int height)
    : image_(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32)
{
    image_.fill(Qt::black);
}

void TBitmap::LoadFromStream(TMemoryStream& stream)
{
    const std::size_t start = stream.Position() < stream.Size() ? stream.Position() : stream.Size();
    const auto* bytes = reinterpret_cast<const uchar*>(stream.Memory()) + start;
    QImage loaded;
    if (!loaded.loadFromData(bytes, int(stream.Size() - start), "BMP"))
        throw Exception("Bitmap ist ungültig");
    image_ = loaded.convertToFormat(QImage::Format_RGB32);
    stream.SetPosition(stream.Size());
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height())
        return;
    QImage resized(width, height, QImage::Format_RGB32);
    resized.fill(Qt::black);
    const int rows = std::min(height, Height()), bytes = std::min(width, Width()) * 4;
    for (int y = 0; y < rows; ++y)
        std::memcpy(resized.scanLine(y), image_.constScanLine(y), std::size_t(bytes));
    image_ = resized;
}

TCanvas& TBitmap::Canvas()
{
    // The target is set on every call: a copied or moved bitmap must draw on its own pixels.
    canvas_.SetTarget(&image_);
    return canvas_;
}
