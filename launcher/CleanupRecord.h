// The on-disk record of a launch: which emulators run on a game's directory and what the
// extraction for it brought in, kept until its files are taken back. Every Kabinex of the user
// reads every record, so a clean-up never runs under a game another one started, and a later
// start finishes what an ended Kabinex (quit, crash, killed) left undone. One file per launch in
// $XDG_STATE_HOME/kabinex/ (by default ~/.local/state/kabinex/).
#pragma once

#include "Extraction.h"
#include "ProcessIdentity.h"

#include <optional>
#include <string>
#include <vector>

struct TCleanupRecord {
    std::string game;        // as the catalogue names it
    std::string emulatorDir; // absolute: the game's directory, the private one, the lock file are there
    std::string gameDirName; // the entry of emulatorDir that is the game's directory (any letter case)
    // The private directory the extraction unpacks into; empty for a launch without extraction.
    std::string staging;
    // The game's directory as the extraction made it; nothing when it stood there before.
    std::optional<TEntryState> madeGameDir;
    // What the extraction brings into the game's directory, each recorded before it is moved
    // there; nothing while the unzip tool still runs. Empty for a launch without extraction.
    std::optional<TDirectoryState> created;
    TProcessIdentity owner; // the Kabinex that made the record, or took it over
    // The extraction script while it runs; then the emulator, leading a session of its own.
    std::vector<TProcessIdentity> processes;
    // The environment entry (NAME=VALUE) the emulator is started with, recorded before it starts:
    // a Kabinex that ends before it has recorded the emulator leaves a way to find it.
    std::string launchMark;

    std::string GameDir() const;
    bool Extracting() const { return !created.has_value(); }

    // Takes back what the extraction brought in: the private directory, and the files moved into
    // the game's directory that are still unchanged.
    void Finish() const;
};

// Why a record must not be acted on; nothing when every rule holds: plain names (no "/", no
// "..", no NUL), a game directory that is the emulator directory's entry of the game's name, a
// private directory of Kabinex's own naming, processes other than init.
std::optional<std::string> RecordFault(const TCleanupRecord& record);

// The environment entry an emulator recorded at recordPath is started with: unique, as the
// record's file name is.
std::string LaunchMark(const std::string& recordPath);

// $XDG_STATE_HOME/kabinex, or ~/.local/state/kabinex when that is not set (or not absolute).
std::string CleanupRecordDir();

// A new, unused file name in the record directory (which is created when missing).
std::string NewCleanupRecordPath();
// Every record file in the record directory.
std::vector<std::string> CleanupRecordPaths();

std::string SerializeCleanupRecord(const TCleanupRecord& record);
// Nothing when the text is no complete record.
std::optional<TCleanupRecord> ParseCleanupRecord(const std::string& text);

// Replaces the file whole or not at all, through the file layer's one atomic path (temporary
// file, flushed, renamed, the directory flushed). Throws Exception naming the file.
void SaveCleanupRecord(const std::string& path, const TCleanupRecord& record);

// Records larger than this are damaged: no launch writes one anywhere near it.
inline constexpr std::int64_t MaxRecordBytes = 64 << 20;

struct TLoadedRecord {
    std::optional<TCleanupRecord> record; // set when the file is a record passing every rule
    std::string fault;                    // why it is none; empty when the file is gone
};
// Reads a record, never through a link, never more than MaxRecordBytes.
TLoadedRecord LoadCleanupRecord(const std::string& path);

// Puts a record that failed a rule aside under another name, where no Kabinex reads it again;
// returns that name (empty when it could not be moved).
std::string SetRecordAside(const std::string& path);
