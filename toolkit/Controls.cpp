#include "Controls.h"

#include "Graphics.h"

#include <QPainter>
#include <QStyle>

TImage::TImage(QWidget* parent)
    : QWidget(parent)
{
}

void TImage::SetPicture(const TBitmap& bitmap)
{
    SetPicture(bitmap.Picture());
}

void TImage::SetPicture(const QImage& image)
{
    // Shared, not copied: a later change to the caller's image detaches it from ours.
    picture_ = image;
    update();
}

void TImage::SetCenter(bool center)
{
    center_ = center;
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    QPoint origin(0, 0);
    if (center_)
        origin = QPoint((width() - picture_.width()) / 2, (height() - picture_.height()) / 2);
    painter.drawImage(origin, picture_);
}

void TColorButton::SetCaptionColor(TColor color)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::ButtonText, ToQColor(color));
    setPalette(palette);
}

TColor TColorButton::CaptionColor() const
{
    return FromQColor(palette().color(QPalette::ButtonText));
}

TPanel::TPanel(QWidget* parent)
    : QFrame(parent)
{
}

void TPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    const QColor shadow(128, 128, 128);
    const QColor light(255, 255, 255);
    auto bevel = [&](const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    };
    bevel(outer, shadow, light);
    bevel(inner, light, shadow);
}
