#include "Gauges.h"

#include "SysUtils.h"

#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>

namespace {

constexpr TColor kFore = clRed;
constexpr TColor kBack = clWhite;

// Counts the paints that reach the screen.
class CountingGauge : public TGauge {
public:
    int Paints = 0;

protected:
    void Paint() override
    {
        ++Paints;
        TGauge::Paint();
    }
};

// A 100 × 100 gauge of the given kind in red on white, without the text unless asked.
void Configure(TGauge& gauge, TGaugeKind kind, int percent, TGaugeBorderStyle border = TGaugeBorderStyle::bsSingle)
{
    gauge.SetKind(kind);
    gauge.SetForeColor(kFore);
    gauge.SetBackColor(kBack);
    gauge.SetShowText(false);
    gauge.SetBorderStyle(border);
    gauge.SetProgress(percent);
}

// Every pixel of the rectangle has the colour.
::testing::AssertionResult Filled(TBitmap& picture, const TRect& rect, TColor color)
{
    for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x)
            if (picture.Canvas().Pixel(x, y) != color)
                return ::testing::AssertionFailure()
                    << "pixel " << x << "," << y << " is " << std::hex << picture.Canvas().Pixel(x, y);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult FrameIsBlack(TBitmap& picture)
{
    const int w = picture.Width(), h = picture.Height();
    for (const TRect& edge : {Rect(0, 0, w, 1), Rect(0, h - 1, w, h), Rect(0, 0, 1, h), Rect(w - 1, 0, w, h)}) {
        auto result = Filled(picture, edge, clBlack);
        if (!result)
            return result;
    }
    return ::testing::AssertionSuccess();
}

std::string BoundsError(TGauge& gauge, bool minimum, int value)
{
    try {
        if (minimum)
            gauge.SetMinValue(value);
        else
            gauge.SetMaxValue(value);
    } catch (const EInvalidOperation& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST(GaugeTest, NewGaugeShowsZeroPercentAsAFramedBlackOnWhiteBar)
{
    TGauge gauge;
    EXPECT_EQ(gauge.MinValue(), 0);
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.Kind(), gkHorizontalBar);
    EXPECT_TRUE(gauge.ShowText());
    EXPECT_EQ(gauge.BorderStyle(), TGaugeBorderStyle::bsSingle);
    EXPECT_EQ(gauge.ForeColor(), clBlack);
    EXPECT_EQ(gauge.BackColor(), clWhite);
    EXPECT_EQ(gauge.width(), 100);
    EXPECT_EQ(gauge.height(), 100);
    EXPECT_EQ(gauge.PercentComplete(), 0);
}

TEST(GaugeTest, ProgressIsClampedAndThePercentageTruncated)
{
    TGauge gauge;
    gauge.SetProgress(150);
    EXPECT_EQ(gauge.Progress(), 100);
    EXPECT_EQ(gauge.PercentComplete(), 100);
    gauge.SetProgress(-5);
    EXPECT_EQ(gauge.Progress(), 0);

    gauge.SetMaxValue(3);
    gauge.SetProgress(1);
    EXPECT_EQ(gauge.PercentComplete(), 33);
    gauge.SetProgress(2);
    EXPECT_EQ(gauge.PercentComplete(), 66);

    // The widest range does not overflow.
    gauge.SetMinValue(-2147483647 - 1);
    gauge.SetMaxValue(2147483647);
    gauge.SetProgress(0);
    EXPECT_EQ(gauge.PercentComplete(), 50);
}

TEST(GaugeTest, RepaintsAtOnceOnlyWhenThePictureChanges)
{
    CountingGauge gauge;
    gauge.show();
    QApplication::processEvents();
    gauge.SetMaxValue(1000);
    gauge.SetProgress(400);
    const int afterFirst = gauge.Paints;
    EXPECT_GT(afterFirst, 0); // painted before the write returned

    gauge.SetProgress(401); // still 40 %
    EXPECT_EQ(gauge.Progress(), 401);
    EXPECT_EQ(gauge.Paints, afterFirst);
    gauge.SetProgress(401);
    EXPECT_EQ(gauge.Paints, afterFirst);
    gauge.SetProgress(410);
    EXPECT_EQ(gauge.Paints, afterFirst + 1);

    gauge.SetKind(gkHorizontalBar); // unchanged
    gauge.SetForeColor(clBlack);
    EXPECT_EQ(gauge.Paints, afterFirst + 1);
    gauge.SetKind(gkPie);
    gauge.SetShowText(false);
    gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
    gauge.SetForeColor(clBlue);
    gauge.SetBackColor(clRed);
    EXPECT_EQ(gauge.Paints, afterFirst + 6);

    gauge.hide();
    gauge.SetProgress(900);
    EXPECT_EQ(gauge.Paints, afterFirst + 6); // a hidden gauge is not painted
}

TEST(GaugeTest, BoundsOutOfOrderAreRefusedAndChangeNothing)
{
    TGauge gauge;
    gauge.SetProgress(40);
    EXPECT_EQ(BoundsError(gauge, true, 150), "Wert muß zwischen -2147483647 und 99 liegen");
    EXPECT_EQ(gauge.MinValue(), 0);
    EXPECT_EQ(gauge.Progress(), 40);
    EXPECT_EQ(BoundsError(gauge, false, -1), "Wert muß zwischen 1 und 2147483647 liegen");
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 40);

    gauge.SetMinValue(100); // equal bounds are allowed
    EXPECT_EQ(gauge.Progress(), 100);
    EXPECT_EQ(gauge.PercentComplete(), 0);
}

TEST(GaugeTest, BoundsPullProgressAlongAndGoUncheckedWhileLoading)
{
    TGauge gauge;
    gauge.SetProgress(50);
    gauge.SetMinValue(70);
    EXPECT_EQ(gauge.Progress(), 70);
    gauge.SetMinValue(0);
    gauge.SetMaxValue(30);
    EXPECT_EQ(gauge.Progress(), 30);

    TGauge loaded;
    loaded.SetLoading(true);
    loaded.SetMinValue(200); // the description lists the minimum before the maximum
    loaded.SetMaxValue(300);
    loaded.SetLoading(false);
    EXPECT_EQ(loaded.MinValue(), 200);
    EXPECT_EQ(loaded.MaxValue(), 300);
    EXPECT_EQ(loaded.Progress(), 200);
}

TEST(GaugeTest, LengthsScaleWithTheExtendedHundredth)
{
    EXPECT_EQ(ScaledLength(100, 5), 4);
    EXPECT_EQ(ScaledLength(100, 10), 9);
    EXPECT_EQ(ScaledLength(100, 50), 50);
    EXPECT_EQ(ScaledLength(100, 7), 7);
    EXPECT_EQ(ScaledLength(99, 1), 0);
    for (int length : {1, 7, 98, 99, 100, 101, 267, 4096})
        EXPECT_EQ(ScaledLength(length, 100), length) << length;
}

TEST(GaugeTest, HorizontalBarFillsFromTheLeftInsideTheFrame)
{
    TGauge full;
    Configure(full, gkHorizontalBar, 100);
    TBitmap picture = full.Render();
    EXPECT_TRUE(Filled(picture, Rect(1, 1, 99, 99), kFore));
    EXPECT_TRUE(FrameIsBlack(picture));

    TGauge half;
    Configure(half, gkHorizontalBar, 50); // 50 % of 99 is 49: the right edge at column 49
    picture = half.Render();
    EXPECT_TRUE(Filled(picture, Rect(1, 1, 49, 99), kFore));
    EXPECT_TRUE(Filled(picture, Rect(49, 1, 99, 99), kBack));

    TGauge none;
    Configure(none, gkHorizontalBar, 1); // 1 % of 99 scales to nothing
    picture = none.Render();
    EXPECT_TRUE(Filled(picture, Rect(1, 1, 99, 99), kBack));
}

TEST(GaugeTest, VerticalBarAtFullFillsThePaintRectangle)
{
    TGauge gauge;
    Configure(gauge, gkVerticalBar, 100);
    TBitmap picture = gauge.Render();
    EXPECT_TRUE(Filled(picture, Rect(1, 1, 99, 99), kFore));
    EXPECT_TRUE(FrameIsBlack(picture));

    gauge.SetProgress(50); // 50 % of 99 is 49 rows, from the bottom
    picture = gauge.Render();
    EXPECT_TRUE(Filled(picture, Rect(1, 50, 99, 99), kFore));
    EXPECT_TRUE(Filled(picture, Rect(1, 1, 99, 50), kBack));
}

TEST(GaugeTest, PieFillsClockwiseFromTwelve)
{
    TGauge gauge;
    Configure(gauge, gkPie, 25);
    TBitmap picture = gauge.Render();
    EXPECT_EQ(picture.Canvas().Pixel(75, 25), kFore);
    EXPECT_EQ(picture.Canvas().Pixel(25, 25), kBack);
    EXPECT_EQ(picture.Canvas().Pixel(25, 75), kBack);
    EXPECT_EQ(picture.Canvas().Pixel(75, 75), kBack);
    EXPECT_EQ(picture.Canvas().Pixel(3, 3), clBtnFace); // outside the ellipse: the control's colour
    EXPECT_EQ(picture.Canvas().Pixel(50, 1), kFore);    // the outline
    EXPECT_TRUE(FrameIsBlack(picture));

    gauge.SetProgress(100);
    picture = gauge.Render();
    for (const TPoint& p : {TPoint{75, 25}, TPoint{25, 25}, TPoint{25, 75}, TPoint{75, 75}, TPoint{50, 50}})
        EXPECT_EQ(picture.Canvas().Pixel(p.X, p.Y), kFore) << p.X << "," << p.Y;
    EXPECT_EQ(picture.Canvas().Pixel(3, 3), clBtnFace);

    gauge.SetProgress(0);
    picture = gauge.Render();
    EXPECT_EQ(picture.Canvas().Pixel(75, 25), kBack);
}

TEST(GaugeTest, NeedleRisesFromTheMiddleOfTheBase)
{
    TGauge gauge;
    Configure(gauge, gkNeedle, 0);
    TBitmap picture = gauge.Render();
    EXPECT_TRUE(Filled(picture, Rect(50, 10, 51, 97), kBack)); // no needle
    EXPECT_TRUE(Filled(picture, Rect(1, 99, 100, 100), kFore)); // the base on the bottom frame row
    EXPECT_EQ(picture.Canvas().Pixel(0, 99), clBlack);
    EXPECT_EQ(picture.Canvas().Pixel(2, 2), clBtnFace); // a corner outside the dial

    gauge.SetProgress(50);
    picture = gauge.Render();
    EXPECT_TRUE(Filled(picture, Rect(50, 1, 51, 99), kFore)); // straight up from (50, 98)
    EXPECT_TRUE(Filled(picture, Rect(51, 10, 52, 97), kBack));
    EXPECT_TRUE(Filled(picture, Rect(49, 10, 50, 97), kBack));
}

TEST(GaugeTest, WithoutFrameThePictureReachesTheEdges)
{
    TGauge bar;
    Configure(bar, gkHorizontalBar, 100, TGaugeBorderStyle::bsNone);
    TBitmap picture = bar.Render();
    EXPECT_TRUE(Filled(picture, Rect(0, 0, 100, 100), kFore));

    TGauge text;
    Configure(text, gkText, 30, TGaugeBorderStyle::bsNone);
    picture = text.Render();
    EXPECT_TRUE(Filled(picture, Rect(0, 0, 100, 100), kBack));

    TGauge pie;
    Configure(pie, gkPie, 100, TGaugeBorderStyle::bsNone);
    picture = pie.Render();
    EXPECT_EQ(picture.Canvas().Pixel(50, 0), kFore);
    EXPECT_EQ(picture.Canvas().Pixel(0, 50), kFore);
    EXPECT_EQ(picture.Canvas().Pixel(0, 0), clBtnFace);
}

TEST(GaugeTest, TextShowsTheInverseOfWhatLiesBeneath)
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    TGauge gauge;
    gauge.SetFont(TFont("MS Sans Serif", -40));
    Configure(gauge, gkHorizontalBar, 50);
    gauge.SetForeColor(clBlue);
    TBitmap plain = gauge.Render();
    gauge.SetShowText(true);
    TBitmap text = gauge.Render();

