// TGifFile::AsBitmap: the toolkit bitmap of the first image, loaded from its bitmap file bytes.
#include "Classes.h"
#include "Graphics.h"
#include "GifUnit.h"

std::unique_ptr<TBitmap> TGifFile::AsBitmap() const
{
    const TGifSubImage& first = FirstSubImage(*this);
    TMemoryStream stream;
    WriteBitmapStream(first, stream);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromStream(stream);
    return bitmap;
}
