#include "FileSystem.h"

#include "SysUtils.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
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

int CountDirectoryEntries(const std::string& dir)
{
    int count = 0;
    ForEachEntry(dir, [&](std::string_view) { ++count; });
    return count;
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
