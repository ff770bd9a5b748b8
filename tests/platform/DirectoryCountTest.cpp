// Counting directory entries on real directories: every kind of entry and the two dot entries,
// counting stopped at a limit, and many subdirectories counted through one listing.
#include "../support/TempDir.h"
#include "FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(DirectoryCount, EveryEntryCountsUpToTheLimit)
{
    TempDir dir;
    for (int i = 0; i < 40; ++i)
        dir.Write("many/f" + std::to_string(i), "");
    dir.Write("few/.hidden", "");
    dir.MakeDir("few/sub");
    fs::create_symlink("nowhere", dir / "few/dangling");

    EXPECT_EQ(platform::CountDirectoryEntries(dir / "many"), 42);
    EXPECT_EQ(platform::CountDirectoryEntries(dir / "many", 7), 7);
    EXPECT_EQ(platform::CountDirectoryEntries(dir / "few"), 5);
    EXPECT_EQ(platform::CountDirectoryEntries(dir / "few", 7), 5);
    EXPECT_EQ(platform::CountDirectoryEntries(dir / "missing", 7), 0);
    EXPECT_EQ(platform::CountDirectoryEntries(dir / "few/.hidden", 7), 0);
}

// Past the first lookups the parent is listed once; the answers must stay those of opening each.
TEST(DirectoryCount, SubdirectoriesCountAlikeBeforeAndAfterTheListing)
{
    TempDir dir;
    const auto makeWithFiles = [&](const std::string& name, int files) {
        dir.MakeDir("emu/" + name);
        for (int f = 0; f < files; ++f)
            dir.Write("emu/" + name + "/r" + std::to_string(f), "");
    };
    makeWithFiles("real", 6);
    const int rounds = 3 * platform::TSubdirectories::ListAfter;
    for (int i = 0; i < rounds; i += 4) {
        makeWithFiles("d" + std::to_string(i), i % 8);                          // a directory
        dir.Write("emu/d" + std::to_string(i + 1), "");                           // a file
        fs::create_symlink("real", dir / ("emu/d" + std::to_string(i + 2)));      // a link to one
    }                                                                             // i + 3: nothing
    const platform::TSubdirectories subdirectories(dir / "emu");
    for (int i = 0; i < rounds; ++i) {
        const std::string name = "d" + std::to_string(i);
        EXPECT_EQ(subdirectories.CountEntries(name, 7), platform::CountDirectoryEntries(dir / ("emu/" + name), 7))
            << name;
    }
    EXPECT_EQ(platform::TSubdirectories(dir / "missing").CountEntries("real", 7), 0);
}

// Collections copied from DOS and Windows carry their names in any letter case.
TEST(DirectoryCount, NamesMatchInAnyLetterCaseTheExactOneFirst)
{
    TempDir dir;
    const auto makeWithFiles = [&](const std::string& name, int files) {
        dir.MakeDir("emu/" + name);
        for (int f = 0; f < files; ++f)
            dir.Write("emu/" + name + "/r" + std::to_string(f), "");
    };
    makeWithFiles("NINJA", 6);
    makeWithFiles("Pengo", 2);
    makeWithFiles("pengo", 6);
    makeWithFiles("VOLCÁN", 6);
    makeWithFiles("Dup", 1);
    makeWithFiles("DUP", 3);
    dir.Write("emu/file", "");
    for (const int before : {0, platform::TSubdirectories::ListAfter}) {
        const platform::TSubdirectories subdirectories(dir / "emu");
        for (int i = 0; i < before; ++i)
            subdirectories.CountEntries("absent" + std::to_string(i), 7);
        EXPECT_EQ(subdirectories.CountEntries("ninja", 7), 7) << before;
        EXPECT_EQ(subdirectories.EntryName("ninja"), "NINJA");
        EXPECT_EQ(subdirectories.CountEntries("pengo", 7), 7) << "the exact name wins";
        EXPECT_EQ(subdirectories.CountEntries("PENGO", 7), 4) << "the first in byte order";
        EXPECT_EQ(subdirectories.CountEntries("volcán", 7), 7) << "letters beyond ASCII";
        EXPECT_EQ(subdirectories.CountEntries("dup", 7), 5);
        EXPECT_EQ(subdirectories.CountEntries("FILE", 7), 0);
        EXPECT_EQ(subdirectories.EntryName("castillo"), "castillo");
    }
}

TEST(DirectoryCount, IndexAndSingleLookupsAgree)
{
    TempDir dir;
    dir.Write("zips/dragon.ZIP", "");
    dir.Write("zips/Mixed.Zip", "");
    dir.Write("zips/mixed.zip", "");
    dir.Write("zips/B.zip", "");
    dir.Write("zips/b.ZIP", "");
    const platform::TDirectoryIndex index(dir / "zips");
    EXPECT_EQ(index.Find("dragon.zip"), "dragon.ZIP");
    EXPECT_EQ(index.Find("mixed.zip"), "mixed.zip");
    EXPECT_EQ(index.Find("MIXED.ZIP"), "Mixed.Zip");
    EXPECT_EQ(index.Find("b.zip"), "B.zip");
    EXPECT_EQ(index.Find("ninja.zip"), std::nullopt);
    EXPECT_EQ(platform::MatchEntryName(dir / "zips", "DRAGON.zip"), "dragon.ZIP");
    EXPECT_EQ(platform::FindEntry(dir / "zips", "ninja.zip"), dir / "zips/ninja.zip");
    EXPECT_EQ(platform::FindEntry(dir / "nowhere", "a"), dir / "nowhere/a");
}

} // namespace
