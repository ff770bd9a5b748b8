#include "PlayStats.h"

#include "CleanupRecord.h"
#include "FileSystem.h"
#include "Files.h"
#include "Locks.h"
#include "SysUtils.h"

#include <charconv>

namespace {

constexpr std::size_t MaxFileSize = 64u << 20;
constexpr const char* IsoFormat = "yyyy-MM-ddTHH:mm:ss";

bool ParseCount(std::string_view text, long long& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

bool ParseLine(std::string_view line, std::string& game, TPlayRecord& record)
{
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
        if (tab == std::string_view::npos)
            break;
        at = tab + 1;
    }
    if (fields.size() != 4 || fields[0].empty() || !ParseCount(fields[1], record.plays)
        || !ParseCount(fields[3], record.seconds))
        return false;
    const QString last = QString::fromUtf8(fields[2].data(), static_cast<qsizetype>(fields[2].size()));
    if (!QDateTime::fromString(last, IsoFormat).isValid())
        return false;
    game = std::string(fields[0]);
    record.last = std::string(fields[2]);
    return true;
}

} // namespace

TPlayStats TPlayStats::Parse(std::string_view text)
{
    TPlayStats stats;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::string game;
        TPlayRecord record;
        if (ParseLine(line, game, record) && !stats.records_.contains(game)) {
            stats.order_.push_back(game);
            stats.records_.emplace(std::move(game), std::move(record));
        } else if (!line.empty()) {
            stats.foreign_.emplace_back(line);
        }
    }
    return stats;
}

std::string TPlayStats::Text() const
{
    std::string text;
    for (const std::string& game : order_) {
        const TPlayRecord& r = records_.at(game);
        text += game + '\t' + std::to_string(r.plays) + '\t' + r.last + '\t' + std::to_string(r.seconds) + '\n';
    }
    for (const std::string& line : foreign_)
        text += line + '\n';
    return text;
}

const TPlayRecord* TPlayStats::Find(std::string_view game) const
{
    const auto found = records_.find(std::string(game));
    return found == records_.end() ? nullptr : &found->second;
}

void TPlayStats::Add(const std::string& game, const QDateTime& started, long long seconds)
{
    auto [at, isNew] = records_.try_emplace(game);
    if (isNew)
        order_.push_back(game);
    at->second.plays += 1;
    at->second.seconds += std::max(0LL, seconds);
    at->second.last = started.toLocalTime().toString(IsoFormat).toStdString();
}

QString PlayFigures(const TPlayRecord* record)
{
    if (record == nullptr || record->plays == 0)
        return QStringLiteral("Nunca jugado");
    const QDateTime last = QDateTime::fromString(QString::fromStdString(record->last), IsoFormat);
    const long long minutes = record->seconds / 60;
    const QString time = minutes >= 60 ? QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60)
                                       : QStringLiteral("%1 min").arg(minutes);
    const QString times = record->plays == 1 ? QStringLiteral("1 vez") : QStringLiteral("%1 veces").arg(record->plays);
    return QStringLiteral("Jugado %1, la última el %2, %3 en total").arg(times, last.toString("dd/MM/yyyy"), time);
}

std::string PlayStatsPath()
{
    return platform::JoinPath(CleanupRecordDir(), "played.tsv");
}

TPlayStats LoadPlayStats(const std::string& path)
{
    const platform::TFileRead read = platform::ReadFileUpTo(path, MaxFileSize, true);
    if (read.fault != platform::TReadFault::None)
        return {};
    return TPlayStats::Parse(read.bytes);
}

TPlayStats RecordPlay(const std::string& path, const std::string& game, const QDateTime& started, long long seconds)
{
    platform::MakeDirectories(platform::DirectoryOf(path));
    const platform::TFileLock lock(path + ".lock");
    if (!lock.Held())
        throw platform::WriteRefused(path);
    // Read again under the lock: another Kabinex may have added its plays since.
    TPlayStats stats = LoadPlayStats(path);
    stats.Add(game, started, seconds);
    platform::ReplaceFileWith(path, stats.Text(), 0644);
    return stats;
}
