// Settings files that other tools, damaged disks or huge catalogues produce: what was read can
// always be written back, names outside ASCII in Windows-1252 files are found, headers are found
// wherever a bracket starts a line, big sections and big writes, and files past the size limit.
#include "../support/TempDir.h"
#include "IniFiles.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Keys = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;
using namespace std::string_literals;

class IniFilesOddFilesTest : public testing::Test {
protected:
    void Put(const std::string& bytes) const { std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes; }
    std::string Get() const
    {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string Refused() const { return "nach " + path_ + " kann nicht geschrieben werden"; }

    TempDir scratch_;
    std::string path_ = scratch_ / "kabinex.ini";
};

const std::string NulFile = "[path]\r\nemudir=/home/ana/mave/\0old\r\nzipdir=<No tiene soporte ZIP!>\r\n"
                            "[options]\r\nvsync=0\r\n"s;

TEST_F(IniFilesOddFilesTest, AValueWithANulByteIsWrittenBackAsReadWhileOthersChange)
{
    Put(NulFile);
    TIniFile ini(path_);
    const std::string emudir = ini.ReadString("path", "emudir", "");
    ASSERT_EQ(emudir, "/home/ana/mave/\0old"s);

    ini.WriteValues({{"path", "emudir", emudir}, {"path", "zipdir", "<No tiene soporte ZIP!>"}, {"options", "vsync", "1"}});
    std::string expected = NulFile;
    expected.replace(expected.find("vsync=0"), 7, "vsync=1");
    EXPECT_EQ(Get(), expected);

    // A NUL byte the caller brings in is still refused, and the file stays as it was.
    try {
        ini.WriteString("path", "emudir", "/other/\0dir"s);
        ADD_FAILURE() << "a new value with a NUL byte was written";
    } catch (const Exception& error) {
        EXPECT_EQ(error.what(), Refused());
    }
    EXPECT_EQ(Get(), expected);
}

TEST_F(IniFilesOddFilesTest, WhatWasReadIsWrittenBackEvenWhereNoNewEntryCouldStand)
{
    // Keys like these can be read, but never be created (they would read back as something else).
    Put("[games]\n[half=one\n;x\n  padded key  =two\n"s + "nul\0key=three\n"s);
    TIniFile ini(path_);
    const Pairs pairs = ini.ReadSectionValues("games");
    ASSERT_EQ(pairs, (Pairs{{"[half", "one"}, {"padded key", "two"}, {"nul\0key"s, "three"}}));
    std::vector<TIniValue> unchanged;
    for (const auto& [key, value] : pairs)
        unchanged.push_back({"games", key, value});
    ini.WriteValues(unchanged);
    EXPECT_EQ(Get(), "[games]\n[half=one\n;x\n  padded key  =two\n"s + "nul\0key=three\n"s);

    // An existing entry takes a new value whatever its key looks like.
    ini.WriteString("games", "[half", "uno");
    EXPECT_EQ(ini.ReadString("games", "[half", ""), "uno");
    EXPECT_EQ(ini.ReadString("games", "nul\0key"s, ""), "three");
}

TEST_F(IniFilesOddFilesTest, AWindowsLatinFileWithANulByteKeepsItWhenItTurnsIntoUtf8)
{
    Put("[path]\nemudir=C:\\M\xC1VE\\\0x\n[games]\nmotos=Espa\xF1" "a\n"s);
    TIniFile ini(path_);
    const std::string emudir = ini.ReadString("path", "emudir", "");
    ini.WriteValues({{"path", "emudir", emudir}, {"path", "zipdir", "/juegos/\xE6\x97\xA5\xE6\x9C\xAC/"}});
    EXPECT_EQ(Get(), "[path]\nemudir=C:\\M\xC3\x81VE\\\0x\nzipdir=/juegos/\xE6\x97\xA5\xE6\x9C\xAC/\n"
                     "[games]\nmotos=Espa\xC3\xB1" "a\n"s);
    EXPECT_EQ(ini.ReadString("path", "emudir", ""), emudir);
}

TEST_F(IniFilesOddFilesTest, ASectionNamedOutsideAsciiInAWindowsLatinFileIsWrittenOnce)
{
    Put("[Espa\xF1" "a]\r\nclave=1\r\n[games]\r\nmotos=Motos\r\n");
    TIniFile ini(path_);
    ini.WriteString("Espa\xC3\xB1" "a", "clave", "2");
    EXPECT_EQ(Get(), "[Espa\xF1" "a]\r\nclave=2\r\n[games]\r\nmotos=Motos\r\n");
    EXPECT_EQ(ini.ReadString("Espa\xC3\xB1" "a", "clave", ""), "2");

    // ASCII letters match in any case; the new key goes into the same section.
    ini.WriteString("ESPA\xC3\xB1" "A", "nueva", "3");
    EXPECT_EQ(Get(), "[Espa\xF1" "a]\r\nclave=2\r\nnueva=3\r\n[games]\r\nmotos=Motos\r\n");
    EXPECT_EQ(ini.ReadSection("Espa\xC3\xB1" "a"), (Keys{"clave", "nueva"}));

    // A name Windows-1252 cannot hold names no section of the file: a new one, in UTF-8.
    ini.WriteString("\xE6\x97\xA5", "k", "v");
    EXPECT_EQ(Get(), "[Espa\xC3\xB1" "a]\r\nclave=2\r\nnueva=3\r\n[games]\r\nmotos=Motos\r\n[\xE6\x97\xA5]\r\nk=v\r\n");
    EXPECT_EQ(ini.ReadString("Espa\xC3\xB1" "a", "nueva", ""), "3");
}

TEST_F(IniFilesOddFilesTest, HeadersAreFoundWhereverABracketStartsALine)
{
    Put("\xEF\xBB\xBF[first]\ra=[not]\r \t [second] tail ]\rb=2\rc=x [third]\r[fourth\r"
        "d=4\r  [\tfifth\t]\re=5");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadSectionValues("first"), (Pairs{{"a", "[not]"}}));
    EXPECT_EQ(ini.ReadSectionValues("second] tail"), (Pairs{{"b", "2"}, {"c", "x [third]"}, {"d", "4"}}));
    EXPECT_EQ(ini.ReadSection("third"), Keys{});
    EXPECT_EQ(ini.ReadString("fifth", "e", ""), "5");

