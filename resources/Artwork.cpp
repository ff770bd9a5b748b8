#include "Artwork.h"

#include <QString>

namespace {

// The pictures are built into the program; a null image here means a broken build.
QImage Load(const char* name)
{
    QImage image(QStringLiteral(":/artwork/") + QLatin1String(name));
    Q_ASSERT_X(!image.isNull(), "Artwork", name);
    return image;
}

} // namespace

QIcon ApplicationIcon()
{
    return QIcon(QPixmap::fromImage(ApplicationIconImage()));
}

QImage ApplicationIconImage()
{
    return Load("icon.bmp");
}

QImage MainLogo()
{
    return Load("logo.bmp");
}

QImage AboutLogo()
{
    return Load("aboutlogo.bmp");
}
