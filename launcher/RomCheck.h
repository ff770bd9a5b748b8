// Whether a game's ROMs are on disk: its directory under the emulator directory holds enough
// entries, or its archive stands in the ZIP directory. Each directory is listed at most once per
// check, however many games are asked about.
#pragma once

#include "FileSystem.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Enough entries in a game's directory ("." and ".." included) for its ROMs to count as present.
inline constexpr int PresentEntryCount = 7;

class TRomCheck {
public:
    // emulatorDir empty: no emulator directory, no game directory counts. zipDir absent: ZIP
    // support is off.
    TRomCheck(const std::string& emulatorDir, std::optional<std::string> zipDir);

    // With a memo, game directories counted before are only looked at (see TCountMemo).
    bool Available(std::string_view game, platform::TCountMemo* memo = nullptr) const;

private:
    bool ArchiveExists(const std::string& game) const;

    platform::TSubdirectories gameDirs_;
    std::optional<std::string> zipDir_;
    // Listed on the first archive looked for: a check that finds every game's directory never lists it.
    mutable std::unique_ptr<platform::TDirectoryIndex> archives_;
};
