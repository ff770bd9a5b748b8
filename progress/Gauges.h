// TGauge: where a value stands between two bounds, as a whole percentage drawn as text, a bar, a
// pie or a needle dial. TBltBitmap: the bitmap the gauge composes its picture with.
#pragma once

#include "Graphics.h"

#include <QWidget>
#include <cstdint>

enum TGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

// The frame styles a gauge knows.
enum class TGaugeBorderStyle : std::uint8_t { bsNone, bsSingle };

class TBltBitmap : public TBitmap {
public:
    // Takes the template's size and fills the whole bitmap with the window-frame colour.
    void MakeLike(const TBitmap& pattern);
};

// Length times percentage / 100 in the gauge's own arithmetic: the percentage scaled by the
// extended-precision 0.01, which lies just below 0.01 (5 % of 100 gives 4).
int ScaledLength(int length, int percent);

// The gauge paints every pixel of its rectangle itself and, when a property write changes the
// picture, repaints before the write returns.
class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* owner = nullptr);

    int MinValue() const { return minValue_; }
    int MaxValue() const { return maxValue_; }
    int Progress() const { return progress_; }
    TGaugeKind Kind() const { return kind_; }
    bool ShowText() const { return showText_; }
    TGaugeBorderStyle BorderStyle() const { return borderStyle_; }
    TColor ForeColor() const { return foreColor_; }
    TColor BackColor() const { return backColor_; }

    // Throws EInvalidOperation when the bound would pass the other one (unless loading).
    void SetMinValue(int value);
    void SetMaxValue(int value);
    // Clamped to the range; repaints only when the whole percentage changes.
    void SetProgress(int value);
    void SetKind(TGaugeKind kind);
    void SetShowText(bool show);
    void SetBorderStyle(TGaugeBorderStyle style);
    void SetForeColor(TColor color);
    void SetBackColor(TColor color);

    // The control's colour and font: the parent's unless set here.
    TColor Color() const;
    void SetColor(TColor color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool parentColor);
    TFont Font() const;
    void SetFont(const TFont& font);

    // While a window description is being applied the bounds are not checked against each other.
    void SetLoading(bool loading) { loading_ = loading; }
    bool Loading() const { return loading_; }

    int PercentComplete() const;

    // The picture of the gauge's whole rectangle as Paint puts it on the screen.
    TBitmap Render() const;

protected:
    // Puts the rendered picture on the gauge's surface; runs inside every paint of the widget.
    virtual void Paint();
    void paintEvent(QPaintEvent* event) override;

private:
    void RepaintNow();
    TRect PaintRect() const;
    void PaintBackground(TCanvas& canvas) const;
    void PaintAsText(TCanvas& canvas) const;
    void PaintAsBar(TCanvas& canvas) const;
    void PaintAsPie(TCanvas& canvas) const;
    void PaintAsNeedle(TCanvas& canvas) const;
    void PaintAsSomething(TCanvas& canvas) const;
    void PaintText(TBitmap& image) const;

    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    TGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TGaugeBorderStyle borderStyle_ = TGaugeBorderStyle::bsSingle;
    TColor foreColor_ = clBlack;
    TColor backColor_ = clWhite;
    bool parentColor_ = true;
    TColor color_ = clBtnFace;
    bool loading_ = false;
};
