#include "Extraction.h"

#include "FileSystem.h"
#include "SysUtils.h"
#include "Text.h"

#include <cerrno>
#include <cstring>
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

namespace {

constexpr const char* StagingPrefix = ".kabinex-";

TEntryState StateOf(const platform::TEntryStatus& status)
{
    return {status.directory, status.device, status.inode, status.size, status.modified, status.changed};
}

// The emulator directory is the user's choice and may be reached through links; what lies in it
// is opened only as real entries.
using platform::TDirectory;

} // namespace

bool IsKeptName(const std::string& entry, const std::string& game)
{
    return entry == "." || entry == ".." || entry == "README.TXT" || entry == "HISCORES.DAT" || entry == "KEYDEF.DAT"
        || entry == platform::AsciiUpperCase(game) + ".MVE";
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
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    return emulator && IsStagingName(stagingName) && emulator.MakeDirectory(stagingName, 0700);
}

std::optional<TEntryState> EnsureGameDirectory(const std::string& emulatorDir, const std::string& gameDirName)
{
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    if (!emulator)
        throw EInOutError(IoCodeFromErrno(errno));
    if (!emulator.MakeDirectory(gameDirName, 0755)) {
        if (errno != EEXIST)
            throw EInOutError(IoCodeFromErrno(errno));
        if (!emulator.OpenEntry(gameDirName))
            throw EInOutError(IoCodeFromErrno(errno == ELOOP ? ENOTDIR : errno));
        return std::nullopt;
    }
    const std::optional<platform::TEntryStatus> made = emulator.Status(gameDirName);
    if (!made)
        throw EInOutError(IoCodeFromErrno(errno));
    return StateOf(*made);
}

TDirectoryState EntriesToMoveIn(const std::string& emulatorDir, const std::string& stagingName,
                                const std::string& gameDirName)
{
    TDirectoryState entries;
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    const TDirectory staging = emulator.OpenEntry(stagingName);
    const TDirectory game = emulator.OpenEntry(gameDirName);
    if (!staging || !game)
        return entries;
    for (const std::string& name : staging.Names()) {
        if (game.Status(name) || errno != ENOENT)
            continue;
        if (const std::optional<platform::TEntryStatus> status = staging.Status(name)) {
            TEntryState state = StateOf(*status);
            state.changed = 0; // the move changes it
            entries.emplace(name, state);
        }
    }
    return entries;
}

void MoveIn(const std::string& emulatorDir, const std::string& stagingName, const std::string& gameDirName,
            const TDirectoryState& entries)
{
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    const TDirectory staging = emulator.OpenEntry(stagingName);
    const TDirectory game = emulator.OpenEntry(gameDirName);
    if (!staging || !game)
        return;
    for (const auto& [name, state] : entries)
        staging.MoveWithoutReplacing(name, game);
}

TDirectoryState MovedStates(const std::string& emulatorDir, const std::string& gameDirName,
                            const TDirectoryState& entries)
{
    TDirectoryState moved;
    const TDirectory game = TDirectory::Open(emulatorDir).OpenEntry(gameDirName);
    if (!game)
        return moved;
    for (const auto& [name, recorded] : entries) {
        const std::optional<platform::TEntryStatus> status = game.Status(name);
        if (status && recorded.Matches(StateOf(*status)))
            moved.emplace(name, StateOf(*status));
    }
    return moved;
}

void RemoveStaging(const std::string& emulatorDir, const std::string& stagingName)
{
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    if (emulator && IsStagingName(stagingName))
        emulator.RemoveTree(stagingName);
}

void RemoveUnchanged(const std::string& emulatorDir, const std::string& gameDirName, const std::string& game,
                     const TDirectoryState& created, const std::optional<TEntryState>& madeGameDir)
{
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    const TDirectory gameDir = emulator.OpenEntry(gameDirName);
    if (!gameDir)
        return;
    for (const auto& [name, recorded] : created) {
        if (recorded.directory || IsKeptName(name, game) || !platform::IsPlainFileName(name))
            continue;
        const std::optional<platform::TEntryStatus> status = gameDir.Status(name);
        if (status && recorded.Matches(StateOf(*status)))
            gameDir.RemoveFile(name);
    }
    const std::optional<platform::TEntryStatus> now = gameDir.Status();
    if (madeGameDir && now && now->device == madeGameDir->device && now->inode == madeGameDir->inode)
        emulator.RemoveEmptyDirectory(gameDirName); // refused unless empty
}
