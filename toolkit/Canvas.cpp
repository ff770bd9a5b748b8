#include "Canvas.h"

#include "Graphics.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

__extension__ typedef __int128 Wide; // exact products of doubled coordinates

// Shapes larger than this are not drawn: their squared extents would not fit the exact integer
// arithmetic below, and no screen comes near it.
constexpr int kMaxShapeExtent = 1 << 20;

QRgb ToRgb(TColor color)
{
    const TColor plain = ColorToRGB(color);
    return 0xFF000000u | ((plain & 0xFF) << 16) | (plain & 0xFF00) | ((plain >> 16) & 0xFF);
}

TColor FromRgb(QRgb rgb)
{
    return TColor(qRed(rgb)) | (TColor(qGreen(rgb)) << 8) | (TColor(qBlue(rgb)) << 16);
}

std::int64_t ISqrt(Wide n)
{
    auto root = static_cast<std::int64_t>(std::sqrt(static_cast<long double>(n)));
    while (root > 0 && Wide(root) * root > n)
        --root;
    while (Wide(root + 1) * (root + 1) <= n)
        ++root;
    return root;
}

// The pixels of an ellipse inscribed in a box, in doubled coordinates so that the box centre and
// the pixel centres are whole numbers: pixel x has the doubled offset 2x + 1 - (left + right).
class EllipseShape {
public:
    EllipseShape(int left, int top, int right, int bottom)
        : left_(std::min(left, right)), top_(std::min(top, bottom)),
          right_(std::max(left, right)), bottom_(std::max(top, bottom))
    {
    }

    bool Drawable() const
    {
        const int width = right_ - left_, height = bottom_ - top_;
        return width > 0 && height > 0 && width <= kMaxShapeExtent && height <= kMaxShapeExtent;
    }

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Right() const { return right_; }
    int Bottom() const { return bottom_; }

    std::int64_t OffsetX(int x) const { return 2 * std::int64_t(x) + 1 - left_ - std::int64_t(right_); }
    std::int64_t OffsetY(int y) const { return 2 * std::int64_t(y) + 1 - top_ - std::int64_t(bottom_); }
    // Doubled offset of a lattice point (a caller's coordinate) from the centre.
    std::int64_t PointX(int x) const { return 2 * std::int64_t(x) - left_ - std::int64_t(right_); }
    std::int64_t PointY(int y) const { return 2 * std::int64_t(y) - top_ - std::int64_t(bottom_); }

    bool Inside(int x, int y) const
    {
        const Wide a = right_ - left_, b = bottom_ - top_;
        const Wide dx = OffsetX(x), dy = OffsetY(y);
        return dx * dx * b * b + dy * dy * a * a <= a * a * b * b;
    }

    // The inside pixels of row y run from first to last (first > last: none).
    void RowSpan(int y, int& first, int& last) const
    {
        Span(OffsetY(y), right_ - left_, bottom_ - top_, left_ + std::int64_t(right_), first, last);
    }
    void ColumnSpan(int x, int& first, int& last) const
    {
        Span(OffsetX(x), bottom_ - top_, right_ - left_, top_ + std::int64_t(bottom_), first, last);
    }

    // The pen's pixels: the outermost inside pixel of each row and of each column.
    bool Outline(int x, int y) const
    {
        int first, last;
        RowSpan(y, first, last);
        if (x == first || x == last)
            return true;
        ColumnSpan(x, first, last);
        return y == first || y == last;
    }

private:
    // Along one axis of extent `along` (the other extent `across`), at the doubled offset `offset`
    // on the other axis: the largest doubled offset X of the right parity with
    // X² across² <= along² (across² - offset²).
    static void Span(std::int64_t offset, Wide along, Wide across, std::int64_t sum, int& first, int& last)
    {
        first = 1, last = 0;
        if (offset * offset > across * across)
            return;
        const Wide room = along * along * (across * across - Wide(offset) * offset);
        std::int64_t extent = ISqrt(room) / std::int64_t(across);
        const std::int64_t parity = (along + 1) % 2; // pixel offsets are odd for even extents
        if (std::abs(extent % 2) != parity)
            --extent;
        if (extent < 0)
            return;
        first = int((-extent + sum - 1) / 2);
        last = int((extent + sum - 1) / 2);
    }

    int left_, top_, right_, bottom_;
};

// A direction from the ellipse centre, in doubled screen coordinates (y grows downwards).
struct Direction {
    Wide X;
    Wide Y;
};

