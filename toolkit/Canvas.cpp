#include "Canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

namespace {

__extension__ typedef __int128 Wide; // exact error terms of large ellipses

// Shapes larger than this are not drawn: their outlines would take more memory than any screen
// justifies.
constexpr int kMaxShapeExtent = 1 << 16;

QRgb ToRgb(TColor color)
{
    const TColor plain = ColorToRGB(color);
    return 0xFF000000u | ((plain & 0xFF) << 16) | (plain & 0xFF00) | ((plain >> 16) & 0xFF);
}

TColor FromRgb(QRgb rgb)
{
    return TColor(qRed(rgb)) | (TColor(qGreen(rgb)) << 8) | (TColor(qBlue(rgb)) << 16);
}

using Points = std::vector<TPoint>;

// A box with its corners put in order, as GDI takes the boxes of ellipses and pies.
TRect Ordered(int left, int top, int right, int bottom)
{
    return TRect{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
}

Wide FloorDiv(Wide numerator, Wide denominator) // denominator > 0
{
    const Wide quotient = numerator / denominator;
    return quotient - ((numerator % denominator) < 0 ? 1 : 0);
}

constexpr TRect kEverywhere{INT_MIN, INT_MIN, INT_MAX, INT_MAX};

// The pixels of the line from one point to another, the end point left out. Each step along the
// longer axis takes the pixel nearest the true line; a tie steps along the shorter axis only in the
// octants where GDI does (lines running left and up, left and steeply down, right and gently up).
// Steps whose pixel lies outside the clip along the longer axis are skipped, so a far-off end point
// costs nothing.
template <typename Plot>
void RasterLine(TPoint from, TPoint to, const TRect& clip, Plot plot)
{
    const Wide dx = Wide(to.X) - from.X, dy = Wide(to.Y) - from.Y;
    const Wide adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const bool xMajor = adx > ady;
    const Wide major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
    const int stepX = dx < 0 ? -1 : 1, stepY = dy < 0 ? -1 : 1;
    const bool tieSteps = dy > 0 ? (dx < 0 && !xMajor) : (dx < 0 || xMajor);
    const int origin = xMajor ? from.X : from.Y, step = xMajor ? stepX : stepY;
    const Wide low = xMajor ? clip.Left : clip.Top, high = Wide(xMajor ? clip.Right : clip.Bottom) - 1;
    const Wide first = std::max<Wide>(0, step > 0 ? low - origin : origin - high);
    const Wide last = std::min<Wide>(major - 1, step > 0 ? high - origin : origin - low);
    for (Wide k = first; k <= last; ++k) {
        // The whole steps across after k steps along: k * minor / major rounded, ties as above.
        const Wide across = tieSteps ? FloorDiv(2 * k * minor + major, 2 * major)
                                     : -FloorDiv(major - 2 * k * minor, 2 * major);
        const Wide x = from.X + (xMajor ? k : across) * stepX, y = from.Y + (xMajor ? across : k) * stepY;
        plot(int(x), int(y));
    }
}

// Lines from each point to the next and from the last back to the first.
template <typename Plot>
void RasterClosedPolyline(const Points& points, const TRect& clip, Plot plot)
{
    for (std::size_t i = 0; i < points.size(); ++i)
        RasterLine(points[i], points[(i + 1) % points.size()], clip, plot);
}

// The pixels inside a polygon, row by row as spans [x0, x1): a pixel belongs when its top-left
// corner lies inside, edges on the left and top included, on the right and bottom not (winding
// rule). Only the rows [clipTop, clipBottom) are visited.
template <typename Span>
void FillPolygon(const Points& points, int clipTop, int clipBottom, Span span)
{
    int top = INT_MAX, bottom = INT_MIN;
    for (const TPoint& p : points)
        top = std::min(top, p.Y), bottom = std::max(bottom, p.Y);
    top = std::max(top, clipTop), bottom = std::min(bottom, clipBottom);
    if (points.size() < 3 || top >= bottom)
        return;
    struct Crossing {
        std::int64_t x;
        int winding;
    };
    std::vector<std::vector<Crossing>> rows(std::size_t(bottom - top));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TPoint a = points[i], b = points[(i + 1) % points.size()];
        const std::int64_t height = std::int64_t(b.Y) - a.Y;
        for (int y = std::max(std::min(a.Y, b.Y), top); y < std::min(std::max(a.Y, b.Y), bottom); ++y) {
            // The first pixel at or right of the edge: the ceiling of its exact x on this row.
            const Wide run = Wide(std::int64_t(b.X) - a.X) * (y - a.Y);
            const std::int64_t ceiling = std::int64_t(height > 0 ? -FloorDiv(-run, height) : -FloorDiv(run, -height));
            rows[std::size_t(y - top)].push_back({a.X + ceiling, height > 0 ? 1 : -1});
        }
    }
    for (std::size_t row = 0; row < rows.size(); ++row) {
        std::vector<Crossing>& crossings = rows[row];
        std::sort(crossings.begin(), crossings.end(), [](const Crossing& l, const Crossing& r) { return l.x < r.x; });
        int winding = 0;
        for (std::size_t i = 0; i + 1 < crossings.size(); ++i) {
            winding += crossings[i].winding;
            if (winding != 0 && crossings[i].x < crossings[i + 1].x)
                span(top + int(row), crossings[i].x, crossings[i + 1].x);
        }
    }
}

// The outline of the ellipse inscribed in a box, as GDI steps it: one quarter is computed with
// integer error terms, the other three are its mirror images. Positions count counter-clockwise
// on the screen from three o'clock, a quarter of them per quadrant.
class EllipseOutline {
public:
    explicit EllipseOutline(const TRect& box) : box_(box)
    {
        const int width = box.Right - box.Left, height = box.Bottom - box.Top;
        // Zingl's midpoint stepping from the right end of the middle row down to the bottom row.
        const Wide a = width - 1, b = height - 1;
        const Wide aStep = 8 * a * a, bStep = 8 * b * b;
        Wide dx = 4 * b * b * (1 - a), dy = 4 * a * a * (1 + b % 2);
        Wide err = dx + dy + a * a * (b % 2);
        TPoint p{width - 1, height / 2};
        while (p.X >= width / 2) {
            const Wide twice = 2 * err;
            quarter_.push_back({p.X - width / 2, p.Y - height / 2});
            if (twice >= dx) {
                --p.X;
                dx += bStep;
                err += dx;
            }
            if (twice <= dy) {
                ++p.Y;
                dy += aStep;
                err += dy;
            }
        }
    }

