#include "IniFiles.h"

#include "SysUtils.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

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

FileStamp StampOf(const struct stat& info)
{
    return FileStamp{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// ---- Encodings --------------------------------------------------------------------------------

// The characters of Windows-1252's bytes 0x80..0x9F; the five bytes it leaves undefined keep
// their C1 code points, so every byte survives a round trip.
constexpr std::array<char32_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string DecodeWindows1252(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else
            AppendUtf8(out, byte < 0xA0 ? Windows1252High[byte - 0x80] : char32_t{byte});
    }
    return out;
}

// Decodes one UTF-8 sequence at text[i], advancing i; false for anything malformed
// (overlong forms, surrogates and code points above U+10FFFF included).
bool NextCodePoint(std::string_view text, std::size_t& i, char32_t& cp)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i < static_cast<std::size_t>(length))
        return false;
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += length;
    return true;
}

bool IsAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool IsValidUtf8(std::string_view text)
{
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (!NextCodePoint(text, i, cp))
            return false;
    }
    return true;
}

// The Windows-1252 bytes of a UTF-8 text; false when a character has no such byte.
bool EncodeWindows1252(std::string_view utf8, std::string& out)
{
    out.clear();
    char32_t cp = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        if (!NextCodePoint(utf8, i, cp))
            return false;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        std::size_t k = 0;
        while (k < Windows1252High.size() && Windows1252High[k] != cp)
            ++k;
        if (k == Windows1252High.size())
            return false;
        out += static_cast<char>(0x80 + k);
    }
    return true;
}

// ---- File access ------------------------------------------------------------------------------

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return fd_; }
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool ReadAll(int fd, std::string& bytes)
{
    bytes.clear();
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

bool WriteAllAt(int fd, std::string_view bytes, off_t offset)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

// Rewrites the file from byte `from` on so that it holds `bytes`. Room for a longer file is
// claimed first, so a full disk refuses the write before anything has been overwritten.
bool RewriteTail(int fd, const std::string& bytes, std::size_t from, off_t oldSize)
{
    const auto newSize = static_cast<off_t>(bytes.size());
    if (newSize > oldSize && ::fallocate(fd, 0, oldSize, newSize - oldSize) != 0
        && errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        return false;
    return WriteAllAt(fd, std::string_view(bytes).substr(from), static_cast<off_t>(from))
        && ::ftruncate(fd, newSize) == 0;
}

} // namespace

// ---- The parse --------------------------------------------------------------------------------

struct TIniEntry {
    std::string key;        // UTF-8, trimmed
    std::string value;      // UTF-8, trimmed, one pair of enclosing quotes removed
    std::size_t valueBegin; // byte offsets in the file of the trimmed value text, quotes included
    std::size_t valueEnd;
    std::size_t lineEnd;    // offset where the line's text ends, before its line break
};

struct TIniSection {
    std::string name;
    std::size_t headerEnd = 0; // offset where the header line's text ends
    std::vector<TIniEntry> entries;
    std::unordered_map<std::string, std::size_t> firstEntry; // lower-case key -> entries index

    const TIniEntry* Find(const std::string& key) const
    {
        const auto it = firstEntry.find(LowerAscii(key));
        return it == firstEntry.end() ? nullptr : &entries[it->second];
    }
};

struct TIniParse {
    FileStamp stamp;
    std::string bytes;
    bool windows1252 = false;
    std::string lineBreak = "\n";
    std::vector<TIniSection> sections;
    std::unordered_map<std::string, std::size_t> firstSection; // lower-case name -> index

    const TIniSection* Find(const std::string& name) const
    {
        const auto it = firstSection.find(LowerAscii(name));
        return it == firstSection.end() ? nullptr : &sections[it->second];
    }
    std::string Text(std::size_t begin, std::size_t end) const
    {
        const std::string_view raw = std::string_view(bytes).substr(begin, end - begin);
        return windows1252 ? DecodeWindows1252(raw) : std::string(raw);
    }
    void Parse();
    // Writes the entry into bytes (and parses them again); the offset of the first byte changed.
    std::size_t Put(const std::string& section, const std::string& key, const std::string& value);

private:
    void ParseLine(std::size_t begin, std::size_t end);
    std::size_t Splice(const std::string& section, const std::string& key, const std::string& sectionBytes,
                       const std::string& keyBytes, const std::string& valueBytes);
};

namespace {

std::string DetectLineBreak(std::string_view bytes)
{
    const std::size_t at = bytes.find_first_of("\r\n");
    if (at == std::string_view::npos || bytes[at] == '\n')
        return "\n";
    return at + 1 < bytes.size() && bytes[at + 1] == '\n' ? "\r\n" : "\r";
}

} // namespace

void TIniParse::Parse()
{
    sections.clear();
    firstSection.clear();
    windows1252 = !IsValidUtf8(bytes);
    lineBreak = DetectLineBreak(bytes);
    std::size_t pos = !windows1252 && bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < bytes.size()) {
        std::size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        ParseLine(pos, end);
        pos = end;
        if (pos < bytes.size())
            pos += bytes.compare(pos, 2, "\r\n") == 0 ? 2 : 1;
    }
}

