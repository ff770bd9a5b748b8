#include "Gauges.h"

#include "SysUtils.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace {

// The classic scheme's window-frame colour, by its system colour index.
constexpr TColor clWindowFrame = 0x80000006;

constexpr long double kPi = std::numbers::pi_v<long double>;

// Rounds to the nearest integer, halves to the even neighbour (the default rounding mode).
int RoundEven(long double value)
{
    return int(std::nearbyintl(value));
}

void ClearToBlack(TBitmap& bitmap)
{
    TCanvas& canvas = bitmap.Canvas();
    const TRect whole = Rect(0, 0, bitmap.Width(), bitmap.Height());
    canvas.CopyMode = cmBlackness;
    canvas.CopyRect(whole, canvas, whole);
    canvas.CopyMode = cmSrcCopy;
}

std::string BoundsMessage(int low, int high)
{
    char text[96];
    std::snprintf(text, sizeof text, "Wert muß zwischen %d und %d liegen", low, high);
    return text;
}

} // namespace

void TBltBitmap::MakeLike(const TBitmap& pattern)
{
    SetSize(pattern.Width(), pattern.Height());
    Canvas().Brush.Color = clWindowFrame;
    Canvas().Brush.Style = bsSolid;
    Canvas().FillRect(Rect(0, 0, Width(), Height()));
}

int ScaledLength(int length, int percent)
{
    const long double fraction = static_cast<long double>(percent) * 0.01L;
    return int(static_cast<long double>(length) * fraction);
}

