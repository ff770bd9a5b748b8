#include "Extraction.h"

#include "FileSystem.h"
#include "SysUtils.h"
#include "Text.h"

#include <algorithm>
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
constexpr unsigned GameDirectoryMode = 0755;

TEntryState StateOf(const platform::TEntryStatus& status)
{
    return {status.directory, status.device, status.inode, status.size, status.modified, status.changed};
}

// The emulator directory is the user's choice and may be reached through links; what lies in it
// is opened only as real entries.
using platform::TDirectory;

// A time in the 2-second steps FAT keeps (exFAT keeps finer ones), floored, so that a time read
// before the file system has rounded it agrees with the one read back after a remount.
std::int64_t FatTime(std::int64_t nanoseconds)
{
    constexpr std::int64_t Step = 2000000000;
    return nanoseconds >= 0 ? nanoseconds / Step : -((-nanoseconds + Step - 1) / Step);
}

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
    if (!emulator.MakeDirectory(gameDirName, GameDirectoryMode)) {
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

bool TEntryState::Matches(const TEntryState& now, bool keepsFileNumbers) const
{
    if (directory != now.directory || size != now.size)
        return false;
    if (!keepsFileNumbers)
        return FatTime(modified) == FatTime(now.modified);
    return inode == now.inode && modified == now.modified
        && (changed == 0 ? device == now.device : changed == now.changed);
}

TStagedContent OpenStagedContent(const std::string& emulatorDir, const std::string& stagingName)
{
    TDirectory staging = TDirectory::Open(emulatorDir).OpenEntry(stagingName);
    const std::vector<std::string> names = staging ? staging.Names() : std::vector<std::string>();
    if (names.size() != 1)
        return {std::move(staging), {}, names.empty()};
    TDirectory folder = staging.OpenEntry(names.front());
    if (!folder)
        return {std::move(staging), {}, false};
    return {std::move(folder), names.front(), false};
}

bool HoldsNoGameFiles(const TStagedContent& content)
{
    const std::vector<std::string> names = content.dir.Names();
    return !content.empty && std::all_of(names.begin(), names.end(), [&](const std::string& name) {
        const std::optional<platform::TEntryStatus> status = content.dir.Status(name);
        return status && status->directory;
    });
}

TDirectoryState EntriesToMoveIn(const TDirectory& content, const std::string& emulatorDir,
                                const std::string& gameDirName)
{
    TDirectoryState entries;
    const TDirectory game = TDirectory::Open(emulatorDir).OpenEntry(gameDirName);
    if (!content || !game)
        return entries;
    for (const std::string& name : content.Names()) {
        if (game.Status(name) || errno != ENOENT)
            continue;
        if (const std::optional<platform::TEntryStatus> status = content.Status(name)) {
            TEntryState state = StateOf(*status);
            state.changed = 0; // the move changes it
            entries.emplace(name, state);
        }
    }
    return entries;
}

std::optional<TWholeContent> PrepareWholeMove(const TStagedContent& content, const std::string& emulatorDir,
                                              const std::string& gameDirName)
{
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    if (!emulator || !content.dir || emulator.Status(gameDirName) || errno != ENOENT
        || !content.dir.KeepsFileNumbers() || !content.dir.SetMode(GameDirectoryMode))
        return std::nullopt;
    TWholeContent whole;
    for (const std::string& name : content.dir.Names()) {
        const std::optional<platform::TEntryStatus> status = content.dir.Status(name);
        if (!status)
            return std::nullopt;
        whole.entries.emplace(name, StateOf(*status)); // a rename of their directory leaves them as they are
    }
    const std::optional<platform::TEntryStatus> dir = content.dir.Status();
    if (!dir)
        return std::nullopt;
    whole.dir = StateOf(*dir);
    return whole;
}

bool MoveWhole(const TStagedContent& content, const std::string& emulatorDir, const std::string& stagingName,
               const std::string& gameDirName)
{
    const TDirectory emulator = TDirectory::Open(emulatorDir);
    if (content.folder.empty())
        return IsStagingName(stagingName) && emulator.RenameWithoutReplacing(stagingName, emulator, gameDirName);
    return emulator.OpenEntry(stagingName).RenameWithoutReplacing(content.folder, emulator, gameDirName);
}

TMovedIn MoveIn(const TDirectory& content, const std::string& emulatorDir, const std::string& gameDirName,
                const TDirectoryState& entries)
{
    TMovedIn result;
    const TDirectory game = TDirectory::Open(emulatorDir).OpenEntry(gameDirName);
    if (!content || !game) {
        result.error = errno != 0 ? errno : ENOENT;
        return result;
    }
    for (const auto& [name, state] : entries) {
        if (!content.MoveWithoutReplacing(name, game)) {
            if (errno != EEXIST && result.error == 0)
                result.error = errno;
            continue;
        }
        if (const std::optional<platform::TEntryStatus> status = game.Status(name))
            result.moved.emplace(name, StateOf(*status));
    }
    return result;
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
    const bool keepsNumbers = gameDir.KeepsFileNumbers();
    for (const auto& [name, recorded] : created) {
        if (recorded.directory || IsKeptName(name, game) || !platform::IsPlainFileName(name))
            continue;
        const std::optional<platform::TEntryStatus> status = gameDir.Status(name);
        if (status && recorded.Matches(StateOf(*status), keepsNumbers))
            gameDir.RemoveFile(name);
    }
    // Where numbers change, the game's directory is the entry of its name; an empty one loses nothing.
    const std::optional<platform::TEntryStatus> now = gameDir.Status();
    if (madeGameDir && now
        && (!keepsNumbers || (now->device == madeGameDir->device && now->inode == madeGameDir->inode)))
        emulator.RemoveEmptyDirectory(gameDirName); // refused unless empty
}
