#include "IniFiles.h"

#include "Files.h"
#include "IniEdit.h"
#include "IniParse.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>

using ini::TIniParse;

namespace {

// Collects small pieces into big writes.
class TBufferedWriter {
public:
    explicit TBufferedWriter(int fd) : fd_(fd) { buffer_.reserve(Capacity); }

    void Put(std::string_view piece)
    {
        if (buffer_.size() + piece.size() > Capacity)
            Flush();
        if (piece.size() >= Capacity)
            ok_ = ok_ && platform::WriteAll(fd_, piece);
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
        ok_ = ok_ && platform::WriteAll(fd_, buffer_);
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

bool TIniFile::IsWindows1252() const
{
    return Current().windows1252;
}

bool TIniFile::StorableKey(std::string_view key)
{
    return ini::StorableKeyText(key);
}

const TIniParse& TIniFile::Current() const
{
    using ini::MaxFileSize;
    using ini::StampOf;
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
    const platform::TFd file = platform::OpenRegularFile(fileName_, true, info);
    if (file && platform::ReadUpTo(file.Get(), parse->bytes, static_cast<std::size_t>(info.st_size), MaxFileSize - 1)) {
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
    const std::optional<ini::TIniEntry> entry = parse.FindEntry(section, key);
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
    parse.ForEachWithFirst(*found, [&](const ini::TIniEntry& entry, std::size_t first) {
        const auto [valueBegin, valueEnd] = parse.ValueRange(first == entry.keyBegin ? entry : parse.EntryAt(first));
        if (!parse.windows1252) {
            visit(parse.RawKey(entry), parse.Raw(valueBegin, valueEnd));
            return;
        }
        key = platform::DecodeWindows1252(parse.RawKey(entry));
        value = platform::DecodeWindows1252(parse.Raw(valueBegin, valueEnd));
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
    using ini::MaxFileSize;
    std::string target = platform::FollowLinks(fileName_);
    if (target.empty())
        throw platform::WriteRefused(fileName_);

    struct stat info {};
    platform::TFd file = platform::OpenRegularFile(target, true, info);
    const bool exists = static_cast<bool>(file);
    // A case-blind file system opened the file under another spelling: the rename keeps the one
    // the user sees, and so do the messages.
    const std::string shown = exists ? platform::ListedPath(fileName_) : fileName_;
    if (exists)
        target = platform::ListedPath(target);
    if (!exists && errno != ENOENT)
        throw platform::WriteRefused(shown); // unreadable, or no regular file (a FIFO, a device)
    if (exists && info.st_size >= MaxFileSize)
        throw platform::WriteRefused(shown);
    // A file the user made read-only stays as it is, even though the rename could replace it.
    if (!platform::MayWrite(target, exists))
        throw platform::WriteRefused(shown);

    TIniParse fresh;
    const TIniParse* parse = &fresh;
    if (exists && parse_ && parse_->stamp == ini::StampOf(info)) {
        parse = parse_.get();
    } else if (exists) {
        if (!platform::ReadUpTo(file.Get(), fresh.bytes, static_cast<std::size_t>(info.st_size), MaxFileSize - 1))
            throw platform::WriteRefused(shown);
        fresh.Parse();
    }
    file.Close();

    std::optional<ini::TNewFile> result;
    try {
        result.emplace(*parse, values);
    } catch (const ini::TUnstorable&) {
        throw platform::WriteRefused(shown);
    }
    if (!result->Changes())
        return;
    const bool replaced = platform::ReplaceFile(target, [&](int fd) {
        TBufferedWriter writer(fd);
        result->Write([&](std::string_view piece) { writer.Put(piece); });
        return writer.Finish();
    }, platform::TReplaceMode{exists ? &info : nullptr, 0666});
    // The next read parses the new file; the last write at exit is followed by none.
    result.reset();
    parse_.reset();
    if (!replaced)
        throw platform::WriteRefused(shown);
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
