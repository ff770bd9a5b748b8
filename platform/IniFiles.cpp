#include "IniFiles.h"

#include "SysUtils.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

bool ReadAll(int fd, std::string& bytes, off_t sizeHint)
{
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(std::max<off_t>(sizeHint, 0)));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path finally names, its symbolic links followed (the last one may dangle: writing
// through it creates its target). Empty for a loop of links.
std::string FollowLinks(std::string path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 256, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return path;
        target.resize(static_cast<std::size_t>(n));
        path = target.starts_with('/') ? target : DirectoryOf(path) + "/" + target;
    }
    return {};
}

// Opens the file for reading without ever blocking (a FIFO) and only when it is a regular file.
// -1 with errno ENOENT when it is missing; -1 with EINVAL when it is something else.
int OpenRegular(const std::string& path, struct stat& info)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Puts bytes in place of the file at path as one step: written to a temporary file beside it,
// flushed to disk and renamed over it, with the old file's permissions and owner. On failure
// the file is as it was and the temporary file is gone.
bool ReplaceFile(const std::string& path, const std::string& bytes, const struct stat* old)
{
    const std::size_t slash = path.rfind('/');
    std::string temporary = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "."
        + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    FileHandle file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0)
        return false;
    // Only root can give the file back to another owner; anyone else keeps the file as their own.
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()))
        (void)!::fchown(file.Get(), old->st_uid, old->st_gid);
    const bool written = WriteAll(file.Get(), bytes) && ::fchmod(file.Get(), old ? old->st_mode & 07777 : NewFileMode()) == 0
        && ::fsync(file.Get()) == 0 && file.Close() && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    FileHandle directory(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0)
        ::fsync(directory.Get());
    return true;
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::size_t AsciiCaseHash(std::string_view text)
{
    std::size_t hash = 14695981039346656037ull;
    for (char c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return hash;
}

} // namespace

// ---- The parse --------------------------------------------------------------------------------

// Offsets into the file's bytes; texts are made from them only when asked for.
struct TIniEntry {
    std::size_t keyBegin;   // the trimmed key
    std::size_t keyEnd;
    std::size_t valueBegin; // the trimmed value, quotes included
    std::size_t valueEnd;
    std::size_t lineEnd;    // where the line's text ends, before its line break
};

struct TIniSection {
    std::string name;
    std::size_t headerEnd = 0; // where the header line's text ends
    std::vector<TIniEntry> entries;
};

struct TIniParse {
    FileStamp stamp;
    std::string bytes;
    bool windows1252 = false;
    std::size_t textBegin = 0; // after a byte-order mark
    std::string lineBreak = "\n";
    std::vector<TIniSection> sections;

