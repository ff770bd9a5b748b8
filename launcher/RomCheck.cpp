#include "RomCheck.h"

TRomCheck::TRomCheck(const std::string& emulatorDir, std::optional<std::string> zipDir)
    : gameDirs_(emulatorDir)
    , zipDir_(std::move(zipDir))
{
}

bool TRomCheck::Available(std::string_view game, platform::TCountMemo* memo) const
{
    const std::string name(game);
    if (!platform::IsPlainFileName(name))
        return false;
    // Counting stops at the threshold: a big directory costs no more than a small one.
    return gameDirs_.CountEntries(name, PresentEntryCount, memo) >= PresentEntryCount || ArchiveExists(name);
}

bool TRomCheck::ArchiveExists(const std::string& game) const
{
    if (!zipDir_)
        return false;
    if (!archives_)
        // An empty directory name stands for the current directory, as in the archive's path.
        archives_ = std::make_unique<platform::TDirectoryIndex>(zipDir_->empty() ? std::string(".") : *zipDir_);
    const std::optional<std::string> found = archives_->Find(game + ".zip");
    // Only a name that stands in the listing is looked at, and only a regular file counts.
    return found && platform::FileExists(platform::JoinPath(*zipDir_, *found));
}
