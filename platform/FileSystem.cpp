#include "FileSystem.h"

#include "SysUtils.h"

#include <QByteArrayView>
#include <QString>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <bit>
#include <functional>
#include <string_view>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <utility>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Calls visit(name) for each entry; returns false when the directory cannot be opened.
// Linux always reports "." and ".."; they are added if a file system ever leaves them out.
template <class Visit>
bool ForEachEntry(const std::string& dir, Visit visit)
{
    std::unique_ptr<DIR, DirCloser> handle(opendir(dir.c_str()));
    if (!handle)
        return false;
    bool sawDot = false;
    bool sawDotDot = false;
    while (const dirent* entry = readdir(handle.get())) {
        const std::string_view name = entry->d_name;
        sawDot = sawDot || name == ".";
        sawDotDot = sawDotDot || name == "..";
        visit(name);
    }
    if (!sawDot)
        visit(".");
    if (!sawDotDot)
        visit("..");
    return true;
}

// Counts the entries of an open directory up to limit, reading them straight from the system in
// blocks (no directory stream, no allocation). Linux always lists "." and ".."; should a file
// system leave them out, they count anyway.
int CountOpenDirectory(int fd, int limit)
{
    alignas(8) char buffer[8192];
    int count = 0;
    bool sawDot = false;
    bool sawDotDot = false;
    while (count < limit) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (long at = 0; at < n && count < limit;) {
            // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
            unsigned short length = 0;
            std::memcpy(&length, buffer + at + 16, sizeof length);
            const std::string_view name(buffer + at + 19);
            sawDot = sawDot || name == ".";
            sawDotDot = sawDotDot || name == "..";
            ++count;
            at += length;
        }
    }
    if (count < limit)
        count += (sawDot ? 0 : 1) + (sawDotDot ? 0 : 1);
    return std::min(count, limit);
}

} // namespace

std::string CurrentDir()
{
    std::string buffer(256, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return ".";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    if (buffer.size() > 1 && buffer.back() == PathDelim)
        buffer.pop_back();
    return buffer;
}

std::string JoinPath(const std::string& dir, const std::string& piece)
{
    if (dir.empty() || dir.back() == PathDelim)
        return dir + piece;
    return dir + PathDelim + piece;
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path.front() == PathDelim)
        return path;
    return JoinPath(CurrentDir(), path);
}

std::vector<std::string> DirectoryEntries(const std::string& dir)
{
    std::vector<std::string> names;
    ForEachEntry(dir, [&](std::string_view name) { names.emplace_back(name); });
    return names;
}

int CountDirectoryEntries(const std::string& dir, int limit)
{
    const TFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd ? CountOpenDirectory(fd.Get(), limit) : 0;
}

std::string FoldedName(std::string_view name)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii && QByteArrayView(name.data(), static_cast<qsizetype>(name.size())).isValidUtf8())
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toStdString();
    return AsciiLowerCase(name); // bytes that are no text match only themselves
}

std::string UserBaseDir(const char* variable, const char* underHome)
{
    if (const char* value = std::getenv(variable); value && *value == '/')
        return value;
    const char* home = std::getenv("HOME");
    const passwd* user = home && *home ? nullptr : ::getpwuid(::getuid());
    const std::string homeDir = home && *home ? home : user && user->pw_dir ? user->pw_dir : "/";
    return JoinPath(homeDir, underHome);
}

TDirectoryIndex::TDirectoryIndex(const std::string& dir)
{
    ForEachEntry(dir, [&](std::string_view name) { entries_.emplace_back(FoldedName(name), std::string(name)); });
    std::sort(entries_.begin(), entries_.end());
}

std::optional<std::string> TDirectoryIndex::Find(std::string_view name) const
{
    const std::string folded = FoldedName(name);
    auto at = std::lower_bound(entries_.begin(), entries_.end(), folded,
                               [](const auto& entry, const std::string& key) { return entry.first < key; });
    const auto first = at;
    for (; at != entries_.end() && at->first == folded; ++at)
        if (at->second == name)
            return at->second;
    if (first != entries_.end() && first->first == folded)
        return first->second;
    return std::nullopt;
}

std::string MatchEntryName(const std::string& dir, const std::string& name)
{
    struct stat info {};
    if (lstat(JoinPath(dir, name).c_str(), &info) == 0)
        return name; // the exact name wins without a listing
    return TDirectoryIndex(dir).Find(name).value_or(name);
}

std::string FindEntry(const std::string& dir, const std::string& name)
{
    return JoinPath(dir, MatchEntryName(dir, name));
}

TSubdirectories::TSubdirectories(const std::string& dir)
    : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
}

