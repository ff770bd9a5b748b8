#include "Graphics.h"

#include "SysUtils.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

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

#ifdef __linux__

constexpr std::size_t HugePageSize = std::size_t{2} << 20;

std::size_t RoundUpToHugePages(std::size_t bytes)
{
    return (bytes + HugePageSize - 1) & ~(HugePageSize - 1);
}

struct TMapping {
    void* base;
    std::size_t length;
};

void Unmap(void* info)
{
    auto* mapping = static_cast<TMapping*>(info);
    munmap(mapping->base, mapping->length);
    delete mapping;
}

// Pixel rows in a mapping of their own, aligned to a huge page and advised to use them; a null
// image when the system refuses the mapping.
QImage HugePagePicture(int width, int height, qsizetype bytesPerLine)
{
    const std::size_t used = RoundUpToHugePages(std::size_t(bytesPerLine) * std::size_t(height));
    const std::size_t length = used + HugePageSize; // room to align the start
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return {};
    auto* start = reinterpret_cast<uchar*>(RoundUpToHugePages(reinterpret_cast<std::uintptr_t>(base)));
    madvise(start, used, MADV_HUGEPAGE); // only advice: without huge pages it is ordinary memory
    auto* mapping = new TMapping{base, length};
    return QImage(start, width, height, bytesPerLine, QImage::Format_Indexed8, Unmap, mapping);
}

#endif

} // namespace

QImage NewIndexedPicture(int width, int height)
{
    const qsizetype bytesPerLine = (qsizetype(width) + 3) & ~qsizetype(3);
#ifdef __linux__
    // From 64 small pages on, one huge page costs less to fill than the small pages it replaces
    // (measured: some 12 us per small page, 0.2 ms per huge page).
    if (width > 0 && height > 0 && std::size_t(bytesPerLine) * std::size_t(height) >= HugePageSize / 8)
        return HugePagePicture(width, height, bytesPerLine);
#endif
    return QImage(width, height, QImage::Format_Indexed8);
}

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
