#include "PictureCache.h"

#include "Preview.h"

#include <algorithm>
#include <sys/stat.h>

namespace preview {

TPictureCache::~TPictureCache()
{
    for (const TEntry& entry : entries_)
        entry.picture.wait();
}

bool TPictureCache::StampOf(const std::string& path, TFileStamp& stamp)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    stamp = {info.st_dev, info.st_ino, info.st_size,
             std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
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
