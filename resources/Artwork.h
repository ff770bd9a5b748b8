// Kabinex's artwork, kept in the program's resources.
#pragma once

#include <QIcon>
#include <QImage>

// The window icon of every window: an arcade cabinet, 32 x 32 pixels, 16 colours.
QIcon ApplicationIcon();
// The icon's picture itself (indexed, 16 colours).
QImage ApplicationIconImage();
// The main window's logo: 200 x 150 pixels, 256-colour palette.
QImage MainLogo();
// The about window's logo: 320 x 240 pixels, 256-colour palette.
QImage AboutLogo();
