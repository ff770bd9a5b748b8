// PNG and JPEG screenshots decoded ahead, on a worker thread, for the games beside the selected
// one: stepping through the list with the arrow keys then shows each picture at once, although
// such a file takes several times longer to decode than a GIF of the same size.
#pragma once

#include <QImage>
#include <QSize>
#include <future>
#include <string>
#include <vector>

namespace preview {

// The PNG or JPEG file read with its orientation applied, made opaque over black, and scaled down
// smoothly to fit inside box keeping its proportions when it is bigger. Throws Exception naming
// the file when it cannot be read.
QImage LoadFitted(const std::string& path, QSize box);

class TPictureCache {
public:
    TPictureCache() = default;
    ~TPictureCache(); // waits for the decodes under way
    TPictureCache(const TPictureCache&) = delete;
    TPictureCache& operator=(const TPictureCache&) = delete;

    // Starts decoding the PNG or JPEG file at path fitted into box, unless it is held already.
    void Prefetch(const std::string& path, QSize box);
    // LoadFitted(path, box): the picture decoded ahead when the file is the same as then, else
    // decoded now. Throws as LoadFitted does.
    QImage Fitted(const std::string& path, QSize box);

private:
    // What tells a file apart from its earlier self: a rewrite or a replacement changes one.
    struct TFileStamp {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modified = 0;
        bool operator==(const TFileStamp&) const = default;
    };
    struct TEntry {
        std::string path;
        QSize box;
        TFileStamp stamp;
        std::shared_future<QImage> picture;
    };
    static constexpr std::size_t Capacity = 4; // the pictures beside the selection, and a few more

    static bool StampOf(const std::string& path, TFileStamp& stamp);

    std::vector<TEntry> entries_; // the newest last
};

} // namespace preview