    int Count() const { return 4 * int(quarter_.size()); }

    TPoint Centre() const { return {box_.Left + Width() / 2, box_.Top + Height() / 2}; }

    TPoint At(int position) const
    {
        const int n = int(quarter_.size());
        const int quadrant = (position / n) % 4, i = position % n;
        const TPoint p = quarter_[std::size_t((quadrant % 2 == 0) ? i : n - 1 - i)];
        const int right = box_.Left + Width() / 2 + p.X, left = box_.Left + Width() - 1 - Width() / 2 - p.X;
        const int lower = box_.Top + Height() / 2 + p.Y, upper = box_.Top + Height() - 1 - Height() / 2 - p.Y;
        switch (quadrant) {
        case 0: return {right, upper};
        case 1: return {left, upper};
        case 2: return {left, lower};
        default: return {right, lower};
        }
    }

    // The first position, counter-clockwise from three o'clock, at or past the direction from the
    // centre to the point (x, y). The comparisons use the quarter's own offsets, as GDI does.
    int PositionOf(int x, int y) const
    {
        const Wide dx = Wide(x) - Centre().X, dy = Wide(Centre().Y) - y; // y up from here on
        const int n = int(quarter_.size());
        auto first = [&](auto past) {
            int i = 0;
            while (i < n && !past(Wide(quarter_[std::size_t(i)].X), Wide(quarter_[std::size_t(i)].Y)))
                ++i;
            return i;
        };
        if (dy >= 0) {
            if (dx >= 0)
                return first([&](Wide px, Wide py) { return px * dy <= py * dx; });
            return 2 * n - first([&](Wide px, Wide py) { return px * dy < py * -dx; });
        }
        // This may give 4n, one full turn: a pie from there to position 0 has no arc at all.
        if (dx >= 0)
            return 4 * n - first([&](Wide px, Wide py) { return px * -dy <= py * dx; });
        return 2 * n + first([&](Wide px, Wide py) { return px * -dy < py * -dx; });
    }

private:
    int Width() const { return box_.Right - box_.Left; }
    int Height() const { return box_.Bottom - box_.Top; }

