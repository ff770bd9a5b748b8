// File access on POSIX: the one layer that calls the system's file functions. Descriptors close
// themselves; a directory is worked on through its descriptor (the *at calls), so a name is
// looked up in the directory that was checked, never again through a path that may have changed.
// A file is replaced whole or not at all through one atomic path (temporary file, flush, rename,
// flush of the directory). Where a file system lacks a call the others have, the fallback is
// written here, once, and nowhere above. Free of any toolkit.
#pragma once

#include "SysUtils.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace platform {

// A file descriptor that closes itself.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd();
    TFd(TFd&& other) noexcept : fd_(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release();
    // Closes now; false when the system reports a failure (for a written file: a write lost).
    bool Close();

private:
    int fd_ = -1;
};

// What the system says of one entry, links not followed. Times in nanoseconds.
struct TEntryStatus {
    bool directory = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0; // the status change time
};
// A status the system gave (stat, fstat) in this form.
TEntryStatus StatusOf(const struct stat& info);

// An open directory. Every operation takes a plain file name (no separator, not "." or "..")
// and acts on that entry itself: links in it are never followed. Failures leave errno set.
class TDirectory {
public:
    TDirectory() = default;
    // The directory at path; links on the way are followed (the path is the user's choice).
    static TDirectory Open(const std::string& path);

    explicit operator bool() const { return static_cast<bool>(fd_); }

    // The entry as a directory; invalid for a link, anything else or a name that is not plain
    // (errno then untouched).
    TDirectory OpenEntry(const std::string& name) const;
    // The directory itself, and its entry of that name.
    std::optional<TEntryStatus> Status() const;
    std::optional<TEntryStatus> Status(const std::string& name) const;
    // The names of the entries, "." and ".." left out; empty when it cannot be listed.
    std::vector<std::string> Names() const;

    bool MakeDirectory(const std::string& name, unsigned mode) const;
    // Moves the entry into the directory `into` under the same name, and never over an entry that
    // stands there (errno EEXIST then): the one move that must not replace. File systems that
    // cannot refuse a rename over an existing entry by themselves (NTFS, exFAT, FAT through FUSE)
    // get their way to do it here, and only here: the check and a plain rename under a lock on
    // `into` that every Kabinex takes, the file's time kept, a directory made anew and its
    // entries moved one by one. Failures leave errno set.
    bool MoveWithoutReplacing(const std::string& name, const TDirectory& into) const;
    // Renames the entry into `into` as newName in one step that the file system itself refuses
    // over an existing entry (errno EEXIST); where it cannot refuse by itself (errno EINVAL or
    // ENOSYS) nothing is done, and the caller takes MoveWithoutReplacing's way instead.
    bool RenameWithoutReplacing(const std::string& name, const TDirectory& into, const std::string& newName) const;
    // Gives the directory itself these permission bits less the process's umask, as making it
    // would have; true too where the file system keeps no permissions.
    bool SetMode(unsigned mode) const;
    // Whether a file keeps its number (st_ino) across lookups and remounts; exFAT and FAT do not,
    // and FUSE file systems need not: a file there is known by its name, size and time.
    bool KeepsFileNumbers() const;
    // Whether the directory is on a network share (NFS, SMB, 9p, ...), whose status may be an
    // older copy of what the server holds.
    bool OnNetworkShare() const;
    // Removes a file (or a link), never a directory.
    bool RemoveFile(const std::string& name) const;
    // Removes a directory only when it is empty.
    bool RemoveEmptyDirectory(const std::string& name) const;
    // Removes the entry and, for a directory, everything in it; links are removed, not followed.
    void RemoveTree(const std::string& name) const;

private:
    explicit TDirectory(TFd fd) : fd_(std::move(fd)) {}
    bool MoveFileChecked(const std::string& name, const TDirectory& into, const TEntryStatus& before) const;
    bool MoveDirectoryByItsFiles(const std::string& name, const TDirectory& into) const;
    TFd fd_;
};

// Opens a file for reading without ever blocking (a FIFO) and only when it is a regular file,
// links followed or not; info is what fstat says of it. Invalid with errno ENOENT when it is
// missing, ELOOP for a link not followed, EINVAL when it is no regular file.
TFd OpenRegularFile(const std::string& path, bool followLinks, struct stat& info);

// Appends the bytes of fd up to its end, sizeHint the size expected (a file that grows meanwhile
// is read on). False when reading fails or the file holds more than limit bytes.
bool ReadUpTo(int fd, std::string& bytes, std::size_t sizeHint, std::size_t limit);

enum class TReadFault { None, Missing, Unreadable, NotRegular, TooLarge };
struct TFileRead {
    TReadFault fault = TReadFault::None;
    std::string bytes;
};
// A regular file's bytes, never more than limit; through a link at path itself only when asked.
TFileRead ReadFileUpTo(const std::string& path, std::size_t limit, bool followLinks = false);

// What the system says of the entry at path, its links followed; nothing when it is missing.
std::optional<TEntryStatus> PathStatus(const std::string& path);

// Writes all of bytes; false when the system refuses.
bool WriteAll(int fd, std::string_view bytes);

// The file a path finally names, its links followed (the last one may dangle: writing through it
// creates its target). Empty for a loop of links.
std::string FollowLinks(std::string path);
// Where the entry at path stands: the path without its last name ("." or "/" when that is all).
std::string DirectoryOf(const std::string& path);

// The path with its last name spelled as the directory listing shows it: a case-blind file system
// (exFAT, FAT) opens "kabinex.ini" for the file listed as "KABINEX.INI". The exact name wins;
// else the entry equal to it ignoring ASCII letter case; path itself when none is listed.
std::string ListedPath(const std::string& path);

// Whether this process may write the file (or, when it is missing, create it in its directory).
bool MayWrite(const std::string& path, bool exists);

// How a replaced file gets its permissions: those of the file it replaces (and its owner, where
// the system lets us), or, for a new file, these bits less the process's umask.
struct TReplaceMode {
    const struct stat* old = nullptr;
    unsigned newFileMode = 0666;
};
// Puts what write writes in place of the file at path as one step: written to a temporary file
// beside it, flushed to disk, renamed over it, and the directory flushed so the rename lasts. On
// failure the file is as it was and the temporary file is gone.
bool ReplaceFile(const std::string& path, const std::function<bool(int fd)>& write, const TReplaceMode& mode);
// ReplaceFile with the bytes of text; throws WriteRefused(path) on failure.
void ReplaceFileWith(const std::string& path, std::string_view text, unsigned newFileMode);

// Creates a file that does not exist yet (never through a link) holding text, flushed to disk
// when asked. Throws EInOutError on failure.
void WriteNewFile(const std::string& path, const std::string& text, bool flush = false);
// Creates or truncates a file with the given lines, each ended by a line feed. A link of that
// name is replaced, never followed. Throws EInOutError on failure.
void WriteOwnFile(const std::string& path, const std::vector<std::string>& lines);

// Renames from to to, replacing what stands there; false when the system refuses.
bool RenameReplacing(const std::string& from, const std::string& to);
// Whether anything stands at path (a dangling link included).
bool EntryExists(const std::string& path);
// Makes the directory and the ones above it that are missing; false when it cannot stand.
bool MakeDirectories(const std::string& path);
// The bytes of the regular files under dir, links not followed.
std::uint64_t TreeBytes(const std::string& dir);

// The error of a write that the system refused, naming what could not be written.
Exception WriteRefused(const std::string& path);

} // namespace platform