    void Parse();
    const TIniSection* Find(std::string_view name) const
    {
        for (const TIniSection& section : sections)
            if (EqualIgnoringAsciiCase(section.name, name))
                return &section;
        return nullptr;
    }
    // The first entry of the section whose key is the given one (in the file's encoding).
    const TIniEntry* Find(const TIniSection& section, std::string_view keyBytes) const
    {
        for (const TIniEntry& entry : section.entries)
            if (EqualIgnoringAsciiCase(Raw(entry.keyBegin, entry.keyEnd), keyBytes))
                return &entry;
        return nullptr;
    }
    const TIniEntry* Find(std::string_view section, const std::string& key) const
    {
        const TIniSection* found = Find(section);
        std::string keyBytes;
        if (!found || !InFileEncoding(key, keyBytes))
            return nullptr;
        return Find(*found, keyBytes);
    }
    std::string_view Raw(std::size_t begin, std::size_t end) const
    {
        return std::string_view(bytes).substr(begin, end - begin);
    }
    std::string Text(std::size_t begin, std::size_t end) const
    {
        return windows1252 ? DecodeWindows1252(Raw(begin, end)) : std::string(Raw(begin, end));
    }
    std::string Key(const TIniEntry& entry) const { return Text(entry.keyBegin, entry.keyEnd); }
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
    bool InFileEncoding(const std::string& text, std::string& out) const
    {
        if (!windows1252) {
            out = text;
            return true;
        }
        return EncodeWindows1252(text, out);
    }

private:
    void ParseLine(std::size_t begin, std::size_t end);
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
    // The mark says nothing about the rest: a file made on Windows may carry it before Latin text.
    textBegin = bytes.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    const std::string_view text = std::string_view(bytes).substr(textBegin);
    windows1252 = !IsValidUtf8(text);
    lineBreak = DetectLineBreak(text);
    std::size_t pos = textBegin;
    const char* data = bytes.data();
    while (pos < bytes.size()) {
        std::size_t end = pos;
        while (end < bytes.size() && data[end] != '\n' && data[end] != '\r')
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
    const std::string_view line = Raw(first, end);
    if (bytes[first] == '[') {
        const std::size_t close = line.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            const std::size_t nameBegin = skipBlanks(first + 1);
            TIniSection section;
            section.name = Text(nameBegin, trimEnd(nameBegin, first + close));
            section.headerEnd = end;
            sections.push_back(std::move(section));
            return;
        }
    }
    if (sections.empty())
        return; // entries before the first section belong to none
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return;
    const std::size_t valueBegin = skipBlanks(first + equals + 1);
    sections.back().entries.push_back(
        TIniEntry{first, trimEnd(first, first + equals), valueBegin, trimEnd(valueBegin, end), end});
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
bool Storable(const TIniValue& v)
{
    const auto padded = [](const std::string& s) { return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back())); };
    return IsValidUtf8(v.section) && IsValidUtf8(v.key) && IsValidUtf8(v.value) && !HasLineBreakOrNul(v.section)
        && !HasLineBreakOrNul(v.key) && !HasLineBreakOrNul(v.value) && !padded(v.section) && !padded(v.key)
        && v.key.find('=') == std::string::npos && (v.key.empty() || (v.key[0] != ';' && v.key[0] != '['));
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

// The file's new bytes after a batch of writes, built in one pass over the old ones: values of
// existing entries replaced, new entries after the last entry of their section, missing
// sections at the end. The same result as writing the values one after the other.
class TIniEdit {
public:
    explicit TIniEdit(const TIniParse& parse) : parse_(parse) {}

    // False when the file's encoding cannot hold the texts.
    bool Add(const TIniValue& v)
    {
        std::string section, key, value;
        if (!parse_.InFileEncoding(v.section, section) || !parse_.InFileEncoding(v.key, key)
            || !parse_.InFileEncoding(v.value, value))
            return false;
        const TIniSection* found = parse_.Find(section);
        if (const TIniEntry* entry = found ? parse_.Find(*found, key) : nullptr) {
            replaced_[entry->valueBegin] = {entry->valueEnd, parse_.Value(*entry) == v.value ? std::string()
                                                                                               : QuotedIfNeeded(value),
                                            parse_.Value(*entry) != v.value};
            return true;
        }
        const std::size_t at = found ? (found->entries.empty() ? found->headerEnd : found->entries.back().lineEnd)
                                     : std::string::npos;
        Pending& pending = PendingSection(at, section);
        for (auto& [oldKey, oldValue] : pending.entries) {
            if (EqualIgnoringAsciiCase(oldKey, key)) {
                oldValue = QuotedIfNeeded(value);
                return true;
            }
        }
        pending.entries.emplace_back(key, QuotedIfNeeded(value));
        return true;
    }

    bool Changes() const
    {
        return !inserted_.empty() || std::any_of(replaced_.begin(), replaced_.end(), [](const auto& r) { return r.second.changes; });
    }