void TSubdirectories::List() const
{
    if (std::exchange(listTried_, true))
        return; // the directory stream is read once
    listed_ = true;
    std::vector<std::size_t> starts;
    alignas(8) char buffer[65536];
    long n = 0;
    while ((n = ::syscall(SYS_getdents64, fd_.Get(), buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < n;) {
            unsigned short length = 0;
            std::memcpy(&length, buffer + at + 16, sizeof length);
            const unsigned char type = static_cast<unsigned char>(buffer[at + 18]);
            // A link or an unknown type may still lead to a directory.
            if (type == DT_DIR || type == DT_LNK || type == DT_UNKNOWN) {
                const char* name = buffer + at + 19;
                starts.push_back(names_.size());
                names_.append(name).push_back('\0');
                names_.append(FoldedName(name)).push_back('\0');
            }
            at += length;
        }
    }
    if (n < 0) {
        listed_ = false; // the listing broke off: every name is opened as it stands
        return;
    }
    slots_.assign(std::bit_ceil(std::max<std::size_t>(2 * starts.size(), 16)), 0);
    const std::size_t mask = slots_.size() - 1;
    for (const std::size_t start : starts) {
        const char* name = names_.data() + start;
        const std::string_view folded = name + std::strlen(name) + 1;
        std::size_t at = std::hash<std::string_view>{}(folded) & mask;
        for (; slots_[at] != 0; at = (at + 1) & mask) {
            const char* other = names_.data() + slots_[at] - 1;
            if (folded == other + std::strlen(other) + 1)
                break;
        }
        // Of several names of one key, the first in byte order stands for them.
        if (slots_[at] == 0 || std::strcmp(name, names_.data() + slots_[at] - 1) < 0)
            slots_[at] = start + 1;
    }
}

std::size_t TSubdirectories::ListedFolded(std::string_view folded) const
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = std::hash<std::string_view>{}(folded) & mask; slots_[at] != 0; at = (at + 1) & mask) {
        const char* name = names_.data() + slots_[at] - 1;
        if (folded == name + std::strlen(name) + 1)
            return slots_[at] - 1;
    }
    return std::string::npos;
}

TSubdirectories::~TSubdirectories() = default;

namespace {

TDirectoryStamp StampOf(const struct stat& info)
{
    const TEntryStatus status = StatusOf(info);
    return {status.device, status.inode, status.modified, status.changed};
}

} // namespace

int TSubdirectories::CountAt(const char* name, int limit, TCountMemo* memo) const
{
    struct stat info {};
    if (memo && memo->Knows(name)) {
        // One status instead of an open, a listing and a close.
        if (fstatat(fd_.Get(), name, &info, 0) != 0 || !S_ISDIR(info.st_mode))
            return -1;
        if (const std::optional<int> count = memo->Recall(name, StampOf(info), limit))
            return *count;
    }
    const TFd fd(openat(fd_.Get(), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return -1;
    const bool stamped = memo && fstat(fd.Get(), &info) == 0;
    const int count = CountOpenDirectory(fd.Get(), limit);
    if (stamped)
        memo->Counted(name, StampOf(info), count, limit);
    return count;
}

int TSubdirectories::CountEntries(const std::string& name, int limit, TCountMemo* memo) const
{
    if (!fd_)
        return 0;
    if (++lookups_ == ListAfter)
        List();
    if (!listed_) {
        if (const int count = CountAt(name.c_str(), limit, memo); count >= 0)
            return count;
        List(); // another letter case needs the listing
        if (!listed_)
            return 0;
    }
    const std::size_t listed = ListedFolded(FoldedName(name));
    if (listed == std::string::npos)
        return 0;
    if (const int count = CountAt(name.c_str(), limit, memo); count >= 0)
        return count; // the exact name wins
    return std::max(CountAt(names_.data() + listed, limit, memo), 0);
}

std::string TSubdirectories::EntryName(const std::string& name) const
{
    struct stat info {};
    if (!fd_ || (fstatat(fd_.Get(), name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode)))
        return name;
    if (!listed_)
        List();
    const std::size_t listed = listed_ ? ListedFolded(FoldedName(name)) : std::string::npos;
    return listed == std::string::npos ? name : std::string(names_.data() + listed);
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DeleteFile(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    return unlink(path.c_str()) == 0;
}

bool RemoveEmptyDirectory(const std::string& dir)
{
    return rmdir(dir.c_str()) == 0;
}

void WriteTextFile(const std::string& path, const std::vector<std::string>& lines)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        throw EInOutError(IoCodeFromErrno(errno));
    for (const std::string& line : lines) {
        if (std::fputs(line.c_str(), file.get()) == EOF || std::fputc('\n', file.get()) == EOF)
            throw EInOutError(IoCodeFromErrno(errno));
    }
    if (std::fclose(file.release()) != 0)
        throw EInOutError(IoCodeFromErrno(errno));
}

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find(PathDelim) == std::string::npos
        && name.find('\0') == std::string::npos;
}

void SleepMilliseconds(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace platform
