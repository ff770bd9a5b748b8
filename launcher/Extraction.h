// Extracting a game's ZIP archive into its directory through the lock file and a two-line shell
// script, and taking back afterwards only what the extraction put there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The text in single quotes for /bin/sh: blanks, quotes, "$" and ";" stay plain characters.
std::string ShellQuote(const std::string& text);

// Info-ZIP reads "?", "*" and "[" in an archive name as wildcards (the game "sf?" would take
// sf1.zip along); in brackets each stands for itself.
std::string ZipNameLiteral(const std::string& archive);

// The script's two lines: the unzip tool (as given, it may carry options of its own) extracting
// the archive into the game's directory without replacing anything there, then the removal of
// the lock file, ending with the unzip tool's exit status.
std::vector<std::string> ExtractionScript(const std::string& unzipper, const std::string& archive,
                                          const std::string& gameDir, const std::string& lockFile);

// Info-ZIP's exit status 1 is a warning; 2 and above mean the extraction failed.
inline bool UnzipFailed(int status)
{
    return status >= 2;
}

// Creates a file that does not exist yet (never through a link) holding text, flushed to disk
// when asked. Throws EInOutError on failure.
void WriteNewFile(const std::string& path, const std::string& text, bool flush = false);

// Creates or truncates a file with the given lines, each ended by a line feed. A link of that
// name is replaced, never followed. Throws EInOutError on failure.
void WriteOwnFile(const std::string& path, const std::vector<std::string>& lines);

// The names a clean-up never removes from a game's directory: the dot entries, the read-me,
// high-score and key-definition files, and the game's own emulator file NAME.MVE (NAME the
// ROM-set name in ASCII capitals). Compared exactly, letter case included.
bool IsKeptName(const std::string& entry, const std::string& game);

// What one directory entry looks like; writing, replacing or touching it changes one of these.
struct TEntryState {
    bool directory = false;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0; // nanoseconds
    std::int64_t changed = 0;  // status change, nanoseconds
    bool operator==(const TEntryState&) const = default;
};

// The entries of a directory by name, "." and ".." included; empty when it does not exist.
using TDirectoryState = std::map<std::string, TEntryState>;

TDirectoryState Snapshot(const std::string& dir);

// The entries of `after` that `before` does not name.
TDirectoryState AddedEntries(const TDirectoryState& before, const TDirectoryState& after);

// Removes the files of `created` that are still exactly as recorded; kept names, directories
// and everything else stay, and a removal the system refuses is passed over. When the extraction
// made the directory itself, it goes too once nothing is left in it.
void RemoveUnchanged(const std::string& gameDir, const std::string& game, const TDirectoryState& created,
                     bool directoryCreated);

// For an extraction that did not complete: removes every file `before` does not name (except
// the kept ones), and the directory when it is empty and was not there before.
void RemoveAddedFiles(const std::string& gameDir, const std::string& game, const TDirectoryState& before);

// The bytes of regular files in gameDir (subdirectories included) under names `before` lacks.
std::uint64_t AddedBytes(const std::string& gameDir, const TDirectoryState& before);