void TIniParse::ParseLine(std::size_t begin, std::size_t end)
{
    const auto skipBlanks = [&](std::size_t from) {
        while (from < end && IsBlank(bytes[from]))
            ++from;
        return from;
    };
    const auto trimEnd = [&](std::size_t from, std::size_t to) {
        while (to > from && IsBlank(bytes[to - 1]))
            --to;
        return to;
    };

    const std::size_t first = skipBlanks(begin);
    if (first == end || bytes[first] == ';')
        return;
    if (bytes[first] == '[') {
        const std::size_t close = std::string_view(bytes).substr(0, end).rfind(']');
        if (close != std::string::npos && close > first) {
            const std::size_t nameBegin = skipBlanks(first + 1);
            TIniSection section;
            section.name = Text(nameBegin, trimEnd(nameBegin, close));
            section.headerEnd = end;
            firstSection.emplace(LowerAscii(section.name), sections.size());
            sections.push_back(std::move(section));
            return;
        }
    }
    if (sections.empty())
        return; // entries before the first section belong to none
    const std::size_t equals = std::string_view(bytes).substr(0, end).find('=', first);
    if (equals == std::string::npos)
        return;

    TIniEntry entry;
    entry.key = Text(first, trimEnd(first, equals));
    entry.valueBegin = skipBlanks(equals + 1);
    entry.valueEnd = trimEnd(entry.valueBegin, end);
    entry.lineEnd = end;
    std::size_t textBegin = entry.valueBegin;
    std::size_t textEnd = entry.valueEnd;
    if (textEnd - textBegin >= 2 && (bytes[textBegin] == '"' || bytes[textBegin] == '\'')
        && bytes[textEnd - 1] == bytes[textBegin]) {
        ++textBegin;
        --textEnd;
    }
    entry.value = Text(textBegin, textEnd);

    TIniSection& section = sections.back();
    section.firstEntry.emplace(LowerAscii(entry.key), section.entries.size());
    section.entries.push_back(std::move(entry));
}

namespace {

Exception WriteError(const std::string& fileName)
{
    return Exception("nach " + fileName + " kann nicht geschrieben werden");
}

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Whether the names and the value can stand in a file and read back as they are: nothing may
// break the line, a key must not look like a comment, a header or hold "=", names carry no
// surrounding blanks (reading would trim them).
bool Storable(const std::string& section, const std::string& key, const std::string& value)
{
    const auto padded = [](const std::string& s) { return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back())); };
    return IsValidUtf8(section) && IsValidUtf8(key) && IsValidUtf8(value) && !HasLineBreakOrNul(section)
        && !HasLineBreakOrNul(key) && !HasLineBreakOrNul(value) && !padded(section) && !padded(key)
        && key.find('=') == std::string::npos && (key.empty() || (key[0] != ';' && key[0] != '['));
}

// The value as it must stand in the file to read back unchanged: quoted when reading would
// otherwise trim its blanks or take away its own enclosing quotes.
std::string QuotedIfNeeded(const std::string& value)
{
    const bool padded = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool enclosed = value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front();
    return padded || enclosed ? '"' + value + '"' : value;
}

} // namespace

// The texts are given in the file's encoding.
std::size_t TIniParse::Splice(const std::string& section, const std::string& key, const std::string& sectionBytes,
                              const std::string& keyBytes, const std::string& valueBytes)
{
    const TIniSection* target = Find(section);
    const TIniEntry* old = target ? target->Find(key) : nullptr;
    std::size_t at = 0;
    std::size_t erase = 0;
    std::string insert;
    if (old) {
        at = old->valueBegin;
        erase = old->valueEnd - old->valueBegin;
        insert = QuotedIfNeeded(valueBytes);
    } else if (target) {
        at = target->entries.empty() ? target->headerEnd : target->entries.back().lineEnd;
        insert = lineBreak + keyBytes + "=" + QuotedIfNeeded(valueBytes);
    } else {
        at = bytes.size();
        if (!bytes.empty() && bytes.back() != '\n' && bytes.back() != '\r')
            insert = lineBreak;
        insert += "[" + sectionBytes + "]" + lineBreak + keyBytes + "=" + QuotedIfNeeded(valueBytes) + lineBreak;
    }
    bytes.replace(at, erase, insert);
    return at;
}