// Cross product in mathematical orientation (y up): positive when b lies counter-clockwise of a.
Wide Cross(const Direction& a, const Direction& b)
{
    return a.X * (-b.Y) - (-a.Y) * b.X;
}

Wide Dot(const Direction& a, const Direction& b)
{
    return a.X * b.X + a.Y * b.Y;
}

// The sector swept counter-clockwise from one radial to the other, both radials included.
class Sector {
public:
    Sector(Direction from, Direction to) : from_(NonZero(from)), to_(NonZero(to)) {}

    bool Whole() const { return Cross(from_, to_) == 0 && Dot(from_, to_) > 0; }

    bool Contains(const Direction& d) const
    {
        if (d.X == 0 && d.Y == 0)
            return true;
        const Wide turn = Cross(from_, to_);
        if (turn > 0)
            return Cross(from_, d) >= 0 && Cross(d, to_) >= 0;
        if (turn < 0)
            return !(Cross(to_, d) > 0 && Cross(d, from_) > 0);
        if (Dot(from_, to_) > 0)
            return true;
        return Cross(from_, d) >= 0; // opposite radials: the half on the counter-clockwise side
    }

private:
    // A point at the centre gives no direction; it is taken as pointing to three o'clock.
    static Direction NonZero(Direction d) { return (d.X == 0 && d.Y == 0) ? Direction{1, 0} : d; }

    Direction from_, to_;
};

} // namespace

TColor ColorToRGB(TColor color)
{
    if ((color & 0xFF000000u) != 0x80000000u)
        return color & 0xFFFFFF;
    // The classic Windows scheme, by system colour index.
    static constexpr TColor scheme[] = {
        0xC0C0C0, 0x808000, 0x800000, 0x808080, 0xC0C0C0, 0xFFFFFF, 0x000000, 0x000000,
        0x000000, 0xFFFFFF, 0xC0C0C0, 0xC0C0C0, 0x808080, 0x800000, 0xFFFFFF, 0xC0C0C0,
        0x808080, 0x808080, 0x000000, 0xC0C0C0, 0xFFFFFF,
    };
    const TColor index = color & 0xFFFFFF;
    return index < std::size(scheme) ? scheme[index] : clBlack;
}

TFont::TFont(const std::string& name, int height, TColor color) : Name(name), Height(height), Color(color) {}

QFont TFont::ToQFont() const
{
    QFont font(QString::fromStdString(Name));
    font.setBold(Bold);
    if (Height < 0) {
        font.setPixelSize(-Height);
    } else if (Height > 0) {
        // A positive height is the whole cell: scale the character height to match it.
        font.setPixelSize(Height);
        const int cell = QFontMetrics(font).height();
        if (cell > 0)
            font.setPixelSize(std::max(1, Height * Height / cell));
    }
    return font;
}

TFont TFont::FromQFont(const QFont& font, TColor color)
{
    TFont result;
    result.Name = font.family().toStdString();
    const int pixels = font.pixelSize() > 0 ? font.pixelSize() : int(std::lround(font.pointSizeF() * 96.0 / 72.0));
    result.Height = -pixels;
    result.Color = color;
    result.Bold = font.bold();
    return result;
}

bool TCanvas::Contains(int x, int y) const
{
    return target_ != nullptr && x >= 0 && y >= 0 && x < target_->width() && y < target_->height();
}

void TCanvas::PutPixel(int x, int y, QRgb rgb)
{
    if (Contains(x, y))
        reinterpret_cast<QRgb*>(target_->scanLine(y))[x] = rgb;
}

TColor TCanvas::Pixel(int x, int y) const
{
    if (!Contains(x, y))
        return clBlack;
    return FromRgb(reinterpret_cast<const QRgb*>(std::as_const(*target_).scanLine(y))[x]);
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    PutPixel(x, y, ToRgb(color));
}

void TCanvas::FillRect(const TRect& rect)
{
    if (target_ == nullptr)
        return;
    const int left = std::max(rect.Left, 0), right = std::min(rect.Right, target_->width());
    const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, target_->height());
    const QRgb rgb = ToRgb(Brush.Color);
    for (int y = top; y < bottom; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(target_->scanLine(y));
        std::fill(row + left, row + std::max(left, right), rgb);
    }
}

