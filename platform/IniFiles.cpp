#include "IniFiles.h"

#include "SysUtils.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <map>
#include <optional>
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
        // Runs of ASCII eight bytes at a time: most of a big file is plain text.
        std::uint64_t word = 0;
        while (text.size() - i >= sizeof word) {
            std::memcpy(&word, text.data() + i, sizeof word);
            if (word & 0x8080808080808080ull)
                break;
            i += sizeof word;
        }
        if (i < text.size() && !NextCodePoint(text, i, cp))
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

// The file's bytes in one buffer of the file's size (a file that grows meanwhile is read whole).
bool ReadAll(int fd, std::string& bytes, off_t sizeHint)
{
    std::size_t got = 0;
    bytes.resize(static_cast<std::size_t>(std::max<off_t>(sizeHint, 0)) + 1);
    for (;;) {
        if (got == bytes.size())
            bytes.resize(bytes.size() + bytes.size() / 2 + 65536);
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return true;
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

// Puts what write writes in place of the file at path as one step: written to a temporary file
// beside it, flushed to disk and renamed over it, with the old file's permissions and owner. On failure
// the file is as it was and the temporary file is gone.
bool ReplaceFile(const std::string& path, const std::function<bool(int fd)>& write, const struct stat* old)
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
    const bool written = write(file.Get()) && ::fchmod(file.Get(), old ? old->st_mode & 07777 : NewFileMode()) == 0
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

namespace {

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

} // namespace

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
        return windows1252 ? DecodeWindows1252(Raw(begin, end)) : std::string(Raw(begin, end));
    }
    bool InFileEncoding(const std::string& text, std::string& out) const
    {
        if (!windows1252) {
            out = text;
            return true;
        }
        return EncodeWindows1252(text, out);
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
    std::string Key(const TIniEntry& entry) const { return Text(entry.keyBegin, entry.keyEnd); }

private:
    mutable std::map<std::string, std::optional<std::size_t>> sectionsFound_; // by lower-case name
    mutable std::map<std::size_t, std::unique_ptr<TKeyIndex>> keys_;        // by section
};

// The first entry of each key of one section, by where its key begins: an open-addressing table
// that grows with the number of distinct keys, so a key repeated a million times costs one slot.
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
            if (slots_[at] == NoOffset || EqualIgnoringAsciiCase(parse.RawKeyAt(slots_[at]), key))
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

TIniParse::TIniParse() = default;
TIniParse::~TIniParse() = default;

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

namespace {

std::string DetectLineBreak(std::string_view bytes)
{
    const std::size_t at = bytes.find_first_of("\r\n");
    if (at == std::string_view::npos || bytes[at] == '\n')
        return "\n";
    return at + 1 < bytes.size() && bytes[at + 1] == '\n' ? "\r\n" : "\r";
}

std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

} // namespace

void TIniParse::Parse()
{
    sections.clear();
    sectionsFound_.clear();
    keys_.clear();
    // The mark says nothing about the rest: a file made on Windows may carry it before Latin text.
    textBegin = bytes.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    const std::string_view text = std::string_view(bytes).substr(textBegin);
    windows1252 = !IsValidUtf8(text);
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
    const auto [cached, isNew] = sectionsFound_.try_emplace(AsciiLower(name));
    if (isNew) {
        for (std::size_t s = 0; s < sections.size() && !cached->second; ++s)
            if (EqualIgnoringAsciiCase(SectionName(s), name))
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

namespace {

Exception WriteError(const std::string& fileName)
{
    return Exception("nach " + fileName + " kann nicht geschrieben werden");
}

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool Padded(std::string_view text)
{
    return !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()));
}

// Whether a text can stand in the file and read back as it is: nothing may break the line;
// names carry no surrounding blanks (reading would trim them), a key must not look like a
// comment or a header or hold "=".
bool StorableValue(std::string_view value)
{
    return IsValidUtf8(value) && !HasLineBreakOrNul(value);
}

bool StorableSection(std::string_view section)
{
    return StorableValue(section) && !Padded(section);
}

bool StorableKey(std::string_view key)
{
    return StorableValue(key) && !Padded(key) && key.find('=') == std::string_view::npos
        && (key.empty() || (key[0] != ';' && key[0] != '['));
}

// The value as it must stand in the file to read back unchanged: quoted when reading would
// otherwise trim its blanks or take away its own enclosing quotes.
std::string QuotedIfNeeded(const std::string& value)
{
    const bool enclosed = value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front();
    return Padded(value) || enclosed ? '"' + value + '"' : value;
}

// A batch holds a text that no file could hold.
struct TUnstorable {};

using TSink = std::function<void(std::string_view)>;

// The file's new bytes after a batch of writes, produced in one pass over the old ones: values
// of existing entries replaced, new entries after the last entry of their section, missing
// sections at the end. The same result as writing the values one after the other.
class TIniEdit {
public:
    explicit TIniEdit(const TIniParse& parse) : parse_(parse) {}

    // False when the file's encoding cannot hold the texts. A value equal to the one the file
    // holds is kept as it stands, whatever it holds: what was read can always be written back.
    bool Add(const TIniValue& v)
    {
        std::string section, key, value;
        if (!parse_.InFileEncoding(v.section, section) || !parse_.InFileEncoding(v.key, key)) {
            // Names the file's encoding cannot hold name no entry of the file: they are new.
            if (!StorableSection(v.section) || !StorableKey(v.key) || !StorableValue(v.value))
                throw TUnstorable();
            return false;
        }
        const std::optional<std::size_t> found = parse_.FindSection(section);
        if (const std::optional<TIniEntry> entry = found ? parse_.FindEntry(*found, key) : std::nullopt) {
            const bool changes = parse_.Value(*entry) != v.value;
            if (changes && !StorableValue(v.value))
                throw TUnstorable();
            if (changes && !parse_.InFileEncoding(v.value, value))
                return false;
            replaced_[entry->valueBegin] = {entry->valueEnd, changes ? QuotedIfNeeded(value) : std::string(), changes};
            return true;
        }
        if ((!found && !StorableSection(v.section)) || !StorableKey(v.key) || !StorableValue(v.value))
            throw TUnstorable();
        if (!parse_.InFileEncoding(v.value, value))
            return false;
        const std::size_t at = found ? LastEntryEnd(*found) : std::string::npos;
        Pending& pending = PendingSection(at, section);
        // Thousands of new keys in one batch (games added from disk) each look for an earlier one.
        const auto [known, isNew] = pending.index.try_emplace(AsciiLower(key), pending.entries.size());
        if (!isNew) {
            pending.entries[known->second].second = QuotedIfNeeded(value);
            return true;
        }
        pending.entries.emplace_back(key, QuotedIfNeeded(value));
        return true;
    }

    bool Changes() const
    {
        return !inserted_.empty() || std::any_of(replaced_.begin(), replaced_.end(), [](const auto& r) { return r.second.changes; });
    }

    void Result(const TSink& out) const
    {
        const std::string_view old = parse_.bytes;
        const std::string& lineBreak = parse_.lineBreak;
        std::size_t copied = 0;
        auto replacement = replaced_.begin();
        auto insertion = inserted_.begin();
        // Replacements come before insertions at the same place: a value may end where its line ends.
        while (replacement != replaced_.end() || (insertion != inserted_.end() && insertion->at != std::string::npos)) {
            const bool replace = replacement != replaced_.end()
                && (insertion == inserted_.end() || replacement->first <= insertion->at);
            if (replace) {
                const auto& [valueBegin, with] = *replacement;
                out(old.substr(copied, (with.changes ? valueBegin : with.end) - copied));
                if (with.changes)
                    out(with.text);
                copied = with.end;
                ++replacement;
            } else {
                out(old.substr(copied, insertion->at - copied));
                copied = insertion->at;
                for (const auto& [key, value] : insertion->entries)
                    out(lineBreak + key + "=" + value);
                ++insertion;
            }
        }
        out(old.substr(copied));
        bool lineOpen = !old.empty() && old.back() != '\n' && old.back() != '\r';
        for (; insertion != inserted_.end(); ++insertion) {
            if (std::exchange(lineOpen, false))
                out(lineBreak);
            out("[" + insertion->section + "]" + lineBreak);
            for (const auto& [key, value] : insertion->entries)
                out(key + "=" + value + lineBreak);
        }
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
        std::unordered_map<std::string, std::size_t> index; // entries by key, lowered
    };

    // Where a new key of section s goes: after its last entry, else after its header.
    std::size_t LastEntryEnd(std::size_t s)
    {
        const auto known = lastEntryEnds_.find(s);
        if (known != lastEntryEnds_.end())
            return known->second;
        std::size_t end = parse_.HeaderEnd(s);
        parse_.ForEachEntry(s, [&](const TIniEntry& entry) { end = entry.lineEnd; });
        return lastEntryEnds_[s] = end;
    }

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
        return *inserted_.insert(it, Pending{at, section, {}, {}});
    }

    const TIniParse& parse_;
    std::map<std::size_t, Replacement> replaced_; // by where the old value begins
    std::vector<Pending> inserted_;
    std::map<std::size_t, std::size_t> lastEntryEnds_; // by section
};

// The bytes of a Windows-1252 file turned into UTF-8, its byte-order mark kept.
std::string AsUtf8(const TIniParse& parse)
{
    return parse.bytes.substr(0, parse.textBegin) + DecodeWindows1252(std::string_view(parse.bytes).substr(parse.textBegin));
}

// What a batch of writes makes of the file. Throws TUnstorable for a text no file could hold.
class TNewFile {
public:
    TNewFile(const TIniParse& parse, const std::vector<TIniValue>& values)
    {
        edit_.emplace(parse);
        const bool encodable = std::all_of(values.begin(), values.end(), [&](const TIniValue& v) { return edit_->Add(v); });
        changes_ = edit_->Changes();
        if (encodable && (!parse.windows1252 || !changes_))
            return;
        if (encodable) {
            edit_->Result([&](std::string_view piece) { bytes_.append(piece); });
            const std::string_view text = std::string_view(bytes_).substr(parse.textBegin);
            // The file must go on reading as Windows-1252, not turn into UTF-8 with other letters.
            if (!IsValidUtf8(text) || IsAscii(text)) {
                edit_.reset();
                return;
            }
            bytes_.clear();
        }
        // Windows-1252 cannot hold the new text: the file goes over to UTF-8 as a whole, every
        // character kept, rather than gaining bytes that would read back as other letters.
        converted_ = std::make_unique<TIniParse>();
        converted_->bytes = AsUtf8(parse);
        converted_->Parse();
        edit_.emplace(*converted_);
        for (const TIniValue& v : values)
            edit_->Add(v);
        changes_ = true;
    }

    // False when every value is in the file already.
    bool Changes() const { return changes_; }

    void Write(const TSink& out) const
    {
        if (edit_)
            edit_->Result(out);
        else
            out(bytes_);
    }

private:
    std::unique_ptr<TIniParse> converted_;
    std::optional<TIniEdit> edit_;
    std::string bytes_; // the result, when it had to be looked at whole
    bool changes_ = false;
};

// Collects small pieces into big writes.
class TBufferedWriter {
public:
    explicit TBufferedWriter(int fd) : fd_(fd) { buffer_.reserve(Capacity); }

    void Put(std::string_view piece)
    {
        if (buffer_.size() + piece.size() > Capacity)
            Flush();
        if (piece.size() >= Capacity)
            ok_ = ok_ && WriteAll(fd_, piece);
        else
            buffer_.append(piece);
    }
    bool Finish()
    {
        Flush();
        return ok_;
    }

private:
    static constexpr std::size_t Capacity = 1 << 20;

    void Flush()
    {
        ok_ = ok_ && WriteAll(fd_, buffer_);
        buffer_.clear();
    }

    int fd_;
    std::string buffer_;
    bool ok_ = true;
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
    if (::stat(fileName_.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size >= MaxFileSize) {
        if (!parse_ || parse_->stamp.exists)
            parse_ = std::make_unique<TIniParse>();
        return *parse_;
    }
    if (parse_ && parse_->stamp == StampOf(info))
        return *parse_;

    parse_.reset(); // the old parse's memory is free before the new one is read
    auto parse = std::make_unique<TIniParse>();
    FileHandle file(OpenRegular(fileName_, info));
    if (file.Get() >= 0 && ReadAll(file.Get(), parse->bytes, info.st_size)
        && parse->bytes.size() < static_cast<std::size_t>(MaxFileSize)) {
        parse->stamp = StampOf(info);
        parse->Parse();
    } else {
        parse->bytes = std::string(); // unreadable: reads as missing, and is looked at again next time
    }
    parse_ = std::move(parse);
    return *parse_;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    const TIniParse& parse = Current();
    const std::optional<TIniEntry> entry = parse.FindEntry(section, key);
    return entry ? parse.Value(*entry) : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const
{
    std::string text = ReadString(section, key, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.replace(0, 2, "$");
    return StrToIntDef(text, defaultValue ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const
{
    std::vector<std::string> keys;
    ReadSectionValues(section, [&](std::string_view key, std::string_view) { keys.emplace_back(key); });
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
    std::string sectionBytes;
    if (!parse.InFileEncoding(section, sectionBytes))
        return;
    const std::optional<std::size_t> found = parse.FindSection(sectionBytes);
    if (!found)
        return;
    // A repeated key reads as its first entry.
    std::string key;
    std::string value;
    parse.ForEachWithFirst(*found, [&](const TIniEntry& entry, std::size_t first) {
        const auto [valueBegin, valueEnd] = parse.ValueRange(first == entry.keyBegin ? entry : parse.EntryAt(first));
        if (!parse.windows1252) {
            visit(parse.RawKey(entry), parse.Raw(valueBegin, valueEnd));
            return;
        }
        key = DecodeWindows1252(parse.RawKey(entry));
        value = DecodeWindows1252(parse.Raw(valueBegin, valueEnd));
        visit(key, value);
    });
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
    const std::string target = FollowLinks(fileName_);
    if (target.empty())
        throw WriteError(fileName_);

    struct stat info {};
    FileHandle file(OpenRegular(target, info));
    const bool exists = file.Get() >= 0;
    if (!exists && errno != ENOENT)
        throw WriteError(fileName_); // unreadable, or no regular file (a FIFO, a device)
    if (exists && info.st_size >= MaxFileSize)
        throw WriteError(fileName_);
    // A file the user made read-only stays as it is, even though the rename could replace it.
    if (::faccessat(AT_FDCWD, (exists ? target : DirectoryOf(target)).c_str(), W_OK, AT_EACCESS) != 0)
        throw WriteError(fileName_);

    TIniParse fresh;
    const TIniParse* parse = &fresh;
    if (exists && parse_ && parse_->stamp == StampOf(info)) {
        parse = parse_.get();
    } else if (exists) {
        if (!ReadAll(file.Get(), fresh.bytes, info.st_size) || fresh.bytes.size() >= static_cast<std::size_t>(MaxFileSize))
            throw WriteError(fileName_);
        fresh.Parse();
    }
    file.Close();

    std::optional<TNewFile> result;
    try {
        result.emplace(*parse, values);
    } catch (const TUnstorable&) {
        throw WriteError(fileName_);
    }
    if (!result->Changes())
        return;
    const bool replaced = ReplaceFile(target, [&](int fd) {
        TBufferedWriter writer(fd);
        result->Write([&](std::string_view piece) { writer.Put(piece); });
        return writer.Finish();
    }, exists ? &info : nullptr);
    // The next read parses the new file; the last write at exit is followed by none.
    result.reset();
    parse_.reset();
    if (!replaced)
        throw WriteError(fileName_);
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