TGauge::TGauge(QWidget* owner) : QWidget(owner)
{
    resize(100, 100);
    // Opaque: every pixel comes from Paint, so nothing beneath is erased or drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void TGauge::RepaintNow()
{
    if (isVisible())
        repaint();
}

void TGauge::SetMinValue(int value)
{
    if (value == minValue_)
        return;
    if (value > maxValue_ && !loading_)
        throw EInvalidOperation(BoundsMessage(-std::numeric_limits<int>::max(), maxValue_ - 1));
    minValue_ = value;
    if (progress_ < value)
        progress_ = value;
    RepaintNow();
}

void TGauge::SetMaxValue(int value)
{
    if (value == maxValue_)
        return;
    if (value < minValue_ && !loading_)
        throw EInvalidOperation(BoundsMessage(minValue_ + 1, std::numeric_limits<int>::max()));
    maxValue_ = value;
    if (progress_ > value)
        progress_ = value;
    RepaintNow();
}

void TGauge::SetProgress(int value)
{
    const int before = PercentComplete();
    if (value < minValue_)
        value = minValue_;
    else if (value > maxValue_)
        value = maxValue_;
    if (value == progress_)
        return;
    progress_ = value;
    if (PercentComplete() != before)
        RepaintNow();
}

namespace {

// Stores a property and repaints when it changed.
template <typename Value>
bool Change(Value& stored, Value value)
{
    if (stored == value)
        return false;
    stored = value;
    return true;
}

} // namespace

void TGauge::SetKind(TGaugeKind kind)
{
    if (Change(kind_, kind))
        RepaintNow();
}

void TGauge::SetShowText(bool show)
{
    if (Change(showText_, show))
        RepaintNow();
}

void TGauge::SetBorderStyle(TGaugeBorderStyle style)
{
    if (Change(borderStyle_, style))
        RepaintNow();
}

void TGauge::SetForeColor(TColor color)
{
    if (Change(foreColor_, color))
        RepaintNow();
}

void TGauge::SetBackColor(TColor color)
{
    if (Change(backColor_, color))
        RepaintNow();
}

TColor TGauge::Color() const
{
    if (parentColor_ && parentWidget() != nullptr)
        return FromQColor(palette().color(QPalette::Window));
    return color_;
}

void TGauge::SetColor(TColor color)
{
    color_ = color;
    parentColor_ = false;
    update();
}

void TGauge::SetParentColor(bool parentColor)
{
    if (Change(parentColor_, parentColor))
        update();
}

TFont TGauge::Font() const
{
    return TFont::FromQFont(font(), FromQColor(palette().color(QPalette::WindowText)));
}

void TGauge::SetFont(const TFont& font)
{
    setFont(font.ToQFont());
}

int TGauge::PercentComplete() const
{
    // In 64 bits: a span or part beyond the 32-bit range (bounds left crossed by a window
    // description) must not overflow.
    const std::int64_t span = std::int64_t(maxValue_) - minValue_;
    const std::int64_t part = std::int64_t(progress_) - minValue_;
    if (span == 0)
        return 0;
    const std::int64_t percent = part * 100 / span;
    return int(std::clamp<std::int64_t>(percent, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

TRect TGauge::PaintRect() const
{
    TRect rect = Rect(0, 0, width(), height());
    if (borderStyle_ == TGaugeBorderStyle::bsSingle)
        rect = Rect(rect.Left + 1, rect.Top + 1, rect.Right - 1, rect.Bottom - 1);
    return rect;
}

TBitmap TGauge::Render() const
{
    TBitmap image(width(), height());
    ClearToBlack(image);
    TBltBitmap overlay;
    overlay.MakeLike(image);
    ClearToBlack(overlay);
    PaintAsSomething(overlay.Canvas());
    image.Canvas().CopyMode = cmSrcInvert;
    image.Canvas().Draw(0, 0, overlay.Image());
    image.Canvas().CopyMode = cmSrcCopy;
    if (showText_)
        PaintText(image);
    return image;
}

void TGauge::PaintAsSomething(TCanvas& canvas) const
{
    switch (kind_) {
    case gkText: PaintAsText(canvas); break;
    case gkHorizontalBar:
    case gkVerticalBar: PaintAsBar(canvas); break;
    case gkPie: PaintAsPie(canvas); break;
    case gkNeedle: PaintAsNeedle(canvas); break;
    }
}

void TGauge::PaintBackground(TCanvas& canvas) const
{
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(PaintRect());
}

void TGauge::PaintAsText(TCanvas& canvas) const
{
    canvas.Brush.Color = backColor_;
    PaintBackground(canvas);
}

void TGauge::PaintAsBar(TCanvas& canvas) const
{
    const TRect r = PaintRect();
    const int w = r.Right - r.Left + 1, h = r.Bottom - r.Top + 1;
    canvas.Brush.Color = backColor_;
    PaintBackground(canvas);
    canvas.Pen.Color = foreColor_;
    canvas.Pen.Width = 1;
    canvas.Brush.Color = foreColor_;
    if (kind_ == gkHorizontalBar) {
        int filled = ScaledLength(w, PercentComplete());
        if (filled > w)
            filled = w;
        // The fill's right and bottom edges are the length and height themselves, as coordinates.
        if (filled > 0)
            canvas.FillRect(Rect(r.Left, r.Top, filled, h));
    } else {
        int filled = ScaledLength(h, PercentComplete());
        if (filled >= h)
            filled = h - 1;
        canvas.FillRect(Rect(r.Left, h - filled, w, h));
    }
}

void TGauge::PaintAsPie(TCanvas& canvas) const
{
    const TRect r = PaintRect();
    int w = r.Right - r.Left, h = r.Bottom - r.Top;
    if (borderStyle_ == TGaugeBorderStyle::bsSingle)
        ++w, ++h;
    canvas.Brush.Color = Color();
    PaintBackground(canvas);
    canvas.Brush.Color = backColor_;
    canvas.Pen.Color = foreColor_;
    canvas.Pen.Width = 1;
    canvas.Ellipse(r.Left, r.Top, w, h);
    const int percent = PercentComplete();
    if (percent <= 0)
        return;
    canvas.Brush.Color = foreColor_;
    const long double mx = w / 2, my = h / 2;
    const double angle = double((percent * 0.02L + 0.5L) * kPi);
    canvas.Pie(r.Left, r.Top, w, h, RoundEven(mx * (1 - std::cos(static_cast<long double>(angle)))),
        RoundEven(my * (1 - std::sin(static_cast<long double>(angle)))), int(mx), 0);
}

void TGauge::PaintAsNeedle(TCanvas& canvas) const
{
    const TRect r = PaintRect();
    const int x = r.Left, y = r.Top;
    int w = r.Right - r.Left, h = r.Bottom - r.Top;
    if (borderStyle_ == TGaugeBorderStyle::bsSingle)
        ++w, ++h;
    canvas.Brush.Color = Color();
    PaintBackground(canvas);
    canvas.Brush.Color = backColor_;
    canvas.Pen.Color = foreColor_;
    canvas.Pen.Width = 1;
    // The dial: the upper half of an ellipse centred on the bottom of the paint rectangle.
    canvas.Pie(x, y, w, 2 * h - 1, x + w, r.Bottom - 1, x, r.Bottom - 1);
    canvas.MoveTo(x, r.Bottom);
    canvas.LineTo(x + w, r.Bottom);
    const int percent = PercentComplete();
    if (percent <= 0)
        return;
    const long double mx = width() / 2;
    canvas.MoveTo(int(mx), r.Bottom - 1);
    const double angle = double(percent * 0.01L * kPi);
    canvas.LineTo(RoundEven(mx * (1 - std::cos(static_cast<long double>(angle)))),
        RoundEven((r.Bottom - 1) * (1 - std::sin(static_cast<long double>(angle)))));
}

void TGauge::PaintText(TBitmap& image) const
{
    TBltBitmap text;
    text.MakeLike(image);
    ClearToBlack(text);
    const std::string label = std::to_string(PercentComplete()) + "%";
    TCanvas& canvas = text.Canvas();
    canvas.Brush.Style = bsClear;
    canvas.Font = Font();
    canvas.Font.Color = clWhite;
    const TRect r = PaintRect();
    // Centred within the paint rectangle's size, but used as coordinates without adding its origin.
    const int x = (r.Right - r.Left + 1 - canvas.TextWidth(label)) / 2;
    const int y = (r.Bottom - r.Top + 1 - canvas.TextHeight(label)) / 2;
    canvas.TextRect(r, x, y, label);
    image.Canvas().CopyMode = cmSrcInvert;
    image.Canvas().Draw(0, 0, text.Image());
    image.Canvas().CopyMode = cmSrcCopy;
}

void TGauge::Paint()
{
    const TBitmap image = Render();
    QPainter painter(this);
    painter.drawImage(0, 0, image.Image());
}

void TGauge::paintEvent(QPaintEvent*)
{
    Paint();
}
