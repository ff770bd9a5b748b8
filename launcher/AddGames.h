// Games found on disk, added to the catalogue: each archive of the ZIP directory, and each game
// directory of the emulator directory that the emulator's own list names, when the catalogue does
// not hold it yet.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIniFile;

namespace addgames {

struct TGameEntry {
    std::string name;
    std::string description;
};

// Where to look. An empty emulatorDir means none is set; so does a missing zipDir.
struct TCollectionDirs {
    std::string emulatorDir;
    std::optional<std::string> zipDir;
};

struct TAddResult {
    std::vector<TGameEntry> added; // in the order they were written
    std::vector<std::string> skipped; // names found on disk that cannot be a settings key
};

// Told the fraction done, now and then, during a long scan; 1 at its end.
using TProgress = std::function<void(float fraction)>;

// The sets of the emulator's "-listfull" output: a header line, then per line a name, blanks and
// the description in double quotes. Lines without a name are passed over.
std::vector<TGameEntry> ParseGameList(std::string_view text);

// The emulator's list of its games, from running the emulator of emulatorDir with "-listfull";
// nothing when it cannot be run or fails.
std::optional<std::vector<TGameEntry>> ReadEmulatorList(const std::string& emulatorDir);

// Whether name can stand as a key of the settings file and read back as it is: valid UTF-8, not
// empty, no control characters, no "=", no leading "[" or ";", no surrounding blanks.
bool UsableAsKey(std::string_view name);

// The games on disk that the catalogue of settings does not hold, sorted by description
// ignoring letter case, with the names that had to be skipped. Writes nothing.
TAddResult FindNewGames(const TIniFile& settings, const TCollectionDirs& dirs,
                        const std::optional<std::vector<TGameEntry>>& gameList, const TProgress& progress = {});

// FindNewGames with the emulator's own list, then the new entries written at the end of the
// "games" section in one write of the whole file. Throws when the file cannot be written.
TAddResult AddGamesFromDisk(TIniFile& settings, const TCollectionDirs& dirs, const TProgress& progress = {});

// What an addition did, for the user: how many were added, and the names skipped.
std::string Summary(const TAddResult& result);

// The directories the settings file names, as the main window reads them at start.
TCollectionDirs DirsFromSettings(const TIniFile& settings);

// The program's own options (--add-games, --help), run in the current (program) directory.
// Nothing when the arguments ask for the window (none, or Qt's own one-dash options); otherwise
// the exit status.
std::optional<int> RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace addgames