    std::string Result() const
    {
        const std::string& old = parse_.bytes;
        const std::string& lineBreak = parse_.lineBreak;
        std::string out;
        out.reserve(old.size() + 256);
        std::size_t copied = 0;
        auto replacement = replaced_.begin();
        auto insertion = inserted_.begin();
        // Replacements come before insertions at the same place: a value may end where its line ends.
        while (replacement != replaced_.end() || (insertion != inserted_.end() && insertion->at != std::string::npos)) {
            const bool replace = replacement != replaced_.end()
                && (insertion == inserted_.end() || replacement->first <= insertion->at);
            if (replace) {
                out.append(old, copied, replacement->first - copied);
                copied = replacement->second.end;
                if (replacement->second.changes)
                    out += replacement->second.text;
                else
                    out.append(old, replacement->first, replacement->second.end - replacement->first);
                ++replacement;
            } else {
                out.append(old, copied, insertion->at - copied);
                copied = insertion->at;
                for (const auto& [key, value] : insertion->entries)
                    out += lineBreak + key + "=" + value;
                ++insertion;
            }
        }
        out.append(old, copied, std::string::npos);
        for (; insertion != inserted_.end(); ++insertion) {
            if (!out.empty() && out.back() != '\n' && out.back() != '\r')
                out += lineBreak;
            out += "[" + insertion->section + "]" + lineBreak;
            for (const auto& [key, value] : insertion->entries)
                out += key + "=" + value + lineBreak;
        }
        return out;
    }

private:
    struct Replacement {
        std::size_t end;
        std::string text;
        bool changes;
    };
    struct Pending {
        std::size_t at; // npos: a new section at the end
        std::string section;
        std::vector<std::pair<std::string, std::string>> entries;
    };

    Pending& PendingSection(std::size_t at, const std::string& section)
    {
        for (Pending& pending : inserted_)
            if (pending.at == at && (at != std::string::npos || EqualIgnoringAsciiCase(pending.section, section)))
                return pending;
        // Kept ordered by place; new sections last, in the order they were first written.
        auto it = inserted_.begin();
        while (it != inserted_.end() && it->at <= at && it->at != std::string::npos)
            ++it;
        if (at == std::string::npos)
            it = inserted_.end();
        return *inserted_.insert(it, Pending{at, section, {}});
    }

    const TIniParse& parse_;
    std::map<std::size_t, Replacement> replaced_; // by where the old value begins
    std::vector<Pending> inserted_;
};

// The bytes of a Windows-1252 file turned into UTF-8, its byte-order mark kept.
std::string AsUtf8(const TIniParse& parse)
{
    return parse.bytes.substr(0, parse.textBegin) + DecodeWindows1252(std::string_view(parse.bytes).substr(parse.textBegin));
}

// The new bytes, or nothing when the values are all there already.
std::optional<std::string> Apply(const TIniParse& parse, const std::vector<TIniValue>& values)
{
    if (parse.windows1252) {
        TIniEdit edit(parse);
        bool encodable = true;
        for (const TIniValue& v : values)
            encodable = encodable && edit.Add(v);
        if (encodable && !edit.Changes())
            return std::nullopt;
        if (encodable) {
            std::string bytes = edit.Result();
            const std::string_view text = std::string_view(bytes).substr(parse.textBegin);
            // The file must go on reading as Windows-1252, not turn into UTF-8 with other letters.
            if (!IsValidUtf8(text) || IsAscii(text))
                return bytes;
        }
        // Windows-1252 cannot hold the new text: the file goes over to UTF-8 as a whole, every
        // character kept, rather than gaining bytes that would read back as other letters.
        TIniParse utf8;
        utf8.bytes = AsUtf8(parse);
        utf8.Parse();
        return Apply(utf8, values).value_or(utf8.bytes);
    }
    TIniEdit edit(parse);
    for (const TIniValue& v : values)
        edit.Add(v);
    if (!edit.Changes())
        return std::nullopt;
    return edit.Result();
}

// The first entry of a section with each key, without regard to ASCII case: an open-addressing
// table of entries, a fraction of the size of a node-based map for a big catalogue.
class TFirstEntries {
public:
    explicit TFirstEntries(std::size_t entries) : slots_(std::bit_ceil(std::max<std::size_t>(2 * entries, 16)), nullptr) {}