    TRect box_;
    Points quarter_; // offsets from the centre, x falling and y rising
};

bool Drawable(const TRect& box)
{
    const std::int64_t width = std::int64_t(box.Right) - box.Left, height = std::int64_t(box.Bottom) - box.Top;
    return width > 0 && height > 0 && width <= kMaxShapeExtent && height <= kMaxShapeExtent;
}

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

TRect TCanvas::Bounds() const
{
    return target_ != nullptr ? TRect{0, 0, target_->width(), target_->height()} : TRect{};
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

// An inverted side is taken from the other end, as GDI fills it: from right + 1 up to left + 1.
void TCanvas::FillRect(const TRect& rect)
{
    if (target_ == nullptr)
        return;
    auto side = [](std::int64_t from, std::int64_t to) { return to < from ? std::pair{to + 1, from + 1} : std::pair{from, to}; };
    const auto [left, right] = side(rect.Left, rect.Right);
    const auto [top, bottom] = side(rect.Top, rect.Bottom);
    const QRgb rgb = ToRgb(Brush.Color);
    for (std::int64_t y = std::max<std::int64_t>(top, 0); y < std::min<std::int64_t>(bottom, target_->height()); ++y)
        FillSpan(int(y), left, right, rgb);
}

void TCanvas::FillSpan(int y, std::int64_t left, std::int64_t right, QRgb rgb)
{
    if (y < 0 || y >= target_->height())
        return;
    left = std::max<std::int64_t>(left, 0);
    right = std::min<std::int64_t>(right, target_->width());
    QRgb* row = reinterpret_cast<QRgb*>(target_->scanLine(y));
    if (left < right)
        std::fill(row + left, row + right, rgb);
}

void TCanvas::Frame(const TRect& box)
{
    const bool pen = Pen.Style == psSolid;
    if (Brush.Style == bsSolid) {
        // Without a pen the brush fills the box less its right column and bottom row.
        const int inset = pen ? 1 : 0;
        for (int y = box.Top + inset; y < box.Bottom - 1; ++y)
            FillSpan(y, box.Left + inset, box.Right - 1, ToRgb(Brush.Color));
    }
    if (!pen)
        return;
    const QRgb rgb = ToRgb(Pen.Color);
    const Points corners{{box.Left, box.Top}, {box.Right - 1, box.Top}, {box.Right - 1, box.Bottom - 1}, {box.Left, box.Bottom - 1}};
    RasterClosedPolyline(corners, Bounds(), [&](int x, int y) { PutPixel(x, y, rgb); });
}

void TCanvas::Ellipse(int left, int top, int right, int bottom)
{
    const TRect box = Ordered(left, top, right, bottom);
    if (target_ == nullptr || !Drawable(box))
        return;
    // GDI draws an ellipse no more than two pixels across as a rectangle.
    if (box.Right - box.Left <= 2 || box.Bottom - box.Top <= 2) {
        Frame(box);
        return;
    }
    const EllipseOutline outline(box);
    Points corners;
    for (int position = 0; position < outline.Count(); ++position)
        corners.push_back(outline.At(position));
    Points pen;
    RasterClosedPolyline(corners, kEverywhere, [&](int x, int y) { pen.push_back({x, y}); });
    if (Brush.Style == bsSolid) {
        // The brush fills each row between its outermost outline pixels.
        std::vector<std::pair<int, int>> rows(std::size_t(box.Bottom - box.Top), {box.Right, box.Left - 1});
        for (const TPoint& p : pen) {
            auto& [first, last] = rows[std::size_t(p.Y - box.Top)];
            first = std::min(first, p.X), last = std::max(last, p.X);
        }
        const QRgb brush = ToRgb(Brush.Color);
        for (std::size_t i = 0; i < rows.size(); ++i)
            FillSpan(box.Top + int(i), rows[i].first, rows[i].second + std::int64_t(1), brush);
    }
    if (Pen.Style == psClear)
        return;
    const QRgb rgb = ToRgb(Pen.Color);
    for (const TPoint& p : pen)
        PutPixel(p.X, p.Y, rgb);
}

void TCanvas::Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2)
{
    const TRect box = Ordered(left, top, right, bottom);
    if (target_ == nullptr || !Drawable(box))
        return;
    const EllipseOutline outline(box);
    const int start = outline.PositionOf(x1, y1);
    int end = outline.PositionOf(x2, y2);
    if (end <= start)
        end += outline.Count(); // equal directions: the whole ellipse
    Points corners;
    for (int position = start; position < end; ++position)
        corners.push_back(outline.At(position));
    corners.push_back(outline.Centre());
    // The brush fills the polygon of the arc and the centre; the pen outlines it.
    if (Brush.Style == bsSolid) {
        const QRgb brush = ToRgb(Brush.Color);
        FillPolygon(corners, 0, target_->height(), [&](int y, std::int64_t x0, std::int64_t x1) { FillSpan(y, x0, x1, brush); });
    }
    if (Pen.Style == psClear)
        return;
    const QRgb pen = ToRgb(Pen.Color);
    RasterClosedPolyline(corners, Bounds(), [&](int x, int y) { PutPixel(x, y, pen); });
}

void TCanvas::LineTo(int x, int y)
{
    const QRgb pen = ToRgb(Pen.Color);
    if (Pen.Style == psSolid)
        RasterLine(penPos_, TPoint{x, y}, Bounds(), [&](int px, int py) { PutPixel(px, py, pen); });
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
    // A shallow copy keeps the source as it was when it is this very image. BLACKNESS reads no
    // source, and taking one would make the first write copy the whole image.
    const QImage from = (source.target_ != nullptr && CopyMode != cmBlackness) ? *source.target_ : QImage();
    const int targetWidth = target_->width(), targetHeight = target_->height();
    for (int row = 0; row < height; ++row) {
        const int dy = dest.Top + row, sy = sourceRect.Top + row;
        if (dy < 0 || dy >= targetHeight)
            continue;
        const bool sourceRow = sy >= 0 && sy < from.height();
        if (CopyMode != cmBlackness && !sourceRow)
            continue;
        QRgb* out = reinterpret_cast<QRgb*>(target_->scanLine(dy));
        const QRgb* in = sourceRow ? reinterpret_cast<const QRgb*>(from.constScanLine(sy)) : nullptr;
        for (int column = 0; column < width; ++column) {
            const int dx = dest.Left + column, sx = sourceRect.Left + column;
            if (dx < 0 || dx >= targetWidth)
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

void TCanvas::Draw(int x, int y, const QImage& picture)
{
    TCanvas source(const_cast<QImage*>(&picture));
    CopyRect(Rect(x, y, x + picture.width(), y + picture.height()), source, Rect(0, 0, picture.width(), picture.height()));
}