    TCanvas measure;
    measure.Font = gauge.Font();
    const int left = (99 - measure.TextWidth("50%")) / 2, top = (99 - measure.TextHeight("50%")) / 2;
    const TRect box = Rect(left, top, left + measure.TextWidth("50%"), top + measure.TextHeight("50%"));
    int overBar = 0, overBack = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const TColor under = plain.Canvas().Pixel(x, y), shown = text.Canvas().Pixel(x, y);
            if (shown == under)
                continue;
            ASSERT_EQ(shown, under ^ 0xFFFFFF) << x << "," << y;
            ASSERT_TRUE(x >= box.Left && x < box.Right && y >= box.Top && y < box.Bottom) << x << "," << y;
            if (under == clBlue)
                ++overBar;
            if (under == clWhite)
                ++overBack;
        }
    EXPECT_GT(overBar, 10);  // yellow over the blue bar
    EXPECT_GT(overBack, 10); // black over the white back
}

TEST(GaugeTest, FontAndColourComeFromTheParent)
{
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, ToQColor(0x123456));
    parent.setPalette(palette);
    QFont font(QStringLiteral("Liberation Mono"));
    font.setPixelSize(17);
    parent.setFont(font);

    TGauge gauge(&parent);
    EXPECT_EQ(gauge.Color(), TColor(0x123456));
    EXPECT_EQ(gauge.Font().Name, "Liberation Mono");
    EXPECT_EQ(gauge.Font().Height, -17);
    gauge.SetColor(clGreen);
    EXPECT_FALSE(gauge.ParentColor());
    EXPECT_EQ(gauge.Color(), clGreen);
}

TEST(GaugeTest, BltBitmapMakeLikeTakesTheSizeInWindowFrameColour)
{
    TBitmap pattern(7, 5);
    TBltBitmap bitmap;
    bitmap.Canvas().SetPixel(0, 0, clWhite);
    bitmap.MakeLike(pattern);
    EXPECT_EQ(bitmap.Width(), 7);
    EXPECT_EQ(bitmap.Height(), 5);
    TBitmap copy = bitmap;
    EXPECT_TRUE(Filled(copy, Rect(0, 0, 7, 5), clBlack));
}

TEST(GaugeTest, TinyAndEmptyGaugesPaintWithoutFault)
{
    for (TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle})
        for (TGaugeBorderStyle border : {TGaugeBorderStyle::bsSingle, TGaugeBorderStyle::bsNone})
            for (QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 2), QSize(3, 40), QSize(40, 3)}) {
                TGauge gauge;
                gauge.resize(size);
                Configure(gauge, kind, 60, border);
                gauge.SetShowText(true);
                const TBitmap picture = gauge.Render();
                EXPECT_EQ(picture.Width(), size.width());
                EXPECT_EQ(picture.Height(), size.height());
            }
}
