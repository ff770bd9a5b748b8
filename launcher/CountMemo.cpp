#include "CountMemo.h"

#include "Files.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

namespace {

constexpr std::string_view Heading = "kabinex counts 1\t";
constexpr std::int64_t TrustMargin = 2'000'000'000; // nanoseconds

std::optional<std::string_view> NextField(std::string_view& line)
{
    if (line.data() == nullptr)
        return std::nullopt;
    const std::size_t tab = line.find('\t');
    const std::string_view field = line.substr(0, tab);
    line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    return field;
}

template <typename Number>
bool ReadNumber(std::string_view& line, Number& into)
{
    const std::optional<std::string_view> field = NextField(line);
    if (!field || field->empty())
        return false;
    const auto [end, error] = std::from_chars(field->data(), field->data() + field->size(), into);
    return error == std::errc() && end == field->data() + field->size();
}

// NAME, device, number, modified, changed, count, limit.
std::optional<std::pair<std::string_view, TKnownCount>> ParseLine(std::string_view line)
{
    const std::optional<std::string_view> name = NextField(line);
    TKnownCount known;
    platform::TDirectoryStamp& stamp = known.stamp;
    if (!name || name->empty() || !ReadNumber(line, stamp.device) || !ReadNumber(line, stamp.inode)
        || !ReadNumber(line, stamp.modified) || !ReadNumber(line, stamp.changed) || !ReadNumber(line, known.count)
        || !ReadNumber(line, known.limit) || line.data() != nullptr || known.count < 0 || known.count > known.limit)
        return std::nullopt;
    return std::pair{*name, known};
}

// A name that would break its line is not kept.
bool Storable(std::string_view name)
{
    return !name.empty() && name.find_first_of("\t\r\n") == std::string_view::npos;
}

// FNV-1a: the same emulator directory gives the same file name in every build.
std::uint64_t NameHash(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return hash;
}

} // namespace

TKnownCounts TKnownCounts::Parse(std::string_view text, const std::string& emulatorDir)
{
    TKnownCounts known;
    const std::size_t headingEnd = text.find('\n');
    if (text.substr(0, headingEnd) != std::string(Heading) + platform::AbsolutePath(emulatorDir))
        return known;
    for (std::size_t at = headingEnd; at != std::string_view::npos && at < text.size();) {
        const std::size_t end = text.find('\n', at + 1);
        if (const auto line = ParseLine(text.substr(at + 1, end == std::string_view::npos ? end : end - at - 1)))
            known.counts_.insert_or_assign(std::string(line->first), line->second);
        at = end;
    }
    return known;
}

const TKnownEntry* TKnownCounts::Find(std::string_view name) const
{
    const auto found = counts_.find(name);
    return found == counts_.end() ? nullptr : &*found;
}

TCountRecorder::TCountRecorder(std::int64_t checkStart)
    : trustedBefore_(checkStart - TrustMargin)
{
}

bool TCountRecorder::Knows(std::string_view name) const
{
    return known_ && known_->Find(name);
}

std::optional<int> TCountRecorder::Recall(std::string_view name, const platform::TDirectoryStamp& stamp, int limit)
{
    const TKnownEntry* entry = known_ ? known_->Find(name) : nullptr;
    if (!entry || entry->second.stamp != stamp)
        return std::nullopt;
    const TKnownCount& known = entry->second;
    // A count that stopped at its limit says only that there are at least that many.
    if (known.count >= known.limit && limit > known.limit)
        return std::nullopt;
    const std::lock_guard lock(mutex_);
    recalled_.push_back(entry);
    return std::min(known.count, limit);
}

void TCountRecorder::Counted(std::string_view name, const platform::TDirectoryStamp& stamp, int count, int limit)
{
    if (stamp.modified >= trustedBefore_ || stamp.changed >= trustedBefore_ || !Storable(name))
        return;
    const std::lock_guard lock(mutex_);
    anew_.emplace_back(name, TKnownCount{stamp, count, limit});
}

