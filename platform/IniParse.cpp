#include "IniParse.h"

namespace ini {
namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

std::string DetectLineBreak(std::string_view bytes)
{
    const std::size_t at = bytes.find_first_of("\r\n");
    if (at == std::string_view::npos || bytes[at] == '\n')
        return "\n";
    return at + 1 < bytes.size() && bytes[at + 1] == '\n' ? "\r\n" : "\r";
}

} // namespace

TIniParse::TIniParse() = default;
TIniParse::~TIniParse() = default;

void TIniParse::Parse()
{
    sections.clear();
    sectionsFound_.clear();
    keys_.clear();
    // The mark says nothing about the rest: a file made on Windows may carry it before Latin text.
    textBegin = bytes.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    const std::string_view text = std::string_view(bytes).substr(textBegin);
    windows1252 = !platform::IsValidUtf8(text);
    lineBreak = DetectLineBreak(text);
    // A header is a line whose first non-blank character is "[" and which holds a "]". Only the
    // places of "[" are looked at: most lines of a big file hold none.
    const char* data = bytes.data();
    for (std::size_t open = textBegin; open < bytes.size(); ++open) {
        const void* found = std::memchr(data + open, '[', bytes.size() - open);
        if (!found)
            break;
        open = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        std::size_t lineBegin = open;
        while (lineBegin > textBegin && IsBlank(data[lineBegin - 1]))
            --lineBegin;
        if (lineBegin > textBegin && data[lineBegin - 1] != '\n' && data[lineBegin - 1] != '\r')
            continue;
        const std::size_t end = LineEnd(open);
        if (std::memchr(data + open + 1, ']', end - open - 1))
            sections.push_back(static_cast<Offset>(open));
        open = end;
    }
}

std::string_view TIniParse::SectionName(std::size_t s) const
{
    const std::size_t open = sections[s];
    std::size_t close = HeaderEnd(s);
    while (bytes[close - 1] != ']')
        --close;
    std::size_t begin = open + 1;
    std::size_t end = close - 1;
    while (begin < end && IsBlank(bytes[begin]))
        ++begin;
    while (end > begin && IsBlank(bytes[end - 1]))
        --end;
    return Raw(begin, end);
}

std::optional<std::size_t> TIniParse::FindSection(std::string_view name) const
{
    const auto [cached, isNew] = sectionsFound_.try_emplace(platform::AsciiLowerCase(name));
    if (isNew) {
        for (std::size_t s = 0; s < sections.size() && !cached->second; ++s)
            if (platform::EqualIgnoringAsciiCase(SectionName(s), name))
                cached->second = s;
    }
    return cached->second;
}

std::optional<TIniEntry> TIniParse::EntryOf(std::size_t begin, std::size_t end) const
{
    while (begin < end && IsBlank(bytes[begin]))
        ++begin;
    if (begin == end || bytes[begin] == ';')
        return std::nullopt;
    const void* equalsAt = std::memchr(bytes.data() + begin, '=', end - begin);
    if (!equalsAt)
        return std::nullopt;
    const std::size_t equals = static_cast<std::size_t>(static_cast<const char*>(equalsAt) - bytes.data());
    std::size_t keyEnd = equals;
    while (keyEnd > begin && IsBlank(bytes[keyEnd - 1]))
        --keyEnd;
    std::size_t valueBegin = equals + 1;
    while (valueBegin < end && IsBlank(bytes[valueBegin]))
        ++valueBegin;
    std::size_t valueEnd = end;
    while (valueEnd > valueBegin && IsBlank(bytes[valueEnd - 1]))
        --valueEnd;
    return TIniEntry{begin, keyEnd, valueBegin, valueEnd, end};
}

std::string_view TIniParse::RawKeyAt(std::size_t keyBegin) const
{
    std::size_t keyEnd = static_cast<std::size_t>(static_cast<const char*>(std::memchr(bytes.data() + keyBegin, '=', bytes.size() - keyBegin)) - bytes.data());
    while (keyEnd > keyBegin && IsBlank(bytes[keyEnd - 1]))
        --keyEnd;
    return Raw(keyBegin, keyEnd);
}

const TKeyIndex& TIniParse::KeysOf(std::size_t s) const
{
    ForEachWithFirst(s, [](const TIniEntry&, std::size_t) {});
    return *keys_[s];
}

std::optional<TIniEntry> TIniParse::FindEntry(std::size_t s, std::string_view key) const
{
    const std::optional<std::size_t> keyBegin = KeysOf(s).Find(*this, key);
    return keyBegin ? std::optional<TIniEntry>(EntryAt(*keyBegin)) : std::nullopt;
}

std::optional<TIniEntry> TIniParse::FindEntry(const std::string& section, const std::string& key) const
{
    std::string sectionBytes;
    std::string keyBytes;
    if (!InFileEncoding(section, sectionBytes) || !InFileEncoding(key, keyBytes))
        return std::nullopt;
    const std::optional<std::size_t> s = FindSection(sectionBytes);
    return s ? FindEntry(*s, keyBytes) : std::nullopt;
}

} // namespace ini
