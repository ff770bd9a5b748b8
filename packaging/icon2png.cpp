// Build-time tool: writes the application icon (a BMP) as the PNGs of the hicolor icon theme,
// OUTDIR/NxN/apps/kabinex.png for each size N asked for.
#include <QDir>
#include <QImage>

#include <cstdio>
#include <cstdlib>

namespace {

// The icon is pixel art: enlarged by whole pixels first so that its edges stay sharp, then
// smoothed to the size asked for when that is no whole multiple (16, 24, 48 ...).
QImage ScaledIcon(const QImage& icon, int size)
{
    const int factor = (size + icon.width() - 1) / icon.width();
    QImage sharp = icon.scaled(icon.width() * factor, icon.height() * factor, Qt::KeepAspectRatio,
                               Qt::FastTransformation);
    if (sharp.width() == size)
        return sharp;
    return sharp.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool WriteIcon(const QImage& icon, const QString& outDir, int size)
{
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
    if (!QDir().mkpath(dir))
        return false;
    return ScaledIcon(icon, size).save(dir + QStringLiteral("/kabinex.png"), "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: icon2png ICON.bmp OUTDIR SIZE...\n");
        return 2;
    }
    QImage icon;
    if (!icon.load(QString::fromLocal8Bit(argv[1]), "BMP") || icon.width() != icon.height()) {
        std::fprintf(stderr, "icon2png: cannot read %s as a square icon\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || !WriteIcon(icon, QString::fromLocal8Bit(argv[2]), size)) {
            std::fprintf(stderr, "icon2png: cannot write the %s pixel icon into %s\n", argv[i], argv[2]);
            return 1;
        }
    }
    return 0;
}
