// Build-time tool: writes the application icon (a BMP) as the PNG that desktop environments expect.
#include <QImage>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: icon2png ICON.bmp ICON.png\n");
        return 2;
    }
    QImage icon;
    if (!icon.load(QString::fromLocal8Bit(argv[1]), "BMP")) {
        std::fprintf(stderr, "icon2png: cannot read %s\n", argv[1]);
        return 1;
    }
    // Installed as the 32x32 size of the hicolor theme.
    if (icon.size() != QSize(32, 32))
        icon = icon.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "icon2png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