    ini.WriteValues({{"second] tail", "new", "n"}, {"fifth", "e", "6"}});
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[first]\ra=[not]\r \t [second] tail ]\rb=2\rc=x [third]\r[fourth\r"
                     "d=4\rnew=n\r  [\tfifth\t]\re=6");
}

TEST_F(IniFilesOddFilesTest, ManyKeysAndManyRepeatsEachReadTheirFirstEntry)
{
    // Short lines: far more distinct keys than the section's first estimate has room for.
    std::string text = "[many]\n";
    for (int i = 0; i < 20000; ++i)
        text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    for (int i = 0; i < 20000; i += 7)
        text += "K" + std::to_string(i) + "=repeat\n";
    text += "[same]\n";
    for (int i = 0; i < 50000; ++i)
        text += "=" + std::to_string(i) + "\n";
    Put(text);
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("many", "k19999", ""), "19999");
    EXPECT_EQ(ini.ReadString("many", "K7", ""), "7");
    const Pairs many = ini.ReadSectionValues("many");
    ASSERT_EQ(many.size(), 20000u + 2858u);
    EXPECT_EQ(many.back(), (std::pair<std::string, std::string>{"K19999", "19999"}));
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(many[i].second, std::to_string(i));
    const Pairs same = ini.ReadSectionValues("same");
    ASSERT_EQ(same.size(), 50000u);
    EXPECT_EQ(same.back(), (std::pair<std::string, std::string>{"", "0"}));
}

TEST_F(IniFilesOddFilesTest, ABigFileIsWrittenWholeAroundTheChangedValues)
{
    std::string games = "[games]\n";
    for (int i = 0; i < 60000; ++i)
        games += "game" + std::to_string(i) + "=A description of game number " + std::to_string(i) + "\n";
    Put("[path]\nemudir=/old/\n" + games + "[options]\nvsync=0");
    TIniFile ini(path_);
    ini.WriteValues({{"path", "emudir", "/new/"}, {"options", "vsync", "1"}, {"options", "nosound", "1"}});
    EXPECT_EQ(Get(), "[path]\nemudir=/new/\n" + games + "[options]\nvsync=1\nnosound=1");
}

TEST_F(IniFilesOddFilesTest, AFileOfFourGibibytesIsNeitherReadNorReplaced)
{
    Put("[path]\nemudir=/big/\n");
    if (::truncate(path_.c_str(), off_t{1} << 32) != 0)
        GTEST_SKIP() << "no sparse file of 4 GiB here";
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("path", "emudir", "none"), "none");
    try {
        ini.WriteString("path", "emudir", "/small/");
        ADD_FAILURE() << "a file past the limit was replaced";
    } catch (const Exception& error) {
        EXPECT_EQ(error.what(), Refused());
    }
    EXPECT_EQ(std::filesystem::file_size(path_), std::uintmax_t{1} << 32);
}

} // namespace
