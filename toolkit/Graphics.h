// TBitmap: an off-screen 32-bit picture with a canvas, loadable from the bytes of a bitmap file.
#pragma once

#include "Canvas.h"
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
    // New pixels are black; the pixels the old and new sizes share are kept.
    void SetSize(int width, int height);

    const QImage& Image() const { return image_; }
    QImage& Image() { return image_; }

    // The canvas draws on this bitmap's pixels; its pen, brush and font stay with the bitmap.
    TCanvas& Canvas();

private:
    QImage image_;
    TCanvas canvas_;
};
