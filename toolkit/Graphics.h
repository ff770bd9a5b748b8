// TBitmap: an off-screen picture, loadable from the bytes of a bitmap file.
#pragma once

#include "Classes.h"

#include <QImage>

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height);

    // Reads a bitmap file from the stream's current position; throws Exception when the bytes
    // are not a bitmap the toolkit can read.
    void LoadFromStream(TMemoryStream& stream);

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }
    QImage& Image() { return image_; }

private:
    QImage image_;
};
