// Controls the window descriptions need beyond Qt's stock widgets.
#pragma once

#include "Colors.h"

#include <QFrame>
#include <QImage>
#include <QPushButton>
#include <QWidget>

class TBitmap;

// A picture control: draws its picture unscaled, at the top-left corner or centred (a bigger
// picture is cut around its centre). Where no picture covers it, the parent shows through.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    // Keeps its own copy of the picture (8-bit indexed or 32-bit) and drops the previous one.
    void SetPicture(const TBitmap& bitmap);
    void SetPicture(const QImage& image);
    const QImage& Picture() const { return picture_; }

    void SetCenter(bool center);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    bool center_ = false;
};

// A push button whose caption colour can be set.
class TColorButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    void SetCaptionColor(TColor color);
    TColor CaptionColor() const;
};

// A panel with an outer lowered and an inner raised bevel, filled with its parent's colour.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