std::size_t TIniParse::Put(const std::string& section, const std::string& key, const std::string& value)
{
    std::size_t firstChange = std::string::npos;
    if (windows1252) {
        const std::string original = bytes;
        std::string sectionBytes, keyBytes, valueBytes;
        if (EncodeWindows1252(section, sectionBytes) && EncodeWindows1252(key, keyBytes)
            && EncodeWindows1252(value, valueBytes)) {
            firstChange = Splice(section, key, sectionBytes, keyBytes, valueBytes);
            // The file must go on reading as Windows-1252, not turn into UTF-8 with other letters.
            if (!IsValidUtf8(bytes) || IsAscii(bytes)) {
                Parse();
                return firstChange;
            }
        }
        // Windows-1252 cannot hold the new text: the file goes over to UTF-8 as a whole, every
        // character kept, rather than gaining bytes that would read back as other letters.
        bytes = DecodeWindows1252(original);
        Parse();
        firstChange = 0;
    }
    firstChange = std::min(firstChange, Splice(section, key, section, key, value));
    Parse();
    return firstChange;
}

// ---- TIniFile ---------------------------------------------------------------------------------


TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

TIniFile::~TIniFile() = default;

const std::string& TIniFile::FileName() const
{
    return fileName_;
}

const TIniParse& TIniFile::Current() const
{
    struct stat info {};
    if (::stat(fileName_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (!parse_ || parse_->stamp.exists)
            parse_ = std::make_unique<TIniParse>();
        return *parse_;
    }
    if (parse_ && parse_->stamp == StampOf(info))
        return *parse_;

    auto parse = std::make_unique<TIniParse>();
    FileHandle file(::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() >= 0 && ::fstat(file.Get(), &info) == 0 && ReadAll(file.Get(), parse->bytes)) {
        parse->stamp = StampOf(info);
        parse->Parse();
    } else {
        parse->bytes.clear(); // unreadable: reads as missing, and is looked at again next time
    }
    parse_ = std::move(parse);
    return *parse_;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    const TIniSection* found = Current().Find(section);
    const TIniEntry* entry = found ? found->Find(key) : nullptr;
    return entry ? entry->value : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const
{
    std::string text = ReadString(section, key, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    return StrToIntDef(text, defaultValue ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const
{
    std::vector<std::string> keys;
    if (const TIniSection* found = Current().Find(section)) {
        keys.reserve(found->entries.size());
        for (const TIniEntry& entry : found->entries)
            keys.push_back(entry.key);
    }
    return keys;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(const std::string& section) const
{
    std::vector<std::pair<std::string, std::string>> pairs;
    if (const TIniSection* found = Current().Find(section)) {
        pairs.reserve(found->entries.size());
        for (const TIniEntry& entry : found->entries)
            pairs.emplace_back(entry.key, found->Find(entry.key)->value);
    }
    return pairs;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    if (!Storable(section, key, value))
        throw WriteError(fileName_);
    // Opening for writing first makes a refused write fail even when the value is unchanged,
    // and the edit below is made on exactly the bytes this handle sees.
    FileHandle file(::open(fileName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0)
        throw WriteError(fileName_);
    if (!parse_ || !(parse_->stamp == StampOf(info))) {
        auto parse = std::make_unique<TIniParse>();
        if (!ReadAll(file.Get(), parse->bytes))
            throw WriteError(fileName_);
        parse->stamp = StampOf(info);
        parse->Parse();
        parse_ = std::move(parse);
    }
    TIniParse& parse = *parse_;
    const off_t oldSize = info.st_size;

    const TIniSection* found = parse.Find(section);
    const TIniEntry* entry = found ? found->Find(key) : nullptr;
    if (entry && entry->value == value)
        return;

    const std::size_t firstChange = parse.Put(section, key, value);
    const bool written = RewriteTail(file.Get(), parse.bytes, firstChange, oldSize)
        && ::fstat(file.Get(), &info) == 0 && file.Close();
    if (!written) {
        parse_.reset();
        throw WriteError(fileName_);
    }
    parse.stamp = StampOf(info);
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

// ---- Numbers ----------------------------------------------------------------------------------

int StrToIntDef(const std::string& text, int defaultValue)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    const bool hex = i < text.size() && text[i] == '$';
    if (hex)
        ++i;
    if (i == text.size())
        return defaultValue;

    // Decimal numbers must fit the signed range; hexadecimal ones may use all 32 bits.
    std::uint32_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return defaultValue;
        if (hex) {
            if (magnitude > 0x0FFFFFFFu)
                return defaultValue;
            magnitude = magnitude * 16 + static_cast<std::uint32_t>(digit);
        } else {
            if (magnitude > 214748364u)
                return defaultValue;
            magnitude = magnitude * 10 + static_cast<std::uint32_t>(digit);
            if (magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu))
                return defaultValue;
        }
    }
    return static_cast<int>(negative ? 0u - magnitude : magnitude);
}
