#include "Graphics.h"

#include "SysUtils.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t FileHeaderSize = 14;
constexpr std::size_t InfoHeaderSize = 40;

std::int32_t Int32At(const std::uint8_t* at)
{
    return static_cast<std::int32_t>(at[0] | (at[1] << 8) | (at[2] << 16) | (std::uint32_t(at[3]) << 24));
}

// A well-formed bitmap file whose information header declares no pixels: valid, but Qt's reader
// refuses it.
bool DeclaresNoPixels(const std::uint8_t* bytes, std::size_t size)
{
    if (size < FileHeaderSize + InfoHeaderSize || bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    const std::uint8_t* info = bytes + FileHeaderSize;
    return Int32At(info) >= std::int32_t(InfoHeaderSize) && (Int32At(info + 4) == 0 || Int32At(info + 8) == 0);
}

} // namespace

TBitmap::TBitmap(int width, int height)
    : image_(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32)
{
    image_.fill(Qt::black);
}

TBitmap::TBitmap(QImage picture)
    : image_(std::move(picture))
{
}

void TBitmap::LoadFromStream(TMemoryStream& stream)
{
    const std::size_t start = std::min(stream.Position(), stream.Size());
    const auto* bytes = stream.Memory() + start;
    const std::size_t size = stream.Size() - start;
    QImage loaded;
    if (!DeclaresNoPixels(bytes, size)) {
        QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(size));
        QBuffer buffer(&data);
        QImageReader reader(&buffer, "BMP");
        reader.setAllocationLimit(0); // any size the file declares; a failed allocation still fails the read
        if (!reader.read(&loaded))
            throw Exception("Bitmap ist ungültig");
    }
    image_ = std::move(loaded);
    stream.SetPosition(stream.Size());
}

const QImage& TBitmap::Image() const
{
    if (!image_.isNull() && image_.format() != QImage::Format_RGB32)
        image_ = image_.convertToFormat(QImage::Format_RGB32);
    return image_;
}

QImage& TBitmap::Image()
{
    std::as_const(*this).Image();
    return image_;
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height())
        return;
    QImage resized(width, height, QImage::Format_RGB32);
    resized.fill(Qt::black);
    const QImage& old = Image();
    const int rows = std::min(height, Height()), bytes = std::min(width, Width()) * 4;
    for (int y = 0; y < rows; ++y)
        std::memcpy(resized.scanLine(y), old.constScanLine(y), std::size_t(bytes));
    image_ = resized;
}

TCanvas& TBitmap::Canvas()
{
    // The target is set on every call: a copied or moved bitmap must draw on its own pixels.
    canvas_.SetTarget(&Image());
    return canvas_;
}
