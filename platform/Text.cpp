#include "Text.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

// The characters of Windows-1252's bytes 0x80..0x9F; the five bytes it leaves undefined keep
// their C1 code points, so every byte survives a round trip.
constexpr std::array<char32_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The Windows-1252 byte of cp; -1 when it has none.
int Windows1252Byte(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (std::size_t k = 0; k < Windows1252High.size(); ++k)
        if (Windows1252High[k] == cp)
            return static_cast<int>(0x80 + k);
    return -1;
}

} // namespace

std::string AsciiLowerCase(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered)
        c = AsciiLower(c);
    return lowered;
}

std::string AsciiUpperCase(std::string_view text)
{
    std::string raised(text);
    for (char& c : raised)
        c = AsciiUpper(c);
    return raised;
}

bool IsAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

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

std::optional<std::u32string> CodePoints(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (!NextCodePoint(text, i, cp))
            return std::nullopt;
        out += cp;
    }
    return out;
}

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

bool EncodeWindows1252(std::string_view utf8, std::string& out)
{
    out.clear();
    char32_t cp = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        if (!NextCodePoint(utf8, i, cp))
            return false;
        const int byte = Windows1252Byte(cp);
        if (byte < 0)
            return false;
        out += static_cast<char>(byte);
    }
    return true;
}

bool FitsWindows1252(std::string_view utf8)
{
    char32_t cp = 0;
    for (std::size_t i = 0; i < utf8.size();)
        if (!NextCodePoint(utf8, i, cp) || Windows1252Byte(cp) < 0)
            return false;
    return true;
}

} // namespace platform
