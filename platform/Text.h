// Text encodings and ASCII letter case: the one place that knows Windows-1252 and UTF-8. Every
// layer that reads or writes text in these encodings (the settings file, the memo, the game scan)
// asks here; nothing above re-implements them. Free of any toolkit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// c lowered when it is an ASCII capital; every other byte as it stands.
constexpr char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// text with its ASCII capitals lowered (or its ASCII small letters raised), every other byte as
// it stands.
std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);

// Equal once ASCII capitals are lowered. Inline: the settings file's key lookups compare often.
inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// Every byte below 0x80.
bool IsAscii(std::string_view text);

// Valid UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Decodes the UTF-8 sequence at text[i], advancing i past it; false, i unchanged, when it is
// malformed (as IsValidUtf8 judges).
bool NextCodePoint(std::string_view text, std::size_t& i, char32_t& cp);

// The code points of a UTF-8 text; nothing when it is not valid UTF-8.
std::optional<std::u32string> CodePoints(std::string_view text);

// cp in UTF-8 appended to out (cp below U+10000, as Windows-1252 gives).
void AppendUtf8(std::string& out, char32_t cp);

// Windows-1252 bytes as UTF-8. The five bytes Windows-1252 leaves undefined keep their C1 code
// points, so every byte survives the way back.
std::string DecodeWindows1252(std::string_view bytes);

// The Windows-1252 bytes of a UTF-8 text into out; false when the text is not valid UTF-8 or a
// character has no such byte.
bool EncodeWindows1252(std::string_view utf8, std::string& out);

// Whether EncodeWindows1252 would succeed.
bool FitsWindows1252(std::string_view utf8);

} // namespace platform
