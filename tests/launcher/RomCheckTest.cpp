// The ROM check on its own: archives in any letter case from one listing of the ZIP directory,
// only regular files counting, and names that could leave the directory never found.
#include "RomCheck.h"
#include "TempDir.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace {

TEST(RomCheckTest, ArchivesCountInAnyLetterCaseAndOnlyAsFiles)
{
    TempDir dir;
    dir.Write("zips/dragon.ZIP", "PK");
    dir.Write("zips/NINJA.zip", "PK");
    dir.MakeDir("zips/folder.zip");
    dir.Write("zips/.zip", "PK");
    std::filesystem::create_symlink(dir / "zips/nowhere", dir / "zips/broken.zip");
    const TRomCheck check(dir / "emu", dir / "zips");
    EXPECT_TRUE(check.Available("dragon"));
    EXPECT_TRUE(check.Available("Dragon"));
    EXPECT_TRUE(check.Available("ninja"));
    EXPECT_FALSE(check.Available("folder")) << "a directory is no archive";
    EXPECT_FALSE(check.Available("broken")) << "a link to nothing is no archive";
    EXPECT_FALSE(check.Available("")) << "an empty name is no game";
    EXPECT_FALSE(check.Available("../zips/dragon")) << "a name is looked up in the directory only";

    const TRomCheck zipOff(dir / "emu", std::nullopt);
    EXPECT_FALSE(zipOff.Available("dragon"));
}

TEST(RomCheckTest, AnEmptyZipDirectoryIsTheCurrentOne)
{
    TempDir dir;
    dir.Write("Rally.Zip", "PK");
    CurrentDirScope here(dir.Path());
    EXPECT_TRUE(TRomCheck("", std::string()).Available("rally"));
    EXPECT_FALSE(TRomCheck("", std::string()).Available("other"));
}

TEST(RomCheckTest, GameDirectoriesCountInAnyLetterCaseUpToTheThreshold)
{
    TempDir dir;
    for (int i = 0; i < PresentEntryCount - 2; ++i)
        dir.Write("emu/PACMAN/rom" + std::to_string(i), "");
    for (int i = 0; i < PresentEntryCount - 3; ++i)
        dir.Write("emu/short/rom" + std::to_string(i), "");
    const TRomCheck check(dir / "emu", std::nullopt);
    EXPECT_TRUE(check.Available("pacman"));
    EXPECT_FALSE(check.Available("short"));
    EXPECT_FALSE(check.Available("absent"));
    EXPECT_FALSE(TRomCheck("", std::nullopt).Available("pacman")) << "no emulator directory, no game directory";
}

} // namespace
