#include "../support/Unwritable.h"
#include "IniFiles.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class IniFilesTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kbx-ini-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/kabinex.ini";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void Put(const std::string& bytes) const
    {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string Get() const
    {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string dir_;
    std::string path_;
};

using Keys = std::vector<std::string>;

TEST_F(IniFilesTest, LooksUpSectionsAndKeysWithoutRegardToCase)
{
    Put("[Path]\nEmuDir=C:\\MAVE\\\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("path", "emudir", "."), "C:\\MAVE\\");
    EXPECT_EQ(ini.ReadString("PATH", "EMUDIR", "."), "C:\\MAVE\\");
    EXPECT_EQ(ini.ReadString("paths", "emudir", "."), ".");
    EXPECT_EQ(ini.FileName(), path_);
}

TEST_F(IniFilesTest, TrimsBlanksAndTabsAndRemovesOnePairOfQuotes)
{
    Put("  [ games ]  trailing text\n"
        "\t ninja \t=\t Ninja Kid  \t\n"
        "dq=\" padded \"\n"
        "sq='single'\n"
        "twice=\"\"inner\"\"\n"
        "mixed=\"open'\n"
        "lone=\"\n"
        "inner=a \"b\" c\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("games", "ninja", "none"), "Ninja Kid");
    EXPECT_EQ(ini.ReadString("games", "dq", "none"), " padded ");
    EXPECT_EQ(ini.ReadString("games", "sq", "none"), "single");
    EXPECT_EQ(ini.ReadString("games", "twice", "none"), "\"inner\"");
    EXPECT_EQ(ini.ReadString("games", "mixed", "none"), "\"open'");
    EXPECT_EQ(ini.ReadString("games", "lone", "none"), "\"");
    EXPECT_EQ(ini.ReadString("games", "inner", "none"), "a \"b\" c");
}

TEST_F(IniFilesTest, EmptyValueIsNotTheDefaultButAMissingKeyOrLineWithoutEqualsIs)
{
    Put("[games]\nempty=\nblank=   \nnoequals\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("games", "empty", "none"), "");
    EXPECT_EQ(ini.ReadString("games", "blank", "none"), "");
    EXPECT_EQ(ini.ReadString("games", "noequals", "none"), "none");
    EXPECT_EQ(ini.ReadString("games", "absent", "none"), "none");
    EXPECT_EQ(ini.ReadSection("games"), (Keys{"empty", "blank"}));
}

TEST_F(IniFilesTest, MissingFileReadsAsDefaults)
{
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("path", "emudir", "."), ".");
    EXPECT_TRUE(ini.ReadSection("games").empty());
    EXPECT_TRUE(ini.ReadBool("options", "vsync", true));
}

TEST_F(IniFilesTest, CommentsAreNeverListedButHashStartsNoComment)
{
    Put("[games]\n; commented=yes\n  ;indented=yes\n#hash=yes\nreal=1\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadSection("games"), (Keys{"#hash", "real"}));
    EXPECT_EQ(ini.ReadString("games", "commented", "none"), "none");
    EXPECT_EQ(ini.ReadString("games", "#hash", "none"), "yes");
}

TEST_F(IniFilesTest, FirstOfDuplicateKeysAndSectionsWins)
{
    Put("[games]\nninja=First\nNINJA=Second\nother=x\n[GAMES]\nlater=y\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("games", "ninja", "none"), "First");
    EXPECT_EQ(ini.ReadSection("games"), (Keys{"ninja", "NINJA", "other"}));
    EXPECT_EQ(ini.ReadString("games", "later", "none"), "none");

    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(ini.ReadSectionValues("games"),
              (Pairs{{"ninja", "First"}, {"NINJA", "First"}, {"other", "x"}}));

    ini.WriteString("games", "Ninja", "Changed");
    EXPECT_EQ(Get(), "[games]\nninja=Changed\nNINJA=Second\nother=x\n[GAMES]\nlater=y\n");
}

TEST_F(IniFilesTest, EveryLineEndCountsAndTheLastLineNeedsNone)
{
    Put("[a]\r\none=1\rtwo=2\nthree=3\r\n\r\n[b]\rlast=4");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadSection("a"), (Keys{"one", "two", "three"}));
    EXPECT_EQ(ini.ReadString("b", "last", ""), "4");
}

TEST_F(IniFilesTest, HeaderNeedsAClosingBracketAndEntriesNeedASection)
{
    Put("orphan=1\n[open=2\n[games]\n[half=3\nkey]=4\n[with]bracket] rest\nx=5\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("", "orphan", "none"), "none");
    EXPECT_EQ(ini.ReadSection("games"), (Keys{"[half", "key]"}));
    EXPECT_EQ(ini.ReadString("with]bracket", "x", "none"), "5");
}

TEST_F(IniFilesTest, NothingIsCut)
{
    std::string longValue(5000, 'v');
    std::string text = "[games]\n";
    for (int i = 0; i < 2000; ++i)
        text += "game_with_a_rather_long_name_" + std::to_string(i) + "=" + longValue + "\n";
    Put(text);
    TIniFile ini(path_);
    const Keys keys = ini.ReadSection("games");
    ASSERT_EQ(keys.size(), 2000u);
    EXPECT_EQ(keys.back(), "game_with_a_rather_long_name_1999");
    EXPECT_EQ(ini.ReadString("games", keys.back(), ""), longValue);
}

TEST_F(IniFilesTest, AnEditMadeOutsideShowsAtTheNextRead)
{
    Put("[path]\nemudir=one\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("path", "emudir", ""), "one");
    Put("[path]\nemudir=three\n");
    EXPECT_EQ(ini.ReadString("path", "emudir", ""), "three");
    std::filesystem::remove(path_);
    EXPECT_EQ(ini.ReadString("path", "emudir", "gone"), "gone");
}

TEST_F(IniFilesTest, ReplacingAValueKeepsEveryOtherByte)
{
    for (const std::string lineEnd : {"\n", "\r\n"}) {
        const auto lines = [&](std::initializer_list<std::string> parts) {
            std::string text;
            for (const std::string& part : parts)
                text += part + lineEnd;
            return text;
        };
        Put(lines({"; settings", "[path]", "EmuDir = \"C:\\OLD\\\"   ", "zipdir=z", "", "[games]", "ninja=Ninja"}));
        TIniFile ini(path_);
        ini.WriteString("path", "emudir", "/home/me/mave/");
        EXPECT_EQ(Get(), lines({"; settings", "[path]", "EmuDir = /home/me/mave/   ", "zipdir=z", "", "[games]",
                                "ninja=Ninja"}));
        EXPECT_EQ(ini.ReadString("path", "emudir", ""), "/home/me/mave/");
    }
}

TEST_F(IniFilesTest, WritingTheSameValueChangesNothing)
{
    const std::string text = "[path]\nemudir = 'same'  \n";
    Put(text);
    struct stat before {};
    ASSERT_EQ(stat(path_.c_str(), &before), 0);
    TIniFile ini(path_);
    ini.WriteString("PATH", "EmuDir", "same");
    struct stat after {};
    ASSERT_EQ(stat(path_.c_str(), &after), 0);
    EXPECT_EQ(Get(), text);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(IniFilesTest, WriteCreatesTheFileTheSectionAndTheEntry)
{
    TIniFile ini(path_);
    ini.WriteString("path", "emudir", ".");
    EXPECT_EQ(Get(), "[path]\nemudir=.\n");
    ini.WriteBool("options", "vsync", true);
    ini.WriteString("path", "zipdir", "<No tiene soporte ZIP!>");
    EXPECT_EQ(Get(), "[path]\nemudir=.\nzipdir=<No tiene soporte ZIP!>\n[options]\nvsync=1\n");
}

TEST_F(IniFilesTest, NewEntriesGoAfterTheLastEntryOfTheirSectionWithTheFilesLineEnd)
{
    Put("[path]\r\nemudir=.\r\n; note\r\n\r\n[games]\r\nninja=Ninja");
    TIniFile ini(path_);
    ini.WriteString("path", "zipdir", "/zips/");
    ini.WriteString("options", "nosound", "0");
    EXPECT_EQ(Get(), "[path]\r\nemudir=.\r\nzipdir=/zips/\r\n; note\r\n\r\n[games]\r\nninja=Ninja\r\n"
                     "[options]\r\nnosound=0\r\n");

    Put("[empty]\r[other]\r");
    ini.WriteString("empty", "key", "value");
    EXPECT_EQ(Get(), "[empty]\rkey=value\r[other]\r");
}

TEST_F(IniFilesTest, ValuesReadBackAsTheyWereWritten)
{
    TIniFile ini(path_);
    for (const std::string value : {" leading", "trailing\t", "\"quoted\"", "'single'", "\"", "a=b;c", ""}) {
        ini.WriteString("test", "value", value);
        EXPECT_EQ(ini.ReadString("test", "value", "default"), value);
        TIniFile fresh(path_);
        EXPECT_EQ(fresh.ReadString("test", "value", "default"), value);
    }
}

TEST_F(IniFilesTest, TextThatWouldBreakTheFileIsRefused)
{
    Put("[path]\nemudir=.\n");
    TIniFile ini(path_);
    const std::string refused = "nach " + path_ + " kann nicht geschrieben werden";
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"emudir", "/a\n[games]\nevil=1"}, {"emudir", "cr\rhere"}, {"emudir", std::string("nul\0", 4)},
             {"emudir", "\xFF\xFE"}, {"a=b", "1"}, {";key", "1"}, {" key", "1"}}) {
        try {
            ini.WriteString("path", key, value);
            ADD_FAILURE() << "accepted " << key;
        } catch (const Exception& error) {
            EXPECT_EQ(error.what(), refused);
        }
    }
    EXPECT_EQ(Get(), "[path]\nemudir=.\n");
}

TEST_F(IniFilesTest, RefusedWriteRaisesTheRunTimesText)
{
    for (const std::string& path : {dir_ + "/missing/kabinex.ini", dir_}) {
        TIniFile ini(path);
        try {
            ini.WriteString("path", "emudir", ".");
            ADD_FAILURE() << path;
        } catch (const Exception& error) {
            EXPECT_EQ(error.what(), "nach " + path + " kann nicht geschrieben werden");
        }
    }
}

TEST_F(IniFilesTest, ReadOnlyFileRefusesEveryWrite)
{
    Put("[path]\nemudir=.\n");
    const TUnwritableFile unwritable(path_);
    if (!unwritable.Done())
        GTEST_SKIP() << "this file system cannot make a file unwritable";
    TIniFile ini(path_);
    EXPECT_THROW(ini.WriteString("path", "emudir", "."), Exception); // even an unchanged value
    EXPECT_THROW(ini.WriteString("path", "emudir", "/new/"), Exception);
    EXPECT_EQ(Get(), "[path]\nemudir=.\n");
}

TEST_F(IniFilesTest, WindowsLatinFilesKeepTheirEncoding)
{
    Put("[games]\r\nmotos=Motos (versi\xF3n espa\xF1ola)\r\n[path]\r\nemudir=C:\\M\x80\\\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("games", "motos", ""), "Motos (versión española)");
    EXPECT_EQ(ini.ReadString("path", "emudir", ""), "C:\\M€\\");

    ini.WriteString("path", "emudir", "/home/josé/");
    ini.WriteString("path", "zipdir", "/home/müller/");
    EXPECT_EQ(Get(), "[games]\r\nmotos=Motos (versi\xF3n espa\xF1ola)\r\n[path]\r\nemudir=/home/jos\xE9/\r\n"
                     "zipdir=/home/m\xFCller/\r\n");
}

TEST_F(IniFilesTest, TextWindowsLatinCannotHoldTurnsTheFileIntoUtf8)
{
    Put("[games]\nmotos=Espa\xF1" "a\n[path]\nemudir=.\n");
    TIniFile ini(path_);
    ini.WriteString("path", "emudir", "/home/日本/");
    EXPECT_EQ(Get(), "[games]\nmotos=España\n[path]\nemudir=/home/日本/\n");
    EXPECT_EQ(TIniFile(path_).ReadString("games", "motos", ""), "España");
}

TEST_F(IniFilesTest, AWindowsLatinFileNeverTurnsIntoDifferentUtf8Text)
{
    // Replacing the file's only non-ASCII bytes with "Ã©" would leave valid UTF-8 that reads "é".
    Put("[path]\nemudir=\xFF\n");
    TIniFile ini(path_);
    ini.WriteString("path", "emudir", "Ã©");
    EXPECT_EQ(TIniFile(path_).ReadString("path", "emudir", ""), "Ã©");
}

TEST_F(IniFilesTest, Utf8FilesStayUtf8AndTheirMarkIsSkipped)
{
    Put("\xEF\xBB\xBF[games]\nñandú=Ñandú\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadSection("games"), (Keys{"ñandú"}));
    ini.WriteString("games", "ñandú", "Ñandú 2");
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[games]\nñandú=Ñandú 2\n");
}

TEST_F(IniFilesTest, BooleansReadAsIntegersAndWriteAsOneOrZero)
{
    Put("[options]\none=1\ntwo=2\nminus=-1\ndollar=$10\nhex=0x10\nHEX=0X1f\n"
        "zero=0\nyes=yes\ntrue=true\nempty=\nbare=0x\nbig=99999999999\n");
    TIniFile ini(path_);
    for (const char* key : {"one", "two", "minus", "dollar", "hex"})
        EXPECT_TRUE(ini.ReadBool("options", key, false)) << key;
    for (const char* key : {"zero", "yes", "true", "empty", "bare", "big", "absent"})
        EXPECT_FALSE(ini.ReadBool("options", key, false)) << key;
    EXPECT_TRUE(ini.ReadBool("options", "yes", true));
    EXPECT_FALSE(ini.ReadBool("options", "zero", true));

    ini.WriteBool("options", "two", true);
    ini.WriteBool("options", "yes", false);
    EXPECT_EQ(ini.ReadString("options", "two", ""), "1");
    EXPECT_EQ(ini.ReadString("options", "yes", ""), "0");
}

TEST(StrToIntDef, FollowsTheRunTimesNumberRules)
{
    EXPECT_EQ(StrToIntDef("42", -7), 42);
    EXPECT_EQ(StrToIntDef("  +42", -7), 42);
    EXPECT_EQ(StrToIntDef("-42", -7), -42);
    EXPECT_EQ(StrToIntDef("$1f", -7), 31);
    EXPECT_EQ(StrToIntDef("-$10", -7), -16);
    EXPECT_EQ(StrToIntDef("$FFFFFFFF", -7), -1);
    EXPECT_EQ(StrToIntDef("2147483647", -7), INT_MAX);
    EXPECT_EQ(StrToIntDef("-2147483648", -7), INT_MIN);
    EXPECT_EQ(StrToIntDef("007", -7), 7);
    for (const char* bad : {"", " ", "-", "$", "42 ", "\t42", "4 2", "2147483648", "-2147483649", "$100000000",
                            "0x10", "1e3", "$g", "--1"})
        EXPECT_EQ(StrToIntDef(bad, -7), -7) << '"' << bad << '"';
}

} // namespace
