#include "Preview.h"

#include "Controls.h"
#include "FileSystem.h"
#include "Files.h"
#include "GifUnit.h"
#include "Graphics.h"
#include "PictureCache.h"
#include "SysUtils.h"

#include <cctype>
#include <chrono>
#include <memory>
#include <optional>
#include <unordered_map>

namespace preview {

namespace {

// The listing of a directory, made again only when the directory has changed since: stepping
// through a big collection must not list a screenshot directory of thousands of files per game.
std::shared_ptr<const platform::TDirectoryIndex> ListingOf(const std::string& dir)
{
    struct TListing {
        std::int64_t stamp; // modification time, nanoseconds
        std::shared_ptr<const platform::TDirectoryIndex> index;
    };
    constexpr std::size_t Kept = 8; // the program, screenshot, emulator and snapshot directories
    static std::unordered_map<std::string, TListing> listings;
    const std::optional<platform::TEntryStatus> status = platform::PathStatus(dir);
    if (!status)
        return std::make_shared<platform::TDirectoryIndex>(dir); // not there: lists nothing, keeps nothing
    const std::int64_t stamp = status->modified;
    if (const auto kept = listings.find(dir); kept != listings.end() && kept->second.stamp == stamp)
        return kept->second.index;
    auto index = std::make_shared<const platform::TDirectoryIndex>(dir);
    // File times advance in coarse steps: a directory changed in the last moments may change
    // again under the same time, so only a listing of a settled directory is kept.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (now - std::chrono::nanoseconds(stamp) < std::chrono::seconds(2))
        return index;
    if (listings.size() >= Kept)
        listings.clear();
    listings[dir] = {stamp, index};
    return index;
}

// dir's entry named name, as platform::FindEntry finds it, from the kept listing: the exact name
// when it stands there, else one in another letter case, else name itself.
std::string FindListed(const std::string& dir, const std::string& name)
{
    return platform::JoinPath(dir, ListingOf(dir)->Find(name).value_or(name));
}

// The entry of dir named name in any letter case that is a regular file. The exact name is tried
// without a listing; the listing (kept or not) serves the other names.
class TFileLookup {
public:
    TFileLookup(std::string dir, bool keepListing) : dir_(std::move(dir)), keepListing_(keepListing) {}

    std::optional<std::string> Find(const std::string& name)
    {
        std::string path = platform::JoinPath(dir_, name);
        if (platform::FileExists(path))
            return path;
        if (!index_)
            index_ = keepListing_ ? ListingOf(dir_) : std::make_shared<const platform::TDirectoryIndex>(dir_);
        const std::optional<std::string> found = index_->Find(name);
        if (!found || *found == name)
            return std::nullopt;
        path = platform::JoinPath(dir_, *found);
        return platform::FileExists(path) ? std::optional(path) : std::nullopt;
    }

private:
    std::string dir_;
    bool keepListing_;
    std::shared_ptr<const platform::TDirectoryIndex> index_;
};

} // namespace

// The fixed directories are looked up in kept listings: the emulator directory may hold thousands
// of game directories, and the screenshot directory thousands of pictures.
std::string ScreenshotDir(const std::string& programDir)
{
    return FindListed(programDir, "scrshots");
}

std::string PlaceholderPath(const std::string& programDir)
{
    return FindListed(ScreenshotDir(programDir), "notavail.gif");
}

std::string ScreenshotPath(const std::string& programDir, const std::string& emulatorDir, const std::string& game)
{
    TFileLookup screenshots(ScreenshotDir(programDir), true);
    for (const char* extension : {".gif", ".png", ".jpg", ".jpeg"})
        if (auto found = screenshots.Find(game + extension))
            return *found;
    if (!emulatorDir.empty()) {
        const std::string snapDir = FindListed(emulatorDir, "snap");
        if (auto found = TFileLookup(snapDir, true).Find(game + ".png"))
            return *found;
        // One game's own snapshot directory is small and seen once: its listing is not kept.
        if (auto found = TFileLookup(FindListed(snapDir, game), false).Find("0000.png"))
            return *found;
    }
    return PlaceholderPath(programDir);
}

bool IsGifFile(const std::string& path)
{
    return platform::AsciiLowerCase(path).ends_with(".gif");
}

void ShowScreenshot(TGifFile& gif, TPictureCache& pictures, TImage& control, const std::string& path,
                    const std::string& placeholder)
{
    const std::string& shown = platform::FileExists(path) ? path : placeholder;
    if (!IsGifFile(shown)) {
        control.SetPicture(pictures.Fitted(shown, control.size()));
        return;
    }
    gif.LoadFromFile(shown);
    control.SetPicture(*gif.AsBitmap());
}

} // namespace preview
