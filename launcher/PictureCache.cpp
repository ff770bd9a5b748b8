#include "PictureCache.h"

#include "Files.h"
#include "SysUtils.h"

#include <QImageReader>
#include <QPainter>

#include <algorithm>

namespace preview {

QImage LoadFitted(const std::string& path, QSize box)
{
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true); // a JPEG's orientation tag
    QImage image = reader.read();
    if (image.isNull())
        throw Exception("La imagen \"" + path + "\" no se puede leer");
    // Premultiplied, so that smooth scaling weighs each pixel by its opacity.
    const bool transparent = image.hasAlphaChannel();
    image.convertTo(transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!transparent)
        return image;
    // Transparent parts show the window's black, as the control's background would.
    QImage opaque(image.size(), QImage::Format_RGB32);
    opaque.fill(Qt::black);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, image);
    painter.end();
    return opaque;
}

TPictureCache::~TPictureCache()
{
    for (const TEntry& entry : entries_)
        entry.picture.wait();
}

bool TPictureCache::StampOf(const std::string& path, TFileStamp& stamp)
{
    const std::optional<platform::TEntryStatus> status = platform::PathStatus(path);
    if (!status)
        return false;
    stamp = {status->device, status->inode, status->size, status->modified};
    return true;
}

void TPictureCache::Prefetch(const std::string& path, QSize box)
{
    TFileStamp stamp;
    if (!StampOf(path, stamp))
        return;
    const auto held = std::find_if(entries_.begin(), entries_.end(), [&](const TEntry& entry) {
        return entry.path == path && entry.box == box && entry.stamp == stamp;
    });
    if (held != entries_.end())
        return;
    if (entries_.size() == Capacity) {
        entries_.front().picture.wait();
        entries_.erase(entries_.begin());
    }
    // A file that cannot be read keeps its exception in the future: showing it reports it as usual.
    entries_.push_back({path, box, stamp, std::async(std::launch::async, LoadFitted, path, box).share()});
}

QImage TPictureCache::Fitted(const std::string& path, QSize box)
{
    TFileStamp stamp;
    const bool stamped = StampOf(path, stamp);
    const auto held = std::find_if(entries_.begin(), entries_.end(), [&](const TEntry& entry) {
        return stamped && entry.path == path && entry.box == box && entry.stamp == stamp;
    });
    if (held == entries_.end())
        return LoadFitted(path, box);
    const std::shared_future<QImage> picture = held->picture;
    entries_.erase(held); // a later visit reads the file again, as it may have changed by then
    return picture.get();
}

} // namespace preview