template <typename Shape, typename Part>
void TCanvas::DrawEllipsePart(const Shape& shape, Part inPart)
{
    const int left = std::max(shape.Left(), 0), right = std::min(shape.Right(), target_->width());
    const QRgb pen = ToRgb(Pen.Color), brush = ToRgb(Brush.Color);
    for (int y = std::max(shape.Top(), 0); y < std::min(shape.Bottom(), target_->height()); ++y) {
        int first, last;
        shape.RowSpan(y, first, last);
        for (int x = std::max(first, left); x <= std::min(last, right - 1); ++x) {
            if (!inPart(x, y))
                continue;
            if (shape.Outline(x, y))
                PutPixel(x, y, pen);
            else if (Brush.Style == bsSolid)
                PutPixel(x, y, brush);
        }
    }
}

void TCanvas::Ellipse(int left, int top, int right, int bottom)
{
    const EllipseShape shape(left, top, right, bottom);
    if (target_ != nullptr && shape.Drawable())
        DrawEllipsePart(shape, [](int, int) { return true; });
}

namespace {

Wide FloorDiv(Wide numerator, Wide denominator)
{
    Wide quotient = numerator / denominator;
    if (numerator % denominator != 0 && ((numerator < 0) != (denominator < 0)))
        --quotient;
    return quotient;
}

// Pixels of the radial from the ellipse centre along a direction, out to the ellipse's edge. Each
// step along the major axis takes the pixel whose centre lies nearest the ray; of two equally near
// ones, the one inside the sector, so that a radial on a pixel boundary stays in its own sector.
template <typename Plot>
void TraceRadial(const EllipseShape& shape, const Sector& sector, Direction dir, Plot plot)
{
    if (dir.X == 0 && dir.Y == 0)
        dir = {1, 0};
    const bool horizontal = (dir.X < 0 ? -dir.X : dir.X) >= (dir.Y < 0 ? -dir.Y : dir.Y);
    const Wide major = horizontal ? dir.X : dir.Y, minor = horizontal ? dir.Y : dir.X;
    const int step = major > 0 ? 1 : -1;
    const Wide sum = horizontal ? Wide(shape.Left()) + shape.Right() : Wide(shape.Top()) + shape.Bottom();
    const Wide crossSum = horizontal ? Wide(shape.Top()) + shape.Bottom() : Wide(shape.Left()) + shape.Right();
    auto pixel = [&](Wide along, Wide across, int& x, int& y) {
        x = int(horizontal ? along : across);
        y = int(horizontal ? across : along);
    };
    // Start at the first pixel whose centre is not behind the centre of the ellipse.
    Wide along = step > 0 ? -FloorDiv(-(sum - 1), 2) : FloorDiv(sum - 1, 2);
    for (;; along += step) {
        // The ray's cross-axis pixel index here is (u * minor / major + crossSum - 1) / 2, with u
        // the doubled offset of this pixel's centre along the major axis.
        const Wide u = 2 * along + 1 - sum;
        Wide numerator = u * minor + (crossSum - 1) * major, denominator = 2 * major;
        if (denominator < 0)
            numerator = -numerator, denominator = -denominator;
        const Wide lower = FloorDiv(numerator, denominator);
        const Wide twiceRemainder = 2 * (numerator - lower * denominator);
        int x, y;
        pixel(along, twiceRemainder > denominator ? lower + 1 : lower, x, y);
        if (twiceRemainder == denominator) {
            int x2, y2;
            pixel(along, lower + 1, x2, y2);
            if (!sector.Contains({shape.OffsetX(x), shape.OffsetY(y)}) &&
                sector.Contains({shape.OffsetX(x2), shape.OffsetY(y2)}))
                x = x2, y = y2;
        }
        if (!shape.Inside(x, y))
            return;
        plot(x, y);
    }
}

} // namespace

void TCanvas::Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2)
{
    const EllipseShape shape(left, top, right, bottom);
    if (target_ == nullptr || !shape.Drawable())
        return;
    const Direction from{shape.PointX(x1), shape.PointY(y1)}, to{shape.PointX(x2), shape.PointY(y2)};
    const Sector sector(from, to);
    DrawEllipsePart(shape, [&](int x, int y) { return sector.Contains({shape.OffsetX(x), shape.OffsetY(y)}); });
    const QRgb pen = ToRgb(Pen.Color);
    auto plot = [&](int x, int y) { PutPixel(x, y, pen); };
    TraceRadial(shape, sector, from, plot);
    if (!sector.Whole())
        TraceRadial(shape, sector, to, plot);
}

