// TCanvas: drawing on a 32-bit image with the classic GDI pixel model, unantialiased.
//
// - A filled rectangle (l, t, r, b) covers x in [l, r) and y in [t, b); an inverted side r < l
//   covers [r + 1, l + 1).
// - An ellipse in (l, t, r, b) covers the box l..r-1 by t..b-1; the 1-pixel pen draws the
//   outermost pixel of each row and column, the brush fills the rest.
// - A pie is the piece of that ellipse swept counter-clockwise (on screen) from the radial through
//   its first point to the radial through its second; equal directions give the whole ellipse.
// - A line from A to B draws A and not B and leaves the current position at B.
// - Block transfers know BLACKNESS, SRCCOPY and SRCINVERT.
// - Clipped text writes only glyph pixels; the clip rectangle's right and bottom edges are exclusive.
// Ellipses, pies and lines pick their pixels as the Windows GDI does (as Wine implements it), so
// shapes drawn here equal those drawn there pixel for pixel.
#pragma once

#include "Colors.h"

#include <QFont>
#include <QImage>
#include <cstdint>
#include <string>

struct TPoint {
    int X = 0;
    int Y = 0;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

inline TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

enum TBrushStyle : std::uint8_t { bsSolid, bsClear };

enum TPenStyle : std::uint8_t { psSolid, psClear };

struct TPen {
    TColor Color = clBlack;
    TPenStyle Style = psSolid; // clear: shapes get only their brush, lines draw nothing
    int Width = 1; // every width draws one pixel wide: nothing here needs more
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

// A font as the window descriptions give it: a face name, a height (negative: the character height
// in pixels without the internal leading; positive: the cell height) and a colour.
class TFont {
public:
    TFont() = default;
    TFont(const std::string& name, int height, TColor color = clWindowText);

    std::string Name = "MS Sans Serif";
    int Height = -11;
    TColor Color = clWindowText;
    bool Bold = false;

    QFont ToQFont() const;
    static TFont FromQFont(const QFont& font, TColor color = clWindowText);
};

// The raster operations a block transfer knows (values as the Windows ROP codes).
enum TCopyMode : std::uint32_t {
    cmBlackness = 0x00000042,
    cmSrcCopy = 0x00CC0020,
    cmSrcInvert = 0x00660046,
};

class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(QImage* target) : target_(target) {}

    void SetTarget(QImage* target) { target_ = target; }

    TPen Pen;
    TBrush Brush;
    TFont Font;
    TCopyMode CopyMode = cmSrcCopy;

    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    // Fills [l, r) x [t, b) with the brush; an inverted side r < l fills [r + 1, l + 1), as GDI does.
    void FillRect(const TRect& rect);
    void Ellipse(int left, int top, int right, int bottom);
    void Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);

    TPoint PenPos() const { return penPos_; }
    void MoveTo(int x, int y) { penPos_ = {x, y}; }
    void LineTo(int x, int y);

    int TextWidth(const std::string& text) const;
    int TextHeight(const std::string& text) const;
    void TextOut(int x, int y, const std::string& text);
    // Text whose cell's top-left corner is (x, y), clipped to the rectangle. With a clear brush only
    // the glyph pixels change; with a solid brush the rectangle is filled first.
    void TextRect(const TRect& clip, int x, int y, const std::string& text);

    // Block transfer of the source rectangle onto the destination rectangle with CopyMode.
    // Sizes are not stretched: the smaller of the two sizes is transferred.
    void CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect);
    // Transfers the whole 32-bit picture (a bitmap's Image()) with its top-left corner at (x, y),
    // with CopyMode.
    void Draw(int x, int y, const QImage& picture);

private:
    bool Contains(int x, int y) const;
    TRect Bounds() const;
    void PutPixel(int x, int y, QRgb rgb);
    // Fills [left, right) of row y, clipped to the image.
    void FillSpan(int y, std::int64_t left, std::int64_t right, QRgb rgb);
    // A box with the pen on its border and the brush inside.
    void Frame(const TRect& box);
    void DrawGlyphs(const TRect& clip, int x, int y, const std::string& text);

    QImage* target_ = nullptr;
    TPoint penPos_;
};

// Resolves a system colour (high byte 0x80) to its value in the classic scheme; plain colours pass.
TColor ColorToRGB(TColor color);
