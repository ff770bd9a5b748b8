// The file-system services the launcher needs by path, on POSIX: paths, listings, names in any
// letter case. Together with Files (descriptors, directories worked on through them, reading
// and the atomic replace) it is the only place that calls the system's file functions: nothing
// above platform/ does.
#pragma once

#include "Files.h"
#include "Text.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr char PathDelim = '/';

// The process's current directory, absolute, without a trailing separator (except the root).
std::string CurrentDir();

// An XDG base directory of the user: the variable's value when it is absolute, else underHome in
// the home directory ($HOME, else the account's).
std::string UserBaseDir(const char* variable, const char* underHome);

// dir followed by piece, with one separator between them unless dir already ends with one.
std::string JoinPath(const std::string& dir, const std::string& piece);

// path itself when absolute, else taken from the current directory.
std::string AbsolutePath(const std::string& path);

// The names of every entry of a directory, of any kind, "." and ".." included; empty when
// the directory cannot be listed.
std::vector<std::string> DirectoryEntries(const std::string& dir);

// The key under which names match without regard to letter case: ASCII letters lowered, any
// other text case-folded (so "NINJA.ZIP", "ninja.zip" and "Ninja.Zip" share one key).
std::string FoldedName(std::string_view name);

// A directory listed once, for many lookups of names that may stand there in another letter case,
// as collections copied from DOS and Windows carry them.
class TDirectoryIndex {
public:
    // A directory that cannot be listed holds nothing.
    explicit TDirectoryIndex(const std::string& dir);

    // The entry that name refers to: name itself when it stands there, else the one entry equal
    // to it ignoring letter case (of several such, the first in byte order); nothing when none is.
    std::optional<std::string> Find(std::string_view name) const;

private:
    // (folded name, name), sorted: the entries of one key stand together, in byte order.
    std::vector<std::pair<std::string, std::string>> entries_;
};

// The name of dir's entry that name refers to, as TDirectoryIndex::Find gives it; name itself
// when no entry matches, so that a file still to be made gets the name asked for.
std::string MatchEntryName(const std::string& dir, const std::string& name);
// JoinPath(dir, MatchEntryName(dir, name)).
std::string FindEntry(const std::string& dir, const std::string& name);

// How many entries DirectoryEntries would return, without building the list, counting no
// further than limit.
int CountDirectoryEntries(const std::string& dir, int limit = std::numeric_limits<int>::max());

// What a directory's entry count rests on: while its number and both its times stand as they
// were, no entry has been added to it, removed or renamed. Times in nanoseconds.
struct TDirectoryStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    bool operator==(const TDirectoryStamp&) const = default;
};

// Counts made before, which TSubdirectories asks before it opens a directory that the memo knows,
// and tells of every count it makes (the stamp taken before the count, so a change while counting
// shows as a changed stamp).
class TCountMemo {
public:
    virtual ~TCountMemo() = default;
    virtual bool Knows(std::string_view name) const = 0;
    // The count up to limit of the directory name, if the memo holds one for this stamp.
    virtual std::optional<int> Recall(std::string_view name, const TDirectoryStamp& stamp, int limit) = 0;
    virtual void Counted(std::string_view name, const TDirectoryStamp& stamp, int count, int limit) = 0;
};

// Counts the entries of many subdirectories of one directory: each is opened relative to it, so
// the directory's own path is looked up once. After the first ListAfter names the directory is
// listed once, and from then on names that stand nowhere in it (or only as files) are never
// opened: with many games, most of them missing, that saves most of the work.
class TSubdirectories {
public:
    static constexpr int ListAfter = 64;

    // A directory that cannot be opened has no subdirectories.
    explicit TSubdirectories(const std::string& dir);
    ~TSubdirectories();
    TSubdirectories(const TSubdirectories&) = delete;
    TSubdirectories& operator=(const TSubdirectories&) = delete;

    // CountDirectoryEntries of the subdirectory name (a plain file name), 0 when there is none.
    // Where no entry has the exact name, the one equal to it ignoring letter case is counted.
    // With a memo, a directory whose stamp it knows is not opened.
    int CountEntries(const std::string& name, int limit, TCountMemo* memo = nullptr) const;
    // The name of the entry CountEntries counts for name: name itself, or the entry equal to it
    // ignoring letter case; name itself when there is none.
    std::string EntryName(const std::string& name) const;

private:
    void List() const;

    TFd fd_;
    mutable int lookups_ = 0;
    mutable bool listTried_ = false;
    mutable bool listed_ = false;
    // The offset in names_ of the entry that folds like name, the first in byte order; npos if none.
    std::size_t ListedFolded(std::string_view folded) const;
    int CountAt(const char* name, int limit, TCountMemo* memo) const;

    // The listed names, each followed by its folded key, each ended by a NUL.
    mutable std::string names_;
    // Open addressing over the folded keys: each slot a name's offset + 1 (0: empty).
    mutable std::vector<std::size_t> slots_;
};

// True for an existing regular file (following links), false for directories and the rest.
bool FileExists(const std::string& path);

// Removes one file (never a directory); false when the system refuses.
bool DeleteFile(const std::string& path);

// Removes a directory only when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::string& dir);

// Creates (or truncates) a text file holding the given lines, each ended by the platform's
// line end. Throws EInOutError on failure.
void WriteTextFile(const std::string& path, const std::vector<std::string>& lines);

// A plain file name: not empty, no separator, not "." or "..".
bool IsPlainFileName(const std::string& name);

void SleepMilliseconds(int milliseconds);

} // namespace platform