void TCanvas::LineTo(int x, int y)
{
    // Bresenham from the current position, leaving out the end point.
    int px = penPos_.X, py = penPos_.Y;
    const int dx = std::abs(x - px), dy = -std::abs(y - py);
    const int sx = px < x ? 1 : -1, sy = py < y ? 1 : -1;
    int error = dx + dy;
    const QRgb pen = ToRgb(Pen.Color);
    while (px != x || py != y) {
        PutPixel(px, py, pen);
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            px += sx;
        }
        if (twice <= dx) {
            error += dx;
            py += sy;
        }
    }
    penPos_ = {x, y};
}

namespace {

QFont GlyphFont(const TFont& font)
{
    QFont result = font.ToQFont();
    result.setStyleStrategy(QFont::NoAntialias);
    return result;
}

} // namespace

int TCanvas::TextWidth(const std::string& text) const
{
    return QFontMetrics(GlyphFont(Font)).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) const
{
    return QFontMetrics(GlyphFont(Font)).height();
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    if (target_ == nullptr)
        return;
    const TRect cell{x, y, x + TextWidth(text), y + TextHeight(text)};
    TextRect(cell, x, y, text);
    penPos_ = {cell.Right, y};
}

void TCanvas::TextRect(const TRect& clip, int x, int y, const std::string& text)
{
    if (target_ == nullptr)
        return;
    if (Brush.Style == bsSolid)
        FillRect(clip);
    DrawGlyphs(clip, x, y, text);
}

void TCanvas::DrawGlyphs(const TRect& clip, int x, int y, const std::string& text)
{
    const int left = std::max(clip.Left, 0), right = std::min(clip.Right, target_->width());
    const int top = std::max(clip.Top, 0), bottom = std::min(clip.Bottom, target_->height());
    if (right <= left || bottom <= top || text.empty())
        return;
    // The glyphs are rendered into a coverage mask; a pixel at least half covered is a glyph
    // pixel and takes the font colour in full, so the text has no blended edges.
    QImage mask(right - left, bottom - top, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    const QFont font = GlyphFont(Font);
    {
        QPainter painter(&mask);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(x - left, y - top + QFontMetrics(font).ascent(), QString::fromStdString(text));
    }
    const QRgb color = ToRgb(Font.Color);
    for (int row = 0; row < mask.height(); ++row) {
        const QRgb* coverage = reinterpret_cast<const QRgb*>(std::as_const(mask).scanLine(row));
        for (int column = 0; column < mask.width(); ++column)
            if (qAlpha(coverage[column]) >= 128)
                PutPixel(left + column, top + row, color);
    }
}

void TCanvas::CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect)
{
    if (target_ == nullptr)
        return;
    const int width = std::min(dest.Right - dest.Left, sourceRect.Right - sourceRect.Left);
    const int height = std::min(dest.Bottom - dest.Top, sourceRect.Bottom - sourceRect.Top);
    if (width <= 0 || height <= 0)
        return;
    // A shallow copy keeps the source as it was when it is this very image.
    const QImage from = source.target_ != nullptr ? *source.target_ : QImage();
    for (int row = 0; row < height; ++row) {
        const int dy = dest.Top + row, sy = sourceRect.Top + row;
        if (dy < 0 || dy >= target_->height())
            continue;
        const bool sourceRow = sy >= 0 && sy < from.height();
        if (CopyMode != cmBlackness && !sourceRow)
            continue;
        QRgb* out = reinterpret_cast<QRgb*>(target_->scanLine(dy));
        const QRgb* in = sourceRow ? reinterpret_cast<const QRgb*>(from.constScanLine(sy)) : nullptr;
        for (int column = 0; column < width; ++column) {
            const int dx = dest.Left + column, sx = sourceRect.Left + column;
            if (dx < 0 || dx >= target_->width())
                continue;
            if (CopyMode == cmBlackness) {
                out[dx] = 0xFF000000u;
                continue;
            }
            if (sx < 0 || sx >= from.width())
                continue;
            if (CopyMode == cmSrcInvert)
                out[dx] = 0xFF000000u | ((out[dx] ^ in[sx]) & 0xFFFFFFu);
            else
                out[dx] = 0xFF000000u | in[sx];
        }
    }
}

void TCanvas::Draw(int x, int y, const TBitmap& bitmap)
{
    TCanvas source(const_cast<QImage*>(&bitmap.Image()));
    CopyRect(Rect(x, y, x + bitmap.Width(), y + bitmap.Height()), source, Rect(0, 0, bitmap.Width(), bitmap.Height()));
}
