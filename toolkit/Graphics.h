// TBitmap: an off-screen picture with a canvas, loadable from the bytes of a bitmap file.
#pragma once

#include "Canvas.h"
#include "Classes.h"

#include <QImage>

// A new 8-bit indexed picture with uninitialised pixels and no colour table, or a null image when
// there is no memory for it. A big one is backed by huge pages where the system offers them:
// filling it then faults a few times instead of once per 4 KiB page.
QImage NewIndexedPicture(int width, int height);

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height);
    // Takes the picture as it stands (shared, not copied), 8-bit indexed or 32-bit.
    explicit TBitmap(QImage picture);

    // Reads a bitmap file from the stream's current position; throws Exception when the bytes
    // are not a bitmap the toolkit can read. A file 0 pixels wide or high gives an empty bitmap.
    void LoadFromStream(TMemoryStream& stream);

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    // New pixels are black; the pixels the old and new sizes share are kept.
    void SetSize(int width, int height);

    // The picture in the form it was made in: an 8-bit bitmap file loads as indexed pixels with
    // its 256-entry palette, which a control shows without converting them.
    const QImage& Picture() const { return image_; }
    // The picture as 32-bit pixels, converted on first use, for drawing and reading pixels.
    const QImage& Image() const;
    QImage& Image();

    // The canvas draws on this bitmap's pixels; its pen, brush and font stay with the bitmap.
    TCanvas& Canvas();

private:
    mutable QImage image_; // indexed until something needs its 32-bit pixels
    TCanvas canvas_;
};