std::vector<const TKnownEntry*> TCountRecorder::Recalled() const
{
    const std::lock_guard lock(mutex_);
    return recalled_;
}

TKeptCounts TCountRecorder::KeptAnew() const
{
    const std::lock_guard lock(mutex_);
    return anew_;
}

std::string CountMemoPath(const std::string& emulatorDir)
{
    if (emulatorDir.empty())
        return {};
    const platform::TDirectory dir = platform::TDirectory::Open(emulatorDir);
    if (!dir.KeepsFileNumbers() || dir.OnNetworkShare())
        return {};
    char name[32];
    std::snprintf(name, sizeof name, "counts-%016llx.tsv",
                  static_cast<unsigned long long>(NameHash(platform::AbsolutePath(emulatorDir))));
    return platform::JoinPath(platform::JoinPath(platform::UserBaseDir("XDG_CACHE_HOME", ".cache"), "kabinex"), name);
}

TKnownCounts LoadKnownCounts(const std::string& path, const std::string& emulatorDir)
{
    constexpr std::size_t MemoLimit = 256u << 20;
    if (path.empty())
        return {};
    const platform::TFileRead read = platform::ReadFileUpTo(path, MemoLimit);
    return read.fault == platform::TReadFault::None ? TKnownCounts::Parse(read.bytes, emulatorDir) : TKnownCounts();
}

namespace {

// Whether the sides found every known count as it was and no other: a count made anew before the
// memo was read may well be the one it holds.
bool AsKnown(const TKnownCounts& known, const TKeptCounts& anew, std::vector<const TKnownEntry*> found)
{
    for (const auto& [name, count] : anew) {
        const TKnownEntry* entry = known.Find(name);
        if (!entry || entry->second != count)
            return false;
        found.push_back(entry);
    }
    std::ranges::sort(found);
    return static_cast<std::size_t>(std::unique(found.begin(), found.end()) - found.begin()) == known.Size();
}

} // namespace

std::optional<TKeptCounts> ChangedCounts(const TKnownCounts& known, const TCountRecorder& one, const TCountRecorder& other)
{
    std::vector<const TKnownEntry*> recalled = one.Recalled();
    const std::vector<const TKnownEntry*> otherRecalled = other.Recalled();
    recalled.insert(recalled.end(), otherRecalled.begin(), otherRecalled.end());
    TKeptCounts kept = one.KeptAnew();
    TKeptCounts otherAnew = other.KeptAnew();
    kept.insert(kept.end(), std::make_move_iterator(otherAnew.begin()), std::make_move_iterator(otherAnew.end()));
    if (AsKnown(known, kept, recalled))
        return std::nullopt;
    for (const TKnownEntry* entry : recalled)
        kept.emplace_back(entry->first, entry->second);
    std::ranges::sort(kept, {}, &TKeptCounts::value_type::first);
    kept.erase(std::unique(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
               kept.end());
    return kept;
}

std::string CountMemoText(const std::string& emulatorDir, const TKeptCounts& distinct)
{
    std::string text = std::string(Heading) + platform::AbsolutePath(emulatorDir) + '\n';
    for (const auto& [name, known] : distinct) {
        const platform::TDirectoryStamp& s = known.stamp;
        text += name + '\t' + std::to_string(s.device) + '\t' + std::to_string(s.inode);
        for (const std::int64_t field : {s.modified, s.changed, std::int64_t{known.count}, std::int64_t{known.limit}})
            text += '\t' + std::to_string(field);
        text += '\n';
    }
    return text;
}

void SaveCountMemo(const TCountMemoFile& file, const TKeptCounts& distinct)
{
    try {
        if (platform::MakeDirectories(platform::DirectoryOf(file.path)))
            platform::ReplaceFileWith(file.path, CountMemoText(file.emulatorDir, distinct), 0600);
    } catch (const std::exception&) {
        // a cache: the next start counts again
    }
}
