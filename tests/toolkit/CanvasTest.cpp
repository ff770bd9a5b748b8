#include "Graphics.h"

#include <QFont>
#include <climits>
#include <gtest/gtest.h>

namespace {

constexpr TColor kPen = clRed;
constexpr TColor kBrush = clBlue;

TBitmap Blank(int width, int height, TColor color = clWhite)
{
    TBitmap bitmap(width, height);
    bitmap.Canvas().Brush.Color = color;
    bitmap.Canvas().FillRect(Rect(0, 0, width, height));
    return bitmap;
}

void UseColors(TCanvas& canvas, TColor pen, TColor brush)
{
    canvas.Pen.Color = pen;
    canvas.Brush.Color = brush;
    canvas.Brush.Style = bsSolid;
}

// The bounding box of the pixels that differ from the background.
TRect Painted(TBitmap& bitmap, TColor background)
{
    TRect box{bitmap.Width(), bitmap.Height(), -1, -1};
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.Canvas().Pixel(x, y) != background) {
                box.Left = std::min(box.Left, x);
                box.Top = std::min(box.Top, y);
                box.Right = std::max(box.Right, x + 1);
                box.Bottom = std::max(box.Bottom, y + 1);
            }
    return box;
}

void ExpectBox(const TRect& actual, const TRect& expected)
{
    EXPECT_EQ(actual.Left, expected.Left);
    EXPECT_EQ(actual.Top, expected.Top);
    EXPECT_EQ(actual.Right, expected.Right);
    EXPECT_EQ(actual.Bottom, expected.Bottom);
}

} // namespace

TEST(CanvasTest, EllipseCoversItsBoxWithTheOutlineOutermost)
{
    TBitmap bitmap = Blank(30, 20);
    TCanvas& canvas = bitmap.Canvas();
    UseColors(canvas, kPen, kBrush);
    canvas.Ellipse(3, 2, 23, 14);
    ExpectBox(Painted(bitmap, clWhite), Rect(3, 2, 23, 14));

    // The outermost pixel of every row and every column is the pen's; the middle is the brush's.
    for (int y = 2; y < 14; ++y) {
        int x = 0;
        while (canvas.Pixel(x, y) == clWhite)
            ++x;
        EXPECT_EQ(canvas.Pixel(x, y), kPen) << "row " << y;
        x = 29;
        while (canvas.Pixel(x, y) == clWhite)
            --x;
        EXPECT_EQ(canvas.Pixel(x, y), kPen) << "row " << y;
    }
    for (int x = 3; x < 23; ++x) {
        int y = 0;
        while (canvas.Pixel(x, y) == clWhite)
            ++y;
        EXPECT_EQ(canvas.Pixel(x, y), kPen) << "column " << x;
        y = 19;
        while (canvas.Pixel(x, y) == clWhite)
            --y;
        EXPECT_EQ(canvas.Pixel(x, y), kPen) << "column " << x;
    }
    EXPECT_EQ(canvas.Pixel(13, 8), kBrush);
    EXPECT_EQ(canvas.Pixel(3, 2), clWhite); // the corners lie outside
    EXPECT_EQ(canvas.Pixel(22, 13), clWhite);
    // The picture is symmetric about the box centre.
    for (int y = 2; y < 14; ++y)
        for (int x = 3; x < 23; ++x)
            ASSERT_EQ(canvas.Pixel(x, y), canvas.Pixel(25 - x, 15 - y)) << x << "," << y;
}

TEST(CanvasTest, EllipseWithClearBrushDrawsOnlyTheOutline)
{
    TBitmap bitmap = Blank(20, 20);
    TCanvas& canvas = bitmap.Canvas();
    UseColors(canvas, kPen, kBrush);
    canvas.Brush.Style = bsClear;
    canvas.Ellipse(0, 0, 20, 20);
    EXPECT_EQ(canvas.Pixel(10, 10), clWhite);
    EXPECT_EQ(canvas.Pixel(10, 0), kPen);
    EXPECT_EQ(canvas.Pixel(0, 10), kPen);
    EXPECT_EQ(canvas.Pixel(19, 10), kPen);
}

