// Extracting a game's ZIP archive into its directory through the lock file and a two-line shell
// script, and taking back afterwards only what the extraction put there. Only the policy stands
// here (which entries, which names, in which order); every file operation is platform/Files'.
#pragma once

#include "Files.h"

#include <cstdint>
#include <map>
#include <optional>
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
// Info-ZIP ends with 82 when a password given with its options is wrong, and with 5 (a severe
// error) when, run without a terminal, it cannot ask for one.
inline bool UnzipWantedPassword(int status, bool encrypted)
{
    return status == 82 || (status == 5 && encrypted);
}

// The names a clean-up never removes from a game's directory: the dot entries, the read-me,
// high-score and key-definition files, and the game's own emulator file NAME.MVE (NAME the
// ROM-set name in ASCII capitals). Compared exactly, letter case included.
bool IsKeptName(const std::string& entry, const std::string& game);

// What one directory entry is: a file rewritten, replaced or grown is another. It is taken as the
// entry stands after the move into the game's directory (a move may change its times).
struct TEntryState {
    bool directory = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0; // nanoseconds
    std::int64_t changed = 0;  // status change, nanoseconds; 0 until known
    bool operator==(const TEntryState&) const = default;

    // The entry now is the one recorded, unchanged. Where the file system keeps its files'
    // numbers, number, size and times say it; the device only while the status change time is
    // unknown (a stick put back may get another device number, and the status change time cannot
    // be set from outside). Where it does not (exFAT, FAT, FUSE), the entry of the recorded name
    // is it when size and time agree, the time in the 2 seconds FAT keeps.
    bool Matches(const TEntryState& now, bool keepsFileNumbers) const;
};

// Entries of one directory by name.
using TDirectoryState = std::map<std::string, TEntryState>;

// The name of the private directory an extraction of game unpacks into, beside the game's
// directory: hidden, and never the name of a game (it starts with a dot).
std::string NewStagingName(const std::string& game);
bool IsStagingName(const std::string& name);

// Makes the private directory stagingName in emulatorDir; false when it exists or cannot be made.
bool MakeStagingDirectory(const std::string& emulatorDir, const std::string& stagingName);

// The game's directory in emulatorDir, made when missing (never through a link). Its state when
// this call made it, nothing when it stood there already. Throws EInOutError naming the reason.
std::optional<TEntryState> EnsureGameDirectory(const std::string& emulatorDir, const std::string& gameDirName);

// What the archive brought for the game, in the private directory: the directory itself, or its
// one entry when that is a folder and nothing else stands there (downloaded sets often hold their
// files in a folder named after the game). Links are never followed.
struct TStagedContent {
    platform::TDirectory dir;
    std::string folder; // the name of that one folder; empty when dir is the private directory
    bool empty = true;  // the archive brought nothing at all
};
TStagedContent OpenStagedContent(const std::string& emulatorDir, const std::string& stagingName);

// The archive brought entries, and not one file the game could read among them: folders only.
bool HoldsNoGameFiles(const TStagedContent& content);

// The entries of content whose names the game's directory lacks, each with its state: what a
// move would bring in.
TDirectoryState EntriesToMoveIn(const platform::TDirectory& content, const std::string& emulatorDir,
                                const std::string& gameDirName);

// Where the game's directory does not stand yet, the content can become it in one rename, and
// every entry keeps its number and times. What that brings: each entry's state and the directory's
// own, given the mode a made game directory gets. Nothing where it cannot be taken that way: the
// game's directory stands, or the file system does not keep its files' numbers (on FAT through
// FUSE a renamed directory loses its entries).
struct TWholeContent {
    TDirectoryState entries;
    TEntryState dir;
};
std::optional<TWholeContent> PrepareWholeMove(const TStagedContent& content, const std::string& emulatorDir,
                                              const std::string& gameDirName);
// The rename of the content as the game's directory, never over an entry that stands there; false
// when the system refuses it (the content then stays where it is).
bool MoveWhole(const TStagedContent& content, const std::string& emulatorDir, const std::string& stagingName,
               const std::string& gameDirName);

struct TMovedIn {
    TDirectoryState moved; // as each entry stands in the game's directory after its move
    int error = 0;         // the first move the system refused; 0 when none was
};
// Moves the entries into the game's directory, never over anything that stands there (an entry
// that appeared meanwhile keeps the private copy out, and is no failure).
TMovedIn MoveIn(const platform::TDirectory& content, const std::string& emulatorDir, const std::string& gameDirName,
                const TDirectoryState& entries);

// Removes the private directory with everything in it; links in it are removed, never followed.
void RemoveStaging(const std::string& emulatorDir, const std::string& stagingName);

// Removes from the game's directory the files of `created` that are still exactly as recorded;
// kept names, directories and everything else stay, and a removal the system refuses is passed
// over. madeGameDir: the game's directory as the extraction made it; it goes too once empty.
// The game's directory is only taken as the entry of that name, never through a link.
void RemoveUnchanged(const std::string& emulatorDir, const std::string& gameDirName, const std::string& game,
                     const TDirectoryState& created, const std::optional<TEntryState>& madeGameDir);

// The bytes of the regular files under dir: how far an extraction has come.
