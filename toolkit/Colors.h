// Colours as 32-bit values in the 0x00BBGGRR form the window descriptions use.
#pragma once

#include <QColor>
#include <cstdint>

using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clSilver = 0xC0C0C0;
// The system colours, fixed to the classic Windows scheme the layouts were made for.
inline constexpr TColor clWindowText = clBlack;
inline constexpr TColor clBtnFace = clSilver;
inline constexpr TColor clMenu = clSilver;
inline constexpr TColor clWindow = clWhite;

inline QColor ToQColor(TColor color)
{
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

inline TColor FromQColor(const QColor& color)
{
    return TColor(color.red()) | (TColor(color.green()) << 8) | (TColor(color.blue()) << 16);
}
