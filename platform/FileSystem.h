// The file-system services the launcher needs, on POSIX. Nothing above this layer calls the
// system's file APIs for these directly.
#pragma once

#include <string>
#include <vector>

namespace platform {

inline constexpr char PathDelim = '/';

// The process's current directory, absolute, without a trailing separator (except the root).
std::string CurrentDir();

// dir followed by piece, with one separator between them unless dir already ends with one.
std::string JoinPath(const std::string& dir, const std::string& piece);

// path itself when absolute, else taken from the current directory.
std::string AbsolutePath(const std::string& path);

// The names of every entry of a directory, of any kind, "." and ".." included; empty when
// the directory cannot be listed.
std::vector<std::string> DirectoryEntries(const std::string& dir);

// How many entries DirectoryEntries would return, without building the list.
int CountDirectoryEntries(const std::string& dir);

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
