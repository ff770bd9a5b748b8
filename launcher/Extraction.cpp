#include "Extraction.h"

#include "FileSystem.h"

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

std::vector<std::string> ExtractionScript(const std::string& unzipper, const std::string& archive,
                                          const std::string& gameDir, const std::string& lockFile)
{
    return {unzipper + " -o " + ShellQuote(archive) + " -d " + ShellQuote(gameDir),
            "rm -f " + ShellQuote(lockFile)};
}

namespace {
std::string AsciiUpper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}
} // namespace

bool IsKeptName(const std::string& entry, const std::string& game)
{
    return entry == "." || entry == ".." || entry == "README.TXT" || entry == "HISCORES.DAT" || entry == "KEYDEF.DAT"
        || entry == AsciiUpper(game) + ".MVE";
}

std::set<std::string> Snapshot(const std::string& gameDir)
{
    const std::vector<std::string> entries = platform::DirectoryEntries(gameDir);
    return {entries.begin(), entries.end()};
}

void RemoveExtracted(const std::string& gameDir, const std::string& game, const std::set<std::string>& before)
{
    for (const std::string& entry : platform::DirectoryEntries(gameDir)) {
        if (!before.contains(entry) && !IsKeptName(entry, game))
            platform::DeleteFile(platform::JoinPath(gameDir, entry));
    }
    if (before.empty())
        platform::RemoveEmptyDirectory(gameDir);
}
