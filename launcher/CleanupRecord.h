// The on-disk record of a clean-up still to be done, kept from before an extraction starts until
// its files are taken back, so that a later start can finish it when this Kabinex ends first
// (quit, crash, killed). One file per clean-up in $XDG_STATE_HOME/kabinex/ (by default
// ~/.local/state/kabinex/).
#pragma once

#include "Extraction.h"
#include "ProcessIdentity.h"

#include <optional>
#include <string>
#include <vector>

struct TCleanupRecord {
    std::string game;
    std::string gameDir;     // absolute
    std::string emulatorDir; // absolute: the lock file and the script are there
    TDirectoryState before;  // the game's directory before the extraction
    // What the extraction created, once it has completed; until then the extraction is under way.
    std::optional<TDirectoryState> created;
    TProcessIdentity owner; // the Kabinex that made the record
    // The extraction script while it runs, then the emulators started on the directory.
    std::vector<TProcessIdentity> processes;

    // Takes back what the extraction put there: while it was under way, every file it added
    // and the lock file and script; afterwards, the files it created that are still unchanged.
    void Finish() const;
};

// $XDG_STATE_HOME/kabinex, or ~/.local/state/kabinex when that is not set (or not absolute).
std::string CleanupRecordDir();

// A new, unused file name in the record directory (which is created when missing).
std::string NewCleanupRecordPath();
// Every record file in the record directory.
std::vector<std::string> CleanupRecordPaths();

std::string SerializeCleanupRecord(const TCleanupRecord& record);
// Nothing when the text is no complete record.
std::optional<TCleanupRecord> ParseCleanupRecord(const std::string& text);

// Replaces the file whole or not at all (temporary file, flushed, renamed). Throws EInOutError.
void SaveCleanupRecord(const std::string& path, const TCleanupRecord& record);
std::optional<TCleanupRecord> LoadCleanupRecord(const std::string& path);
