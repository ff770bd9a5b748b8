#include "IniEdit.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

namespace ini {
namespace {

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
    return platform::IsValidUtf8(value) && !HasLineBreakOrNul(value);
}

bool StorableSection(std::string_view section)
{
    return StorableValue(section) && !Padded(section);
}

// The value as it must stand in the file to read back unchanged: quoted when reading would
// otherwise trim its blanks or take away its own enclosing quotes.
std::string QuotedIfNeeded(const std::string& value)
{
    const bool enclosed = value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front();
    return Padded(value) || enclosed ? '"' + value + '"' : value;
}

} // namespace

bool StorableKeyText(std::string_view key)
{
    return StorableValue(key) && !Padded(key) && key.find('=') == std::string_view::npos
        && (key.empty() || (key[0] != ';' && key[0] != '['));
}

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
            if (!StorableSection(v.section) || !StorableKeyText(v.key) || !StorableValue(v.value))
                throw TUnstorable();
            return false;
        }
        const std::optional<std::size_t> found = parse_.FindSection(section);
        if (v.erase) {
            if (const std::optional<TIniEntry> entry = found ? parse_.FindEntry(*found, key) : std::nullopt)
                replaced_[LineBreakBefore(entry->keyBegin)] = {entry->lineEnd, std::string(), true};
            return true;
        }
        if (const std::optional<TIniEntry> entry = found ? parse_.FindEntry(*found, key) : std::nullopt) {
            const bool changes = parse_.Value(*entry) != v.value;
            if (changes && !StorableValue(v.value))
                throw TUnstorable();
            if (changes && !parse_.InFileEncoding(v.value, value))
                return false;
            replaced_[entry->valueBegin] = {entry->valueEnd, changes ? QuotedIfNeeded(value) : std::string(), changes};
            return true;
        }
        if ((!found && !StorableSection(v.section)) || !StorableKeyText(v.key) || !StorableValue(v.value))
            throw TUnstorable();
        if (!parse_.InFileEncoding(v.value, value))
            return false;
        const std::size_t at = found ? LastEntryEnd(*found) : std::string::npos;
        Pending& pending = PendingSection(at, section);
        // Thousands of new keys in one batch (games added from disk) each look for an earlier one.
        const auto [known, isNew] = pending.index.try_emplace(platform::AsciiLowerCase(key), pending.entries.size());
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

    // An erased line goes with the line break before it, so that what follows its text (its own
    // line break, or a key added after it) stays in place.
    std::size_t LineBreakBefore(std::size_t keyBegin) const
    {
        std::size_t at = keyBegin;
        while (at > 0 && (parse_.bytes[at - 1] == ' ' || parse_.bytes[at - 1] == '\t'))
            --at;
        if (at > 0 && parse_.bytes[at - 1] == '\n')
            --at;
        if (at > 0 && parse_.bytes[at - 1] == '\r')
            --at;
        return at;
    }

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
            if (pending.at == at && (at != std::string::npos || platform::EqualIgnoringAsciiCase(pending.section, section)))
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

namespace {

// The bytes of a Windows-1252 file turned into UTF-8, its byte-order mark kept.
std::string AsUtf8(const TIniParse& parse)
{
    return parse.bytes.substr(0, parse.textBegin) + platform::DecodeWindows1252(std::string_view(parse.bytes).substr(parse.textBegin));
}


} // namespace

TNewFile::TNewFile(const TIniParse& parse, const std::vector<TIniValue>& values)
{
    edit_ = std::make_unique<TIniEdit>(parse);
    const bool encodable = std::all_of(values.begin(), values.end(), [&](const TIniValue& v) { return edit_->Add(v); });
    changes_ = edit_->Changes();
    if (encodable && (!parse.windows1252 || !changes_))
        return;
    if (encodable) {
        edit_->Result([&](std::string_view piece) { bytes_.append(piece); });
        const std::string_view text = std::string_view(bytes_).substr(parse.textBegin);
        // The file must go on reading as Windows-1252, not turn into UTF-8 with other letters.
        if (!platform::IsValidUtf8(text) || platform::IsAscii(text)) {
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
    edit_ = std::make_unique<TIniEdit>(*converted_);
    for (const TIniValue& v : values)
        edit_->Add(v);
    changes_ = true;
}

TNewFile::~TNewFile() = default;

void TNewFile::Write(const TSink& out) const
{
    if (edit_)
        edit_->Result(out);
    else
        out(bytes_);
}

} // namespace ini
