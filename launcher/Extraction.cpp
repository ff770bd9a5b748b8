#include "Extraction.h"

#include "FileSystem.h"
#include "SysUtils.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string ZipNameLiteral(const std::string& archive)
{
    std::string literal;
    for (char c : archive) {
        if (c == '?' || c == '*' || c == '[')
            literal += std::string("[") + c + "]";
        else
            literal += c;
    }
    return literal;
}

std::vector<std::string> ExtractionScript(const std::string& unzipper, const std::string& archive,
                                          const std::string& gameDir, const std::string& lockFile)
{
    return {unzipper + " -n " + ShellQuote(ZipNameLiteral(archive)) + " -d " + ShellQuote(gameDir),
            "status=$?; rm -f " + ShellQuote(lockFile) + "; exit $status"};
}

void WriteNewFile(const std::string& path, const std::string& text, bool flush)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EInOutError(IoCodeFromErrno(errno));
    int error = 0;
    for (std::size_t done = 0; done < text.size() && error == 0;) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written >= 0)
            done += static_cast<std::size_t>(written);
        else if (errno != EINTR)
            error = errno;
    }
    if (error == 0 && flush && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
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

namespace {

std::string AsciiUpper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

constexpr const char* StagingPrefix = ".kabinex-";

std::int64_t Nanoseconds(const timespec& time)
{
    return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

TEntryState StateOf(const struct stat& info)
{
    return {S_ISDIR(info.st_mode), info.st_dev, info.st_ino, info.st_size, Nanoseconds(info.st_mtim),
            Nanoseconds(info.st_ctim)};
}

// A descriptor that closes itself.
class TDirFd {
public:
    explicit TDirFd(int fd) : fd_(fd) {}
    ~TDirFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TDirFd(const TDirFd&) = delete;
    TDirFd& operator=(const TDirFd&) = delete;
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// The emulator directory is the user's choice and may be reached through links; what lies in it
// is opened only as real entries.
TDirFd OpenDir(const std::string& path)
{
    return TDirFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TDirFd OpenEntryDir(int parent, const std::string& name)
{
    if (parent < 0 || !platform::IsPlainFileName(name))
        return TDirFd(-1);
    return TDirFd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::vector<std::string> NamesIn(int dirFd)
{
    std::vector<std::string> names;
    const int copy = ::dup(dirFd);
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

void RemoveTreeAt(int parent, const std::string& name)
{
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlinkat(parent, name.c_str(), 0);
        return;
    }
    {
        const TDirFd dir = OpenEntryDir(parent, name);
        if (!dir)
            return;
        for (const std::string& entry : NamesIn(dir.Get()))
            RemoveTreeAt(dir.Get(), entry);
    }
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

} // namespace

bool IsKeptName(const std::string& entry, const std::string& game)
{
    return entry == "." || entry == ".." || entry == "README.TXT" || entry == "HISCORES.DAT" || entry == "KEYDEF.DAT"
        || entry == AsciiUpper(game) + ".MVE";
}

std::string NewStagingName(const std::string& game)
{
    static unsigned counter = 0;
    return std::string(StagingPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + game;
}

bool IsStagingName(const std::string& name)
{
    return platform::IsPlainFileName(name) && name.starts_with(StagingPrefix) && name.size() > std::strlen(StagingPrefix);
}

bool MakeStagingDirectory(const std::string& emulatorDir, const std::string& stagingName)
{
    const TDirFd emulator = OpenDir(emulatorDir);
    return emulator && IsStagingName(stagingName) && ::mkdirat(emulator.Get(), stagingName.c_str(), 0700) == 0;
}

std::optional<TEntryState> EnsureGameDirectory(const std::string& emulatorDir, const std::string& gameDirName)
{
    const TDirFd emulator = OpenDir(emulatorDir);
    if (!emulator)
        throw EInOutError(IoCodeFromErrno(errno));
    if (::mkdirat(emulator.Get(), gameDirName.c_str(), 0755) != 0) {
        if (errno != EEXIST)
            throw EInOutError(IoCodeFromErrno(errno));
        if (!OpenEntryDir(emulator.Get(), gameDirName))
            throw EInOutError(IoCodeFromErrno(errno == ELOOP ? ENOTDIR : errno));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstatat(emulator.Get(), gameDirName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        throw EInOutError(IoCodeFromErrno(errno));
    return StateOf(info);
}

TDirectoryState EntriesToMoveIn(const std::string& emulatorDir, const std::string& stagingName,
                                const std::string& gameDirName)
{
    TDirectoryState entries;
    const TDirFd emulator = OpenDir(emulatorDir);
    const TDirFd staging = OpenEntryDir(emulator.Get(), stagingName);
    const TDirFd game = OpenEntryDir(emulator.Get(), gameDirName);
    if (!staging || !game)
        return entries;
    for (const std::string& name : NamesIn(staging.Get())) {
        struct stat info {};
        if (::fstatat(game.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
            continue;
        if (::fstatat(staging.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            TEntryState state = StateOf(info);
            state.changed = 0; // the move changes it
            entries.emplace(name, state);
        }
    }
    return entries;
}

void MoveIn(const std::string& emulatorDir, const std::string& stagingName, const std::string& gameDirName,
            const TDirectoryState& entries)
{
    const TDirFd emulator = OpenDir(emulatorDir);
    const TDirFd staging = OpenEntryDir(emulator.Get(), stagingName);
    const TDirFd game = OpenEntryDir(emulator.Get(), gameDirName);
    if (!staging || !game)
        return;
    for (const auto& [name, state] : entries)
        ::renameat2(staging.Get(), name.c_str(), game.Get(), name.c_str(), RENAME_NOREPLACE);
}

TDirectoryState MovedStates(const std::string& emulatorDir, const std::string& gameDirName,
                            const TDirectoryState& entries)
{
    TDirectoryState moved;
    const TDirFd emulator = OpenDir(emulatorDir);
    const TDirFd game = OpenEntryDir(emulator.Get(), gameDirName);
    if (!game)
        return moved;
    for (const auto& [name, recorded] : entries) {
        struct stat info {};
        if (::fstatat(game.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && recorded.Matches(StateOf(info)))
            moved.emplace(name, StateOf(info));
    }
    return moved;
}

void RemoveStaging(const std::string& emulatorDir, const std::string& stagingName)
{
    const TDirFd emulator = OpenDir(emulatorDir);
    if (emulator && IsStagingName(stagingName))
        RemoveTreeAt(emulator.Get(), stagingName);
}

void RemoveUnchanged(const std::string& emulatorDir, const std::string& gameDirName, const std::string& game,
                     const TDirectoryState& created, const std::optional<TEntryState>& madeGameDir)
{
    const TDirFd emulator = OpenDir(emulatorDir);
    const TDirFd gameDir = OpenEntryDir(emulator.Get(), gameDirName);
    if (!gameDir)
        return;
    for (const auto& [name, recorded] : created) {
        if (recorded.directory || IsKeptName(name, game) || !platform::IsPlainFileName(name))
            continue;
        struct stat info {};
        if (::fstatat(gameDir.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && recorded.Matches(StateOf(info)))
            ::unlinkat(gameDir.Get(), name.c_str(), 0);
    }
    struct stat info {};
    if (madeGameDir && ::fstat(gameDir.Get(), &info) == 0 && info.st_dev == madeGameDir->device
        && info.st_ino == madeGameDir->inode)
        ::unlinkat(emulator.Get(), gameDirName.c_str(), AT_REMOVEDIR); // refused unless empty
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
