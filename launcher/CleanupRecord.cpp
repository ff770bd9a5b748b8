#include "CleanupRecord.h"

#include "FileSystem.h"
#include "Files.h"
#include "SysUtils.h"
#include "TabFields.h"

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <sstream>
#include <unistd.h>

namespace {

constexpr const char* Header = "kabinex-cleanup 2";
constexpr const char* AsideSuffix = ".set-aside";
constexpr const char* RecordSuffix = ".cleanup";

std::string ProcessLine(const char* tag, const TProcessIdentity& process)
{
    return std::string(tag) + '\t' + std::to_string(process.pid) + '\t' + std::to_string(process.startTicks) + '\t'
        + EscapeField(process.bootId) + '\n';
}

std::string StateFields(const TEntryState& state)
{
    return std::string(state.directory ? "d" : "f") + '\t' + std::to_string(state.device) + '\t'
        + std::to_string(state.inode) + '\t' + std::to_string(state.size) + '\t' + std::to_string(state.modified) + '\t' + std::to_string(state.changed);
}

std::string EntryLines(const char* tag, const TDirectoryState& entries)
{
    std::string lines;
    for (const auto& [name, state] : entries)
        lines += std::string(tag) + '\t' + EscapeField(name) + '\t' + StateFields(state) + '\n';
    return lines;
}

// The whole text as a number; throws std::invalid_argument otherwise.
template <class Number>
Number Parse(const std::string& text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::invalid_argument(text);
    return value;
}

TProcessIdentity ParseProcess(const std::vector<std::string>& fields)
{
    if (fields.size() != 4)
        throw std::invalid_argument("process");
    return {Parse<pid_t>(fields[1]), Parse<std::uint64_t>(fields[2]), fields[3]};
}

// The state in fields[first] to fields[first + 5].
TEntryState ParseState(const std::vector<std::string>& fields, std::size_t first)
{
    if (fields.size() != first + 6 || (fields[first] != "d" && fields[first] != "f"))
        throw std::invalid_argument("entry");
    return {fields[first] == "d", Parse<std::uint64_t>(fields[first + 1]), Parse<std::uint64_t>(fields[first + 2]),
            Parse<std::int64_t>(fields[first + 3]), Parse<std::int64_t>(fields[first + 4]),
            Parse<std::int64_t>(fields[first + 5])};
}

std::pair<std::string, TEntryState> ParseEntry(const std::vector<std::string>& fields)
{
    if (fields.size() < 2)
        throw std::invalid_argument("entry");
    return {fields[1], ParseState(fields, 2)};
}

bool HasNul(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

bool IsSafeName(const std::string& name)
{
    return platform::IsPlainFileName(name) && !HasNul(name);
}

// Records are the user's own: readable, written by the user alone.
constexpr unsigned RecordFileMode = 0644;

// A record's file name: something before the suffix, as a file extension needs.
bool IsRecordName(const std::string& name)
{
    return name.size() > std::strlen(RecordSuffix) && name.ends_with(RecordSuffix);
}

} // namespace

std::string TCleanupRecord::GameDir() const
{
    return platform::JoinPath(emulatorDir, gameDirName);
}

void TCleanupRecord::Finish() const
{
    if (!staging.empty())
        RemoveStaging(emulatorDir, staging);
    RemoveUnchanged(emulatorDir, gameDirName, game, created.value_or(TDirectoryState{}), madeGameDir);
}

std::optional<std::string> RecordFault(const TCleanupRecord& record)
{
    if (!IsSafeName(record.game))
        return "el juego no es un nombre de archivo";
    if (!record.emulatorDir.starts_with('/') || HasNul(record.emulatorDir))
        return "el directorio del emulador no es una ruta absoluta";
    if (!IsSafeName(record.gameDirName) || platform::FoldedName(record.gameDirName) != platform::FoldedName(record.game))
        return "el directorio del juego no es el del juego";
    if (!record.staging.empty() && !IsStagingName(record.staging))
        return "el directorio de extracción no es de Kabinex";
    if (record.created)
        for (const auto& [name, state] : *record.created)
            if (!IsSafeName(name))
                return "una entrada no es un nombre de archivo";
    if (record.owner.pid <= 1)
        return "proceso no válido";
    for (const TProcessIdentity& process : record.processes)
        if (process.pid <= 1)
            return "proceso no válido";
    return std::nullopt;
}

std::string CleanupRecordDir()
{
    return platform::JoinPath(platform::UserBaseDir("XDG_STATE_HOME", ".local/state"), "kabinex");
}

std::string NewCleanupRecordPath()
{
    static std::atomic<unsigned> counter = 0;
    const std::string dir = CleanupRecordDir();
    platform::MakeDirectories(dir);
    std::string path;
    do {
        path = platform::JoinPath(dir, std::to_string(::getpid()) + "-" + std::to_string(::time(nullptr)) + "-"
                                           + std::to_string(counter++) + RecordSuffix);
    } while (platform::EntryExists(path));
    return path;
}

std::vector<std::string> CleanupRecordPaths()
{
    std::vector<std::string> paths;
    const std::string dir = CleanupRecordDir();
    for (const std::string& name : platform::DirectoryEntries(dir))
        if (IsRecordName(name) && platform::FileExists(platform::JoinPath(dir, name)))
            paths.push_back(platform::JoinPath(dir, name));
    return paths;
}

std::string LaunchMark(const std::string& recordPath)
{
    return "KABINEX_LAUNCH=" + recordPath.substr(recordPath.rfind('/') + 1);
}

std::string SerializeCleanupRecord(const TCleanupRecord& record)
{
    std::string text = std::string(Header) + '\n';
    text += "game\t" + EscapeField(record.game) + '\n';
    text += "emudir\t" + EscapeField(record.emulatorDir) + '\n';
    text += "gamedir\t" + EscapeField(record.gameDirName) + '\n';
    if (!record.staging.empty())
        text += "staging\t" + EscapeField(record.staging) + '\n';
    if (record.madeGameDir)
        text += "madedir\t" + StateFields(*record.madeGameDir) + '\n';
    text += ProcessLine("owner", record.owner);
    for (const TProcessIdentity& process : record.processes)
        text += ProcessLine("process", process);
    if (!record.launchMark.empty())
        text += "mark\t" + EscapeField(record.launchMark) + '\n';
    if (record.created)
        text += "extracted\n" + EntryLines("created", *record.created);
    return text + "end\n";
}

std::optional<TCleanupRecord> ParseCleanupRecord(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != Header)
        return std::nullopt;
    TCleanupRecord record;
    try {
        while (std::getline(lines, line)) {
            const std::vector<std::string> fields = SplitFields(line);
            const std::string& tag = fields[0];
            if (tag == "end")
                return record.gameDirName.empty() || lines.peek() != EOF ? std::nullopt : std::optional(record);
            if (tag == "game" && fields.size() == 2)
                record.game = fields[1];
            else if (tag == "gamedir" && fields.size() == 2)
                record.gameDirName = fields[1];
            else if (tag == "staging" && fields.size() == 2)
                record.staging = fields[1];
            else if (tag == "madedir")
                record.madeGameDir = ParseState(fields, 1);
            else if (tag == "emudir" && fields.size() == 2)
                record.emulatorDir = fields[1];
            else if (tag == "owner")
                record.owner = ParseProcess(fields);
            else if (tag == "process")
                record.processes.push_back(ParseProcess(fields));
            else if (tag == "mark" && fields.size() == 2)
                record.launchMark = fields[1];
            else if (tag == "extracted" && !record.created)
                record.created.emplace();
            else if (tag == "created" && record.created)
                record.created->insert(ParseEntry(fields));
            else
                return std::nullopt;
        }
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
    return std::nullopt; // cut short before its end line
}

void SaveCleanupRecord(const std::string& path, const TCleanupRecord& record)
{
    platform::ReplaceFileWith(path, SerializeCleanupRecord(record), RecordFileMode);
}

TLoadedRecord LoadCleanupRecord(const std::string& path)
{
    const platform::TFileRead read = platform::ReadFileUpTo(path, MaxRecordBytes);
    switch (read.fault) {
    case platform::TReadFault::Missing: return {std::nullopt, ""};
    case platform::TReadFault::Unreadable: return {std::nullopt, "no se puede leer"};
    case platform::TReadFault::NotRegular: return {std::nullopt, "no es un archivo"};
    case platform::TReadFault::TooLarge: return {std::nullopt, "demasiado grande"};
    case platform::TReadFault::None: break;
    }
    std::optional<TCleanupRecord> record = ParseCleanupRecord(read.bytes);
    if (!record)
        return {std::nullopt, "no es un registro completo"};
    if (const std::optional<std::string> ruleBroken = RecordFault(*record))
        return {std::nullopt, *ruleBroken};
    return {std::move(record), ""};
}

std::string SetRecordAside(const std::string& path)
{
    const std::string aside = path + AsideSuffix;
    return platform::RenameReplacing(path, aside) ? aside : std::string();
}
