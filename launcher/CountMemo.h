// The game directories' entry counts of the last ROM check, kept between runs so that a start-up
// looks at each unchanged directory once instead of opening and listing it. One file per
// emulator directory in $XDG_CACHE_HOME/kabinex (by default ~/.cache/kabinex). A count is made
// again as soon as its directory's number or times differ, and is kept only for a directory that
// had stood unchanged for two seconds when the check began: a change within one tick of the file
// system's clock need not show in the times.
#pragma once

#include "FileSystem.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct TKnownCount {
    platform::TDirectoryStamp stamp;
    int count = 0;
    int limit = 0; // the count went no further
    bool operator==(const TKnownCount&) const = default;
};
using TKeptCounts = std::vector<std::pair<std::string, TKnownCount>>;
using TKnownEntry = std::pair<const std::string, TKnownCount>;

// The memo as read: nothing from a file written for another emulator directory or in another
// form; a damaged line is skipped.
class TKnownCounts {
public:
    static TKnownCounts Parse(std::string_view text, const std::string& emulatorDir);
    const TKnownEntry* Find(std::string_view name) const;
    std::size_t Size() const { return counts_.size(); }

private:
    struct TNameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    std::unordered_map<std::string, TKnownCount, TNameHash, std::equal_to<>> counts_;
};

// What one side of a check knows and learns: it answers from the known counts it was given and
// keeps every count it recalled or made that may be trusted next time. Another thread may take
// what it kept while it is used.
class TCountRecorder final : public platform::TCountMemo {
public:
    // Counts of directories changed after checkStart (nanoseconds since the epoch) less two
    // seconds are not kept.
    explicit TCountRecorder(std::int64_t checkStart);

    // From now on the recorder answers from known (which must outlive it).
    void Use(const TKnownCounts* known) { known_ = known; }

    bool Knows(std::string_view name) const override;
    std::optional<int> Recall(std::string_view name, const platform::TDirectoryStamp& stamp, int limit) override;
    void Counted(std::string_view name, const platform::TDirectoryStamp& stamp, int count, int limit) override;

    std::vector<const TKnownEntry*> Recalled() const;
    TKeptCounts KeptAnew() const;

private:
    const std::int64_t trustedBefore_;
    const TKnownCounts* known_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<const TKnownEntry*> recalled_;
    TKeptCounts anew_;
};

// Where an emulator directory's memo is kept; no path, no memo.
struct TCountMemoFile {
    std::string path;
    std::string emulatorDir;
};

// Where the memo of emulatorDir stands; empty where none is kept: no emulator directory, one on a
// file system whose file numbers do not last (exFAT, FAT, FUSE), or on a network share.
std::string CountMemoPath(const std::string& emulatorDir);
// Empty when the file is missing or cannot be read.
TKnownCounts LoadKnownCounts(const std::string& path, const std::string& emulatorDir);
// What the sides of a check kept, each name once (both sides may have counted the game where they
// met), in byte order; nothing when it is what was known.
std::optional<TKeptCounts> ChangedCounts(const TKnownCounts& known, const TCountRecorder& one, const TCountRecorder& other);
// The file's text of distinct counts.
std::string CountMemoText(const std::string& emulatorDir, const TKeptCounts& distinct);
// A memo that cannot be written is no fault: the next start counts again.
void SaveCountMemo(const TCountMemoFile& file, const TKeptCounts& distinct);
