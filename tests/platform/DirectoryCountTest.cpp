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

} // namespace
