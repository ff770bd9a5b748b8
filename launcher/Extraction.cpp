#include "Extraction.h"

#include "FileSystem.h"
#include "SysUtils.h"

#include <cerrno>
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

std::int64_t Nanoseconds(const timespec& time)
{
    return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool StateOf(const std::string& path, TEntryState& state)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return false;
    state = {S_ISDIR(info.st_mode), info.st_ino, info.st_size, Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim)};
    return true;
}

} // namespace

bool IsKeptName(const std::string& entry, const std::string& game)
{
    return entry == "." || entry == ".." || entry == "README.TXT" || entry == "HISCORES.DAT" || entry == "KEYDEF.DAT"
        || entry == AsciiUpper(game) + ".MVE";
}

TDirectoryState Snapshot(const std::string& dir)
{
    TDirectoryState state;
    for (const std::string& entry : platform::DirectoryEntries(dir)) {
        TEntryState entryState;
        if (StateOf(platform::JoinPath(dir, entry), entryState))
            state.emplace(entry, entryState);
    }
    return state;
}

TDirectoryState AddedEntries(const TDirectoryState& before, const TDirectoryState& after)
{
    TDirectoryState added;
    for (const auto& [name, state] : after)
        if (!before.contains(name))
            added.emplace(name, state);
    return added;
}

void RemoveUnchanged(const std::string& gameDir, const std::string& game, const TDirectoryState& created,
                     bool directoryCreated)
{
    for (const auto& [name, recorded] : created) {
        if (recorded.directory || IsKeptName(name, game))
            continue;
        const std::string path = platform::JoinPath(gameDir, name);
        TEntryState now;
        if (StateOf(path, now) && now == recorded)
            platform::DeleteFile(path);
    }
    if (directoryCreated)
        platform::RemoveEmptyDirectory(gameDir);
}

void RemoveAddedFiles(const std::string& gameDir, const std::string& game, const TDirectoryState& before)
{
    for (const auto& [name, state] : AddedEntries(before, Snapshot(gameDir)))
        if (!state.directory && !IsKeptName(name, game))
            platform::DeleteFile(platform::JoinPath(gameDir, name));
    if (before.empty())
        platform::RemoveEmptyDirectory(gameDir);
}

std::uint64_t AddedBytes(const std::string& gameDir, const TDirectoryState& before)
{
    namespace fs = std::filesystem;
    std::uint64_t bytes = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(gameDir, error), end; !error && it != end; it.increment(error)) {
        const fs::path relative = it->path().lexically_relative(gameDir);
        if (before.contains(relative.begin()->string()))
            continue;
        std::error_code sizeError;
        if (it->is_symlink(sizeError) || !it->is_regular_file(sizeError))
            continue;
        const std::uintmax_t size = it->file_size(sizeError);
        if (!sizeError)
            bytes += size;
    }
    return bytes;
}