TEST(CanvasTest, PieSweepsCounterClockwiseFromTheFirstRadial)
{
    // From three to twelve o'clock: only the upper right quarter.
    TBitmap quarter = Blank(100, 100);
    UseColors(quarter.Canvas(), kPen, kPen);
    quarter.Canvas().Pie(0, 0, 100, 100, 100, 50, 50, 0);
    EXPECT_EQ(quarter.Canvas().Pixel(75, 25), kPen);
    EXPECT_EQ(quarter.Canvas().Pixel(25, 25), clWhite);
    EXPECT_EQ(quarter.Canvas().Pixel(25, 75), clWhite);
    EXPECT_EQ(quarter.Canvas().Pixel(75, 75), clWhite);

    // From twelve to three o'clock: the other three quarters.
    TBitmap rest = Blank(100, 100);
    UseColors(rest.Canvas(), kPen, kPen);
    rest.Canvas().Pie(0, 0, 100, 100, 50, 0, 100, 50);
    EXPECT_EQ(rest.Canvas().Pixel(75, 25), clWhite);
    EXPECT_EQ(rest.Canvas().Pixel(25, 25), kPen);
    EXPECT_EQ(rest.Canvas().Pixel(25, 75), kPen);
    EXPECT_EQ(rest.Canvas().Pixel(75, 75), kPen);
}

TEST(CanvasTest, PieDependsOnlyOnDirectionsAndEqualOnesGiveTheWholeEllipse)
{
    TBitmap near = Blank(60, 40), far = Blank(60, 40);
    UseColors(near.Canvas(), kPen, kBrush);
    UseColors(far.Canvas(), kPen, kBrush);
    near.Canvas().Pie(0, 0, 60, 40, 60, 20, 0, 0);
    far.Canvas().Pie(0, 0, 60, 40, 600, 20, -300, -200);
    EXPECT_EQ(near.Image(), far.Image());

    TBitmap whole = Blank(60, 40), ellipse = Blank(60, 40);
    UseColors(whole.Canvas(), kPen, kPen);
    UseColors(ellipse.Canvas(), kPen, kPen);
    whole.Canvas().Pie(0, 0, 60, 40, 30, 0, 30, -50);
    ellipse.Canvas().Ellipse(0, 0, 60, 40);
    EXPECT_EQ(whole.Image(), ellipse.Image());
}

TEST(CanvasTest, LineLeavesItsEndPointOutAndMovesThePen)
{
    TBitmap bitmap = Blank(10, 10);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Pen.Color = kPen;
    canvas.MoveTo(1, 1);
    canvas.LineTo(5, 1);
    ExpectBox(Painted(bitmap, clWhite), Rect(1, 1, 5, 2));
    EXPECT_EQ(canvas.PenPos().X, 5);
    EXPECT_EQ(canvas.PenPos().Y, 1);

    canvas.LineTo(5, 5); // continues from the current position; (5, 1) is drawn now
    EXPECT_EQ(canvas.Pixel(5, 1), kPen);
    EXPECT_EQ(canvas.Pixel(5, 4), kPen);
    EXPECT_EQ(canvas.Pixel(5, 5), clWhite);

    TBitmap diagonal = Blank(10, 10);
    diagonal.Canvas().Pen.Color = kPen;
    diagonal.Canvas().MoveTo(0, 8);
    diagonal.Canvas().LineTo(8, 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(diagonal.Canvas().Pixel(i, 8 - i), kPen);
    EXPECT_EQ(diagonal.Canvas().Pixel(8, 0), clWhite);
}

TEST(CanvasTest, BlockTransfersBlacknessCopyAndExclusiveOr)
{
    TBitmap picture = Blank(8, 8, 0x123456);
    picture.Canvas().Brush.Color = 0xA0B0C0;
    picture.Canvas().FillRect(Rect(0, 0, 4, 8));
    const QImage original = picture.Image().copy();

    TBitmap overlay = Blank(8, 8, 0x0F0F0F);
    overlay.Canvas().SetPixel(3, 3, clWhite);
    picture.Canvas().CopyMode = cmSrcInvert;
    picture.Canvas().Draw(0, 0, overlay.Image());
    EXPECT_EQ(picture.Canvas().Pixel(0, 0), TColor(0xA0B0C0 ^ 0x0F0F0F));
    EXPECT_EQ(picture.Canvas().Pixel(3, 3), TColor(0xA0B0C0 ^ 0xFFFFFF));
    EXPECT_EQ(picture.Canvas().Pixel(7, 7), TColor(0x123456 ^ 0x0F0F0F));
    picture.Canvas().Draw(0, 0, overlay.Image()); // the same transfer again undoes it
    EXPECT_EQ(picture.Image(), original);

    picture.Canvas().CopyMode = cmBlackness;
    picture.Canvas().CopyRect(Rect(2, 2, 4, 4), picture.Canvas(), Rect(2, 2, 4, 4));
    EXPECT_EQ(picture.Canvas().Pixel(2, 2), clBlack);
    EXPECT_EQ(picture.Canvas().Pixel(3, 3), clBlack);
    EXPECT_EQ(picture.Canvas().Pixel(4, 4), TColor(0x123456));
    EXPECT_EQ(picture.Canvas().Pixel(1, 1), TColor(0xA0B0C0));

    // A copy within one image reads the pixels as they were before the transfer.
    picture.Canvas().CopyMode = cmSrcCopy;
    picture.Canvas().CopyRect(Rect(1, 0, 8, 8), picture.Canvas(), Rect(0, 0, 7, 8));
    EXPECT_EQ(picture.Canvas().Pixel(4, 0), TColor(0xA0B0C0));
    EXPECT_EQ(picture.Canvas().Pixel(5, 0), TColor(0x123456));
}

TEST(CanvasTest, TransparentTextWritesOnlyGlyphPixelsInsideTheClip)
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    TBitmap bitmap = Blank(60, 30, kBrush);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Style = bsClear;
    canvas.Font = TFont("MS Sans Serif", -16, clWhite);
    ASSERT_GT(canvas.TextWidth("MMMM"), 20);
    canvas.TextRect(Rect(2, 2, 12, 30), 2, 2, "MMMM");

    int glyphPixels = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x) {
            const TColor pixel = canvas.Pixel(x, y);
            ASSERT_TRUE(pixel == kBrush || pixel == clWhite) << x << "," << y; // no blended edges
            if (pixel == clWhite) {
                ++glyphPixels;
                EXPECT_TRUE(x >= 2 && x < 12 && y >= 2) << x << "," << y;
            }
        }
    EXPECT_GT(glyphPixels, 10);
    bool column11 = false;
    for (int y = 0; y < 30; ++y)
        column11 = column11 || canvas.Pixel(11, y) == clWhite;
    EXPECT_TRUE(column11); // the clip's last column is still drawn
}

