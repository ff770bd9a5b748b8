#include "Files.h"

#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {
namespace {

std::int64_t Nanoseconds(const timespec& time)
{
    return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

timespec TimeOf(std::int64_t nanoseconds)
{
    std::int64_t seconds = nanoseconds / 1000000000, rest = nanoseconds % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        --seconds;
    }
    return {static_cast<time_t>(seconds), static_cast<long>(rest)};
}

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

// Taken for a check and the rename that follows it, and released however the move ends.
class TExclusion {
public:
    explicit TExclusion(int fd) : fd_(fd)
    {
        int result = 0;
        do
            result = ::flock(fd_, LOCK_EX);
        while (result != 0 && errno == EINTR);
        held_ = result == 0;
    }
    ~TExclusion()
    {
        if (held_)
            ::flock(fd_, LOCK_UN);
    }
    TExclusion(const TExclusion&) = delete;
    TExclusion& operator=(const TExclusion&) = delete;
    bool Held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

// File systems that keep no permissions answer fchmod with ENOSYS (fusefat) or EOPNOTSUPP.
bool KeepsNoPermissions(int error)
{
    return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// The process's umask as the system reports it. Setting it to learn it would, for that moment,
// change the permissions of whatever another thread creates.
mode_t ReadUmask()
{
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

unsigned LessUmask(unsigned mode)
{
    return mode & ~ReadUmask();
}

} // namespace

TEntryStatus StatusOf(const struct stat& info)
{
    return {S_ISDIR(info.st_mode), info.st_dev, info.st_ino, info.st_size, Nanoseconds(info.st_mtim),
            Nanoseconds(info.st_ctim)};
}

// ---- Descriptors ------------------------------------------------------------------------------

TFd::~TFd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

TFd& TFd::operator=(TFd&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

int TFd::Release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool TFd::Close()
{
    const int fd = Release();
    return fd >= 0 && ::close(fd) == 0;
}

// ---- Directories ------------------------------------------------------------------------------

TDirectory TDirectory::Open(const std::string& path)
{
    return TDirectory(TFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
}

TDirectory TDirectory::OpenEntry(const std::string& name) const
{
    if (!fd_ || !IsPlainName(name))
        return TDirectory();
    return TDirectory(TFd(::openat(fd_.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
}

std::optional<TEntryStatus> TDirectory::Status() const
{
    struct stat info {};
    if (::fstat(fd_.Get(), &info) != 0)
        return std::nullopt;
    return StatusOf(info);
}

std::optional<TEntryStatus> TDirectory::Status(const std::string& name) const
{
    struct stat info {};
    if (::fstatat(fd_.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return StatusOf(info);
}

std::vector<std::string> TDirectory::Names() const
{
    std::vector<std::string> names;
    const int copy = ::dup(fd_.Get());
    if (copy < 0)
        return names;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool TDirectory::MakeDirectory(const std::string& name, unsigned mode) const
{
    return ::mkdirat(fd_.Get(), name.c_str(), mode) == 0;
}

bool TDirectory::MoveWithoutReplacing(const std::string& name, const TDirectory& into) const
{
    if (::renameat2(fd_.Get(), name.c_str(), into.fd_.Get(), name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // NTFS, exFAT and FAT through FUSE know no flags (EINVAL); a kernel without the call says ENOSYS.
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    const std::optional<TEntryStatus> before = Status(name);
    if (!before)
        return false;
    return before->directory ? MoveDirectoryByItsFiles(name, into) : MoveFileChecked(name, into, *before);
}

bool TDirectory::RenameWithoutReplacing(const std::string& name, const TDirectory& into,
                                        const std::string& newName) const
{
    return IsPlainName(name) && IsPlainName(newName)
        && ::renameat2(fd_.Get(), name.c_str(), into.fd_.Get(), newName.c_str(), RENAME_NOREPLACE) == 0;
}

bool TDirectory::SetMode(unsigned mode) const
{
    return ::fchmod(fd_.Get(), LessUmask(mode)) == 0 || KeepsNoPermissions(errno);
}

bool TDirectory::MoveFileChecked(const std::string& name, const TDirectory& into, const TEntryStatus& before) const
{
    // Every Kabinex moves in under this lock, so none renames over what another just brought in. A
    // case-blind file system finds the entry in any letter case on this lookup, as it would on
    // the rename.
    const TExclusion exclusion(into.fd_.Get());
    if (!exclusion.Held())
        return false;
    if (into.Status(name)) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT || ::renameat(fd_.Get(), name.c_str(), into.fd_.Get(), name.c_str()) != 0)
        return false;
    // fusefat sets the time to now on a rename: the file keeps the time it came with.
    const std::optional<TEntryStatus> after = into.Status(name);
    if (after && after->modified != before.modified) {
        // exfat-fuse and fusefat take no UTIME_OMIT: the access time is given as now.
        timespec times[2] = {{}, TimeOf(before.modified)};
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        ::utimensat(into.fd_.Get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    return true;
}

bool TDirectory::MoveDirectoryByItsFiles(const std::string& name, const TDirectory& into) const
{
    // fusefat answers the rename of a directory that holds entries with success and loses them:
    // the directory is made anew and its entries follow one by one. Making it is exclusive itself.
    if (!into.MakeDirectory(name, 0755))
        return false;
    const TDirectory from = OpenEntry(name);
    const TDirectory to = into.OpenEntry(name);
    if (!from || !to)
        return false;
    bool all = true;
    int error = 0;
    for (const std::string& entry : from.Names())
        if (!from.MoveWithoutReplacing(entry, to) && all) {
            all = false;
            error = errno;
        }
    if (!all) {
        errno = error;
        return false;
    }
    RemoveEmptyDirectory(name);
    return true;
}

bool TDirectory::KeepsFileNumbers() const
{
    // exFAT and FAT (the kernel's or through FUSE) number a file afresh at each lookup and after a
    // remount; FUSE file systems may do so in general.
    constexpr long FuseMagic = 0x65735546, MsdosMagic = 0x4d44, ExfatMagic = 0x2011bab0;
    struct statfs info {};
    if (::fstatfs(fd_.Get(), &info) != 0)
        return false;
    const long type = static_cast<long>(info.f_type);
    return type != FuseMagic && type != MsdosMagic && type != ExfatMagic;
}

bool TDirectory::OnNetworkShare() const
{
    constexpr long Nfs = 0x6969, Smb = 0x517b, Cifs = 0xff534d42, Smb2 = 0xfe534d42, V9fs = 0x01021997,
                   Ceph = 0x00c36400, Afs = 0x5346414f;
    struct statfs info {};
    if (::fstatfs(fd_.Get(), &info) != 0)
        return true; // unknown: taken as the least reliable
    const long type = static_cast<long>(info.f_type);
    return type == Nfs || type == Smb || type == Cifs || type == Smb2 || type == V9fs || type == Ceph || type == Afs;
}

bool TDirectory::RemoveFile(const std::string& name) const
{
    return ::unlinkat(fd_.Get(), name.c_str(), 0) == 0;
}

bool TDirectory::RemoveEmptyDirectory(const std::string& name) const
{
    return ::unlinkat(fd_.Get(), name.c_str(), AT_REMOVEDIR) == 0;
}

void TDirectory::RemoveTree(const std::string& name) const
{
    const std::optional<TEntryStatus> status = Status(name);
    if (!status)
        return;
    if (!status->directory) {
        RemoveFile(name);
        return;
    }
    {
        const TDirectory dir = OpenEntry(name);
        if (!dir)
            return;
        for (const std::string& entry : dir.Names())
            dir.RemoveTree(entry);
    }
    RemoveEmptyDirectory(name);
}

// ---- Reading ----------------------------------------------------------------------------------

TFd OpenRegularFile(const std::string& path, bool followLinks, struct stat& info)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW)));
    if (!fd)
        return fd;
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return TFd();
    }
    return fd;
}

bool ReadUpTo(int fd, std::string& bytes, std::size_t sizeHint, std::size_t limit)
{
    std::size_t got = bytes.size();
    bytes.resize(got + std::min(sizeHint, limit) + 1);
    for (;;) {
        if (got == bytes.size())
            bytes.resize(bytes.size() + bytes.size() / 2 + 65536);
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            bytes.resize(got);
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
        if (got > limit) {
            bytes.resize(got);
            return false;
        }
    }
    bytes.resize(got);
    return true;
}

TFileRead ReadFileUpTo(const std::string& path, std::size_t limit, bool followLinks)
{
    struct stat info {};
    const TFd fd = OpenRegularFile(path, followLinks, info);
    if (!fd)
        return {errno == ENOENT ? TReadFault::Missing : errno == EINVAL ? TReadFault::NotRegular : TReadFault::Unreadable, {}};
    if (static_cast<std::uint64_t>(info.st_size) > limit)
        return {TReadFault::TooLarge, {}};
    TFileRead read;
    if (!ReadUpTo(fd.Get(), read.bytes, static_cast<std::size_t>(info.st_size), limit))
        return {read.bytes.size() > limit ? TReadFault::TooLarge : TReadFault::Unreadable, {}};
    return read;
}

std::optional<TEntryStatus> PathStatus(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return StatusOf(info);
}

// ---- Writing ----------------------------------------------------------------------------------

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FollowLinks(std::string path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 256, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return path;
        target.resize(static_cast<std::size_t>(n));
        path = target.starts_with('/') ? target : DirectoryOf(path) + "/" + target;
    }
    return {};
}

std::string ListedPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::vector<std::string> names = TDirectory::Open(DirectoryOf(path)).Names();
    if (std::find(names.begin(), names.end(), name) != names.end())
        return path;
    const auto listed = std::find_if(names.begin(), names.end(),
                                     [&](const std::string& entry) { return EqualIgnoringAsciiCase(entry, name); });
    return listed == names.end() ? path : path.substr(0, slash + 1) + *listed;
}

bool MayWrite(const std::string& path, bool exists)
{
    return ::faccessat(AT_FDCWD, (exists ? path : DirectoryOf(path)).c_str(), W_OK, AT_EACCESS) == 0;
}

bool ReplaceFile(const std::string& path, const std::function<bool(int fd)>& write, const TReplaceMode& mode)
{
    const std::size_t slash = path.rfind('/');
    std::string temporary = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "."
        + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    TFd file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file)
        return false;
    const struct stat* old = mode.old;
    // Only root can give the file back to another owner; anyone else keeps the file as their own.
    // Where the file system keeps no owners (fusefat) the call fails and changes nothing.
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()))
        (void)!::fchown(file.Get(), old->st_uid, old->st_gid);
    const mode_t permissions = old ? old->st_mode & 07777 : LessUmask(mode.newFileMode);
    const bool permitted = ::fchmod(file.Get(), permissions) == 0 || KeepsNoPermissions(errno);
    const bool written = write(file.Get()) && permitted && ::fsync(file.Get()) == 0
        && file.Close() && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    const TFd directory(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory)
        ::fsync(directory.Get());
    return true;
}

void ReplaceFileWith(const std::string& path, std::string_view text, unsigned newFileMode)
{
    if (!ReplaceFile(path, [&](int fd) { return WriteAll(fd, text); }, TReplaceMode{nullptr, newFileMode}))
        throw WriteRefused(path);
}

void WriteNewFile(const std::string& path, const std::string& text, bool flush)
{
    TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd)
        throw EInOutError(IoCodeFromErrno(errno));
    int error = WriteAll(fd.Get(), text) ? 0 : (errno != 0 ? errno : EIO);
    if (error == 0 && flush && ::fsync(fd.Get()) != 0)
        error = errno;
    if (!fd.Close() && error == 0)
        error = errno;
    if (error != 0)
        throw EInOutError(IoCodeFromErrno(error));
}

void WriteOwnFile(const std::string& path, const std::vector<std::string>& lines)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw EInOutError(IoCodeFromErrno(errno));
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    WriteNewFile(path, text);
}

// ---- Paths ------------------------------------------------------------------------------------

bool RenameReplacing(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool EntryExists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool MakeDirectories(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error;
}

std::uint64_t TreeBytes(const std::string& dir)
{
    namespace fs = std::filesystem;
    std::uint64_t bytes = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        std::error_code sizeError;
        if (it->is_symlink(sizeError) || !it->is_regular_file(sizeError))
            continue;
        const std::uintmax_t size = it->file_size(sizeError);
        if (!sizeError)
            bytes += size;
    }
    return bytes;
}

Exception WriteRefused(const std::string& path)
{
    return Exception("nach " + path + " kann nicht geschrieben werden");
}

} // namespace platform
