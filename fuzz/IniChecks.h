// What the settings fuzzer checks on one input, shared with the test that loads its corpus and
// regressions. The file is read by TIniFile and by a plain second reading written straight from
// the profile-file rules (whole text decoded first, then split into lines); then every value is
// written back unchanged (the bytes must not change), and one value is changed and one key added
// (everything else must read the same afterwards).
#pragma once

#include "IniFiles.h"
#include "SysUtils.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inicheck {

// ---- The second reading -----------------------------------------------------------------------

struct RefSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
};

// Strict UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
inline bool ValidUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || s.size() - i < n)
            return false;
        std::uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (c & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

inline std::string Latin1252ToUtf8(std::string_view s)
{
    static const char32_t high[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                      0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
    std::string out;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        const char32_t cp = b >= 0x80 && b < 0xA0 ? high[b - 0x80] : b;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

inline std::string Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s);
}

inline bool SameIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Every section in file order, each with its entries in file order, texts in UTF-8.
inline std::vector<RefSection> ReferenceRead(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    const std::string text = ValidUtf8(bytes) ? std::string(bytes) : Latin1252ToUtf8(bytes);
    std::vector<RefSection> sections;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end == text.size() ? end : end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[' && line.find(']') != std::string::npos) {
            sections.push_back({Trim(std::string_view(line).substr(1, line.rfind(']') - 1)), {}});
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || sections.empty())
            continue;
        std::string value = Trim(std::string_view(line).substr(equals + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        sections.back().entries.emplace_back(Trim(std::string_view(line).substr(0, equals)), value);
    }
    return sections;
}

inline const RefSection* FindSection(const std::vector<RefSection>& sections, std::string_view name)
{
    for (const RefSection& section : sections)
        if (SameIgnoringAsciiCase(section.name, name))
            return &section;
    return nullptr;
}

inline std::optional<std::string> FindValue(const std::vector<RefSection>& sections, std::string_view section,
                                            std::string_view key)
{
    if (const RefSection* found = FindSection(sections, section))
        for (const auto& [k, v] : found->entries)
            if (SameIgnoringAsciiCase(k, key))
                return v;
    return std::nullopt;
}

// ---- The checks -------------------------------------------------------------------------------

inline std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The sections a reader sees: the first of each name.
inline std::vector<const RefSection*> Readable(const std::vector<RefSection>& sections, std::size_t limit)
{
    std::vector<const RefSection*> readable;
    for (const RefSection& section : sections)
        if (FindSection(sections, section.name) == &section && readable.size() < limit)
            readable.push_back(&section);
    return readable;
}

// TIniFile on path reads what the second reading of bytes reads; a text naming the first
// difference, or empty.
inline std::string CompareReadings(const std::string& path, const std::vector<RefSection>& reference)
{
    const TIniFile ini(path);
    for (const RefSection* section : Readable(reference, 64)) {
        std::vector<std::string> keys;
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const auto& [key, value] : section->entries) {
            keys.push_back(key);
            pairs.emplace_back(key, *FindValue(reference, section->name, key));
        }
        if (ini.ReadSection(section->name) != keys)
            return "the keys of [" + section->name + "] differ";
        if (ini.ReadSectionValues(section->name) != pairs)
            return "the values of [" + section->name + "] differ";
        for (std::size_t i = 0; i < pairs.size() && i < 64; ++i)
            if (ini.ReadString(section->name, pairs[i].first, "\x01") != pairs[i].second)
                return "[" + section->name + "] " + pairs[i].first + " reads differently";
    }
    if (!FindSection(reference, "no such section") && ini.ReadString("no such section", "k", "\x01") != "\x01")
        return "a missing section reads as something";
    return {};
}

// Everything the second reading finds, each key once: what the reader gives back.
inline std::vector<TIniValue> EveryValue(const std::vector<RefSection>& reference, std::size_t limit)
{
    std::vector<TIniValue> values;
    for (const RefSection* section : Readable(reference, limit))
        for (const auto& [key, value] : section->entries)
            if (values.size() < limit)
                values.push_back({section->name, key, *FindValue(reference, section->name, key)});
    return values;
}

// The whole check on one input, written to path (a scratch file the check may replace).
inline std::string CheckInput(const std::string& bytes, const std::string& path)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    const std::vector<RefSection> reference = ReferenceRead(bytes);
    if (std::string difference = CompareReadings(path, reference); !difference.empty())
        return "read: " + difference;

    // Every value written back as read: nothing changes, whatever the values hold.
    const std::vector<TIniValue> values = EveryValue(reference, 256);
    try {
        TIniFile(path).WriteValues(values);
    } catch (const Exception& error) {
        return std::string("unchanged values refused: ") + error.what();
    }
    if (FileBytes(path) != bytes)
        return "unchanged values changed the file";

    // One value changed and one key added; the new text chosen by the input.
    if (values.empty())
        return {};
    static const char* const newTexts[] = {"1", " padded ", "\"quoted\"", ("Espa\xC3\xB1" "a"), "\xE2\x82\xAC 5", "\xE6\x97\xA5\xE6\x9C\xAC", "", "a=b;c"};
    const std::size_t pick = bytes.size() % values.size();
    const std::string newText = newTexts[(bytes.empty() ? 0 : static_cast<unsigned char>(bytes.back())) % 8];
    const TIniValue changed{values[pick].section, values[pick].key, newText};
    const TIniValue added{values[pick].section, "fuzz added key", newText + "+"};
    std::vector<TIniValue> batch = {changed};
    if (!SameIgnoringAsciiCase(changed.key, added.key))
        batch.push_back(added);
    try {
        TIniFile(path).WriteValues(batch);
    } catch (const Exception& error) {
        return std::string("a storable change refused: ") + error.what();
    }
    const std::vector<RefSection> after = ReferenceRead(FileBytes(path));
    if (std::string difference = CompareReadings(path, after); !difference.empty())
        return "after a change: " + difference;
    for (const TIniValue& v : values) {
        const bool isChanged = SameIgnoringAsciiCase(v.section, changed.section) && SameIgnoringAsciiCase(v.key, changed.key);
        const bool isAdded = SameIgnoringAsciiCase(v.section, added.section) && SameIgnoringAsciiCase(v.key, added.key);
        if (!isChanged && !isAdded && FindValue(after, v.section, v.key) != v.value)
            return "[" + v.section + "] " + v.key + " reads differently after another value changed";
    }
    if (FindValue(after, changed.section, changed.key) != changed.value)
        return "the changed value does not read back";
    if (batch.size() == 2 && FindValue(after, added.section, added.key) != added.value)
        return "the added key does not read back";
    return {};
}

} // namespace inicheck