TEST(CanvasTest, BitmapKeepsSharedPixelsOnResizeAndCopiesDrawApart)
{
    TBitmap bitmap = Blank(4, 4, kBrush);
    bitmap.SetSize(6, 3);
    EXPECT_EQ(bitmap.Width(), 6);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.Canvas().Pixel(3, 2), kBrush);
    EXPECT_EQ(bitmap.Canvas().Pixel(4, 0), clBlack);

    TBitmap copy = bitmap;
    copy.Canvas().SetPixel(0, 0, kPen);
    EXPECT_EQ(copy.Canvas().Pixel(0, 0), kPen);
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), kBrush);
}

TEST(CanvasTest, SystemColorsResolveToTheClassicScheme)
{
    EXPECT_EQ(ColorToRGB(0x80000006), clBlack);   // window frame
    EXPECT_EQ(ColorToRGB(0x8000000F), clBtnFace); // button face
    EXPECT_EQ(ColorToRGB(0x00123456), TColor(0x123456));
    TBitmap bitmap = Blank(2, 2);
    bitmap.Canvas().Brush.Color = 0x8000000F;
    bitmap.Canvas().FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), clBtnFace);
}

TEST(CanvasTest, ExtremeCoordinatesNeitherOverflowNorHang)
{
    TBitmap bitmap = Blank(10, 10);
    TCanvas& canvas = bitmap.Canvas();
    UseColors(canvas, kPen, kBrush);
    canvas.Ellipse(INT_MIN, INT_MIN, INT_MAX, INT_MAX); // too large to draw: nothing
    canvas.Pie(INT_MAX, INT_MAX, INT_MIN, INT_MIN, 0, 0, INT_MAX, INT_MIN);
    ExpectBox(Painted(bitmap, clWhite), Rect(10, 10, -1, -1));

    canvas.MoveTo(INT_MIN, 5);
    canvas.LineTo(INT_MAX, 5); // crosses the bitmap: only the pixels inside are stepped
    ExpectBox(Painted(bitmap, clWhite), Rect(0, 5, 10, 6));

    canvas.FillRect(Rect(INT_MAX, 0, INT_MIN, 2)); // inverted across the whole range
    EXPECT_EQ(canvas.Pixel(0, 0), kBrush);
    EXPECT_EQ(canvas.Pixel(9, 1), kBrush);
}
