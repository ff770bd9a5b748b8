#include "Graphics.h"

#include "SysUtils.h"

TBitmap::TBitmap(int width, int height)
    : image_(width, height, QImage::Format_RGB32)
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