    // The first entry seen so far with entry's key; entry itself when there was none.
    const TIniEntry& Of(const TIniParse& parse, const TIniEntry& entry)
    {
        const std::string_view key = parse.Raw(entry.keyBegin, entry.keyEnd);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = AsciiCaseHash(key) & mask;; at = (at + 1) & mask) {
            if (!slots_[at])
                return *(slots_[at] = &entry);
            if (EqualIgnoringAsciiCase(parse.Raw(slots_[at]->keyBegin, slots_[at]->keyEnd), key))
                return *slots_[at];
        }
    }

private:
    std::vector<const TIniEntry*> slots_;
};

} // namespace

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
    FileHandle file(OpenRegular(fileName_, info));
    if (file.Get() >= 0 && ReadAll(file.Get(), parse->bytes, info.st_size)) {
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
    const TIniParse& parse = Current();
    const TIniEntry* entry = parse.Find(section, key);
    return entry ? parse.Value(*entry) : defaultValue;
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
    const TIniParse& parse = Current();
    std::vector<std::string> keys;
    if (const TIniSection* found = parse.Find(section)) {
        keys.reserve(found->entries.size());
        for (const TIniEntry& entry : found->entries)
            keys.push_back(parse.Key(entry));
    }
    return keys;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(const std::string& section) const
{
    std::vector<std::pair<std::string, std::string>> pairs;
    ReadSectionValues(section, [&](std::string_view key, std::string_view value) { pairs.emplace_back(key, value); });
    return pairs;
}

void TIniFile::ReadSectionValues(const std::string& section,
                                 const std::function<void(std::string_view, std::string_view)>& visit) const
{
    const TIniParse& parse = Current();
    const TIniSection* found = parse.Find(section);
    if (!found)
        return;
    // A repeated key reads as its first entry.
    TFirstEntries first(found->entries.size());
    for (const TIniEntry& entry : found->entries) {
        const TIniEntry& valueEntry = first.Of(parse, entry);
        const auto [valueBegin, valueEnd] = parse.ValueRange(valueEntry);
        if (parse.windows1252)
            visit(parse.Key(entry), parse.Text(valueBegin, valueEnd));
        else
            visit(parse.Raw(entry.keyBegin, entry.keyEnd), parse.Raw(valueBegin, valueEnd));
    }
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    WriteValues({{section, key, value}});
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, BoolText(value));
}

void TIniFile::WriteValues(const std::vector<TIniValue>& values)
{
    if (!std::all_of(values.begin(), values.end(), Storable))
        throw WriteError(fileName_);
    const std::string target = FollowLinks(fileName_);
    if (target.empty())
        throw WriteError(fileName_);

    struct stat info {};
    FileHandle file(OpenRegular(target, info));
    const bool exists = file.Get() >= 0;
    if (!exists && errno != ENOENT)
        throw WriteError(fileName_); // unreadable, or no regular file (a FIFO, a device)
    // A file the user made read-only stays as it is, even though the rename could replace it.
    if (::faccessat(AT_FDCWD, (exists ? target : DirectoryOf(target)).c_str(), W_OK, AT_EACCESS) != 0)
        throw WriteError(fileName_);

    TIniParse fresh;
    const TIniParse* parse = &fresh;
    if (exists && parse_ && parse_->stamp == StampOf(info)) {
        parse = parse_.get();
    } else if (exists) {
        if (!ReadAll(file.Get(), fresh.bytes, info.st_size))
            throw WriteError(fileName_);
        fresh.Parse();
    }
    file.Close();

    const std::optional<std::string> bytes = Apply(*parse, values);
    if (!bytes)
        return;
    if (!ReplaceFile(target, *bytes, exists ? &info : nullptr)) {
        parse_.reset();
        throw WriteError(fileName_);
    }
    // The next read parses the new file; the last write at exit is followed by none.
    parse_.reset();
}

const char* BoolText(bool value)
{
    return value ? "1" : "0";
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
