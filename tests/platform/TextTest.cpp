// The encodings over one table of texts: which are UTF-8, which Windows-1252 can hold and as
// which bytes, and that every Windows-1252 byte comes back as it was; ASCII case beside them.
#include "Text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct TTextCase {
    const char* name;
    std::string utf8;
    bool valid;
    std::optional<std::string> windows1252; // nothing: Windows-1252 cannot hold it
};

const TTextCase TextCases[] = {
    {"ascii", "ninja=1", true, "ninja=1"},
    {"empty", "", true, ""},
    {"latin letter", "Caf\xC3\xA9", true, "Caf\xE9"},
    {"euro sign", "\xE2\x82\xAC", true, "\x80"},
    {"last of the high row", "\xC5\xB8", true, "\x9F"},
    {"undefined byte kept as C1", "\xC2\x81", true, "\x81"},
    {"no such byte", "\xC4\x89", true, std::nullopt},
    {"four-byte character", "\xF0\x9F\x98\x80", true, std::nullopt},
    {"overlong slash", "\xC0\xAF", false, std::nullopt},
    {"surrogate", "\xED\xA0\x80", false, std::nullopt},
    {"above U+10FFFF", "\xF4\x90\x80\x80", false, std::nullopt},
    {"cut short", "\xE2\x82", false, std::nullopt},
    {"bare continuation", "\x80", false, std::nullopt},
    {"bad byte after a long ASCII run", "abcdefghijklmnop\xFF", false, std::nullopt},
    {"text after a long ASCII run", "abcdefghijklmnop\xC3\xA9xyz", true, "abcdefghijklmnop\xE9xyz"},
};

TEST(Text, EncodingsAgreeOnEveryCase)
{
    for (const TTextCase& c : TextCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::IsValidUtf8(c.utf8), c.valid);
        EXPECT_EQ(platform::CodePoints(c.utf8).has_value(), c.valid);
        EXPECT_EQ(platform::FitsWindows1252(c.utf8), c.windows1252.has_value());
        std::string bytes;
        EXPECT_EQ(platform::EncodeWindows1252(c.utf8, bytes), c.windows1252.has_value());
        if (c.windows1252) {
            EXPECT_EQ(bytes, *c.windows1252);
            EXPECT_EQ(platform::DecodeWindows1252(bytes), c.utf8);
        }
    }
    EXPECT_EQ(platform::CodePoints("a\xC3\xA9\xE2\x82\xAC"), std::u32string(U"a\u00E9\u20AC"));
}

TEST(Text, EveryWindows1252ByteSurvivesTheWayThroughUtf8)
{
    for (int byte = 0; byte < 256; ++byte) {
        const std::string original(1, static_cast<char>(byte));
        const std::string utf8 = platform::DecodeWindows1252(original);
        EXPECT_TRUE(platform::IsValidUtf8(utf8)) << byte;
        std::string back;
        EXPECT_TRUE(platform::EncodeWindows1252(utf8, back)) << byte;
        EXPECT_EQ(back, original) << byte;
    }
}

TEST(Text, AsciiCaseLeavesOtherBytesAlone)
{
    const std::string text = "\xC3\x84Ninja-z\xC3\xA4[]";
    EXPECT_EQ(platform::AsciiLowerCase(text), "\xC3\x84ninja-z\xC3\xA4[]");
    EXPECT_EQ(platform::AsciiUpperCase(text), "\xC3\x84NINJA-Z\xC3\xA4[]");
    EXPECT_TRUE(platform::EqualIgnoringAsciiCase("EmuDir", "emudir"));
    EXPECT_FALSE(platform::EqualIgnoringAsciiCase("\xC3\x84", "\xC3\xA4"));
    EXPECT_FALSE(platform::EqualIgnoringAsciiCase("[a", "{a"));
    EXPECT_FALSE(platform::EqualIgnoringAsciiCase("emudir", "emudirs"));
}

} // namespace
