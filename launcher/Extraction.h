// Extracting a game's ZIP archive into its directory through the lock file and a two-line
// shell script, and removing afterwards only what the extraction added.
#pragma once

#include <set>
#include <string>
#include <vector>

// The text in single quotes for /bin/sh: blanks, quotes, "$" and ";" stay plain characters.
std::string ShellQuote(const std::string& text);

// The script's two lines: the unzip tool (as given, it may carry options of its own) extracting
// the archive into the game's directory, then the removal of the lock file.
std::vector<std::string> ExtractionScript(const std::string& unzipper, const std::string& archive,
                                          const std::string& gameDir, const std::string& lockFile);

// The names a clean-up never removes from a game's directory: the dot entries, the read-me,
// high-score and key-definition files, and the game's own emulator file NAME.MVE (NAME the
// ROM-set name in ASCII capitals). Compared exactly, letter case included.
bool IsKeptName(const std::string& entry, const std::string& game);

// The names in a game's directory, as they stand now.
std::set<std::string> Snapshot(const std::string& gameDir);

// Removes the files of gameDir that are not in `before` and not kept; subdirectories are never
// entered or removed, and a removal the system refuses is passed over. When the directory itself
// did not exist before (`before` is empty), it goes too once nothing is left in it.
void RemoveExtracted(const std::string& gameDir, const std::string& game, const std::set<std::string>& before);
