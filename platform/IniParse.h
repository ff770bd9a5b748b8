// The parse of a settings file: its bytes held whole, where its sections begin, and its entries
// found by walking a section's lines, each key's first entry kept in an index built on first use.
// Nothing is kept per line. Private to the settings layer.
#pragma once

#include "Text.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace ini {

// What identifies one state of the file's contents: a parse is reused while this stays the same.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
};

inline FileStamp StampOf(const struct stat& info)
{
    return FileStamp{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A hash of text that ignores ASCII case.
inline std::size_t AsciiCaseHash(std::string_view text)
{
    std::size_t hash = 14695981039346656037ull;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(platform::AsciiLower(c))) * 1099511628211ull;
    return hash;
}

// Places in the file's bytes. Offsets are 32-bit, so a settings file must stay below 4 GiB; a
// bigger one is neither read nor written, never half read and then replaced.
using Offset = std::uint32_t;
constexpr Offset NoOffset = std::numeric_limits<Offset>::max();
constexpr off_t MaxFileSize = NoOffset;

// One entry line taken apart. Made when needed, never kept for every line of the file.
struct TIniEntry {
    std::size_t keyBegin;   // the trimmed key; also where the line's text begins
    std::size_t keyEnd;
    std::size_t valueBegin; // the trimmed value, quotes included
    std::size_t valueEnd;
    std::size_t lineEnd;    // where the line's text ends, before its line break
};

// The lines of bytes[pos, end): each line's text without its line break. The next CR and LF
// are remembered, so a walk over the whole file reads each byte a bounded number of times.
class TLineWalk {
public:
    TLineWalk(std::string_view bytes, std::size_t pos, std::size_t end) : bytes_(bytes), pos_(pos), end_(end) {}

    bool Next(std::size_t& lineBegin, std::size_t& lineEnd)
    {
        if (pos_ >= end_)
            return false;
        if (nextLf_ < pos_ || nextLf_ == Unknown)
            nextLf_ = Find('\n');
        if (nextCr_ < pos_ || nextCr_ == Unknown)
            nextCr_ = Find('\r');
        lineBegin = pos_;
        lineEnd = std::min(nextLf_, nextCr_);
        pos_ = lineEnd;
        if (pos_ < end_)
            pos_ += bytes_[pos_] == '\r' && pos_ + 1 < end_ && bytes_[pos_ + 1] == '\n' ? 2 : 1;
        return true;
    }

private:
    static constexpr std::size_t Unknown = std::string_view::npos;

    std::size_t Find(char c) const
    {
        const void* at = std::memchr(bytes_.data() + pos_, c, end_ - pos_);
        return at ? static_cast<std::size_t>(static_cast<const char*>(at) - bytes_.data()) : end_;
    }

    std::string_view bytes_;
    std::size_t pos_;
    std::size_t end_;
    std::size_t nextLf_ = Unknown;
    std::size_t nextCr_ = Unknown;
};


class TKeyIndex;

// The file's bytes and where its sections begin; entries are found by walking a section's lines.
struct TIniParse {
    FileStamp stamp;
    std::string bytes;
    bool windows1252 = false;
    std::size_t textBegin = 0; // after a byte-order mark
    std::string lineBreak = "\n";
    std::vector<Offset> sections; // where each header's "[" stands

    TIniParse();
    ~TIniParse();
    void Parse();

    std::string_view Raw(std::size_t begin, std::size_t end) const
    {
        return std::string_view(bytes).substr(begin, end - begin);
    }
    std::string Text(std::size_t begin, std::size_t end) const
    {
        return windows1252 ? platform::DecodeWindows1252(Raw(begin, end)) : std::string(Raw(begin, end));
    }
    bool InFileEncoding(const std::string& text, std::string& out) const
    {
        if (!windows1252) {
            out = text;
            return true;
        }
        return platform::EncodeWindows1252(text, out);
    }

    std::size_t LineEnd(std::size_t pos) const
    {
        while (pos < bytes.size() && bytes[pos] != '\n' && bytes[pos] != '\r')
            ++pos;
        return pos;
    }
    std::size_t NextLine(std::size_t lineEnd) const
    {
        if (lineEnd >= bytes.size())
            return bytes.size();
        return lineEnd + (bytes.compare(lineEnd, 2, "\r\n") == 0 ? 2 : 1);
    }

    // Section s: its name as it stands in the file, where its header line ends, and its body.
    std::string_view SectionName(std::size_t s) const;
    std::size_t HeaderEnd(std::size_t s) const { return LineEnd(sections[s]); }
    std::size_t BodyBegin(std::size_t s) const { return NextLine(HeaderEnd(s)); }
    std::size_t BodyEnd(std::size_t s) const { return s + 1 < sections.size() ? sections[s + 1] : bytes.size(); }

    // The first section of the name (in the file's encoding), without regard to ASCII case.
    std::optional<std::size_t> FindSection(std::string_view name) const;
    // The first entry of the key (in the file's encoding) in section s.
    std::optional<TIniEntry> FindEntry(std::size_t s, std::string_view key) const;
    std::optional<TIniEntry> FindEntry(const std::string& section, const std::string& key) const;

    // The line [begin, end) as an entry, if it is one.
    std::optional<TIniEntry> EntryOf(std::size_t begin, std::size_t end) const;
    // The entry whose key begins at keyBegin.
    TIniEntry EntryAt(std::size_t keyBegin) const { return *EntryOf(keyBegin, LineEnd(keyBegin)); }
    std::string_view RawKey(const TIniEntry& entry) const { return Raw(entry.keyBegin, entry.keyEnd); }
    std::string_view RawKeyAt(std::size_t keyBegin) const;

    // Visits the entries of section s in file order.
    template <typename Visit>
    void ForEachEntry(std::size_t s, Visit&& visit) const
    {
        TLineWalk lines(bytes, BodyBegin(s), BodyEnd(s));
        std::size_t begin = 0;
        std::size_t end = 0;
        while (lines.Next(begin, end))
            if (const std::optional<TIniEntry> entry = EntryOf(begin, end))
                visit(*entry);
    }
    // The first entry of each key of section s, built on first use.
    const TKeyIndex& KeysOf(std::size_t s) const;
    // Visits the entries of section s in file order, each with where the first entry of its key
    // begins; the section's key index is built on the way when it is not there yet.
    template <typename Visit>
    void ForEachWithFirst(std::size_t s, Visit&& visit) const;

    // Where the value stands without one pair of enclosing quotes.
    std::pair<std::size_t, std::size_t> ValueRange(const TIniEntry& entry) const
    {
        std::size_t begin = entry.valueBegin;
        std::size_t end = entry.valueEnd;
        if (end - begin >= 2 && (bytes[begin] == '"' || bytes[begin] == '\'') && bytes[end - 1] == bytes[begin])
            ++begin, --end;
        return {begin, end};
    }
    std::string Value(const TIniEntry& entry) const
    {
        const auto [begin, end] = ValueRange(entry);
        return Text(begin, end);
    }

private:
    mutable std::map<std::string, std::optional<std::size_t>> sectionsFound_; // by lower-case name
    mutable std::map<std::size_t, std::unique_ptr<TKeyIndex>> keys_;        // by section
};

// The first entry of each key of one section, by where its key begins: an open-addressing table

class TKeyIndex {
public:
    // Room for a section of that many bytes without growing, unless its lines are very short.
    explicit TKeyIndex(std::size_t sectionBytes)
        : slots_(std::bit_ceil(std::max<std::size_t>(16, sectionBytes / 32)), NoOffset)
    {
    }

    // The key's first entry; keyBegin itself (now recorded) when the key is new.
    std::size_t FirstOrAdd(const TIniParse& parse, std::string_view key, std::size_t keyBegin)
    {
        if (2 * (count_ + 1) > slots_.size())
            Grow(parse);
        std::size_t at = SlotOf(parse, key);
        if (slots_[at] == NoOffset) {
            slots_[at] = static_cast<Offset>(keyBegin);
            ++count_;
            return keyBegin;
        }
        return slots_[at];
    }
    std::optional<std::size_t> Find(const TIniParse& parse, std::string_view key) const
    {
        const Offset found = slots_[SlotOf(parse, key)];
        return found == NoOffset ? std::nullopt : std::optional<std::size_t>(found);
    }

private:
    // The slot holding the key, or the empty one where it would go.
    std::size_t SlotOf(const TIniParse& parse, std::string_view key) const
    {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = AsciiCaseHash(key) & mask;; at = (at + 1) & mask)
            if (slots_[at] == NoOffset || platform::EqualIgnoringAsciiCase(parse.RawKeyAt(slots_[at]), key))
                return at;
    }
    void Grow(const TIniParse& parse)
    {
        std::vector<Offset> old = std::exchange(slots_, std::vector<Offset>(2 * slots_.size(), NoOffset));
        for (const Offset keyBegin : old)
            if (keyBegin != NoOffset)
                slots_[SlotOf(parse, parse.RawKeyAt(keyBegin))] = keyBegin;
    }

    std::vector<Offset> slots_;
    std::size_t count_ = 0;
};

template <typename Visit>
void TIniParse::ForEachWithFirst(std::size_t s, Visit&& visit) const
{
    if (const auto built = keys_.find(s); built != keys_.end()) {
        const TKeyIndex& keys = *built->second;
        ForEachEntry(s, [&](const TIniEntry& entry) { visit(entry, *keys.Find(*this, RawKey(entry))); });
        return;
    }
    auto keys = std::make_unique<TKeyIndex>(BodyEnd(s) - BodyBegin(s));
    ForEachEntry(s, [&](const TIniEntry& entry) { visit(entry, keys->FirstOrAdd(*this, RawKey(entry), entry.keyBegin)); });
    keys_[s] = std::move(keys);
}

} // namespace ini
