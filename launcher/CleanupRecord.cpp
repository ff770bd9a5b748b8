#include "CleanupRecord.h"

#include "FileSystem.h"
#include "SysUtils.h"
#include "TabFields.h"

#include <atomic>
#include <charconv>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr const char* Header = "kabinex-cleanup 1";
constexpr const char* RecordSuffix = ".cleanup";

std::string ProcessLine(const char* tag, const TProcessIdentity& process)
{
    return std::string(tag) + '\t' + std::to_string(process.pid) + '\t' + std::to_string(process.startTicks) + '\t'
        + EscapeField(process.bootId) + '\n';
}

std::string EntryLines(const char* tag, const TDirectoryState& entries)
{
    std::string lines;
    for (const auto& [name, state] : entries)
        lines += std::string(tag) + '\t' + EscapeField(name) + '\t' + (state.directory ? "d" : "f") + '\t'
            + std::to_string(state.inode) + '\t' + std::to_string(state.size) + '\t' + std::to_string(state.modified)
            + '\t' + std::to_string(state.changed) + '\n';
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

std::pair<std::string, TEntryState> ParseEntry(const std::vector<std::string>& fields)
{
    if (fields.size() != 7 || (fields[2] != "d" && fields[2] != "f"))
        throw std::invalid_argument("entry");
    return {fields[1],
            {fields[2] == "d", Parse<std::uint64_t>(fields[3]), Parse<std::int64_t>(fields[4]),
             Parse<std::int64_t>(fields[5]), Parse<std::int64_t>(fields[6])}};
}

std::string HomeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir ? user->pw_dir : "/";
}

} // namespace

void TCleanupRecord::Finish() const
{
    if (created) {
        RemoveUnchanged(gameDir, game, *created, before.empty());
        return;
    }
    RemoveAddedFiles(gameDir, game, before);
    platform::DeleteFile(platform::JoinPath(emulatorDir, "lockfile.$$$"));
    platform::DeleteFile(platform::JoinPath(emulatorDir, "lockfile.bat"));
}

std::string CleanupRecordDir()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string base = state && *state == '/' ? std::string(state) : HomeDir() + "/.local/state";
    return platform::JoinPath(base, "kabinex");
}

std::string NewCleanupRecordPath()
{
    static std::atomic<unsigned> counter = 0;
    const std::string dir = CleanupRecordDir();
    std::error_code error;
    fs::create_directories(dir, error);
    std::string path;
    do {
        path = platform::JoinPath(dir, std::to_string(::getpid()) + "-" + std::to_string(::time(nullptr)) + "-"
                                           + std::to_string(counter++) + RecordSuffix);
    } while (fs::exists(fs::symlink_status(path)));
    return path;
}

std::vector<std::string> CleanupRecordPaths()
{
    std::vector<std::string> paths;
    std::error_code error;
    for (fs::directory_iterator it(CleanupRecordDir(), error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == RecordSuffix && it->is_regular_file())
            paths.push_back(it->path().string());
    return paths;
}

std::string SerializeCleanupRecord(const TCleanupRecord& record)
{
    std::string text = std::string(Header) + '\n';
    text += "game\t" + EscapeField(record.game) + '\n';
    text += "gamedir\t" + EscapeField(record.gameDir) + '\n';
    text += "emudir\t" + EscapeField(record.emulatorDir) + '\n';
    text += ProcessLine("owner", record.owner);
    for (const TProcessIdentity& process : record.processes)
        text += ProcessLine("process", process);
    text += EntryLines("before", record.before);
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
                return record.gameDir.empty() ? std::nullopt : std::optional(record);
            if (tag == "game" && fields.size() == 2)
                record.game = fields[1];
            else if (tag == "gamedir" && fields.size() == 2)
                record.gameDir = fields[1];
            else if (tag == "emudir" && fields.size() == 2)
                record.emulatorDir = fields[1];
            else if (tag == "owner")
                record.owner = ParseProcess(fields);
            else if (tag == "process")
                record.processes.push_back(ParseProcess(fields));
            else if (tag == "before")
                record.before.insert(ParseEntry(fields));
            else if (tag == "extracted")
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
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    try {
        WriteNewFile(temporary, SerializeCleanupRecord(record), true);
    } catch (const EInOutError&) {
        ::unlink(temporary.c_str());
        throw;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw EInOutError(IoCodeFromErrno(error));
    }
}

std::optional<TCleanupRecord> LoadCleanupRecord(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return ParseCleanupRecord(std::string(std::istreambuf_iterator<char>(in), {}));
}
