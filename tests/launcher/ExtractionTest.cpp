// What the clean-up takes back: only files the extraction created that are still exactly as it
// left them, whatever way a game changed the others.
#include "Extraction.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(ExtractionTest, OnlyUnchangedExtractedFilesGo)
{
    TempDir root;
    const std::string game = root.MakeDir("emu/ninja");
    root.Write("emu/ninja/mine.txt", "the user's");
    const TDirectoryState before = Snapshot(game);
    for (const char* name : {"untouched", "appended", "rewritten", "replaced", "NINJA.MVE", "HISCORES.DAT"})
        root.Write(std::string("emu/ninja/") + name, "12345");
    root.MakeDir("emu/ninja/sub");
    const TDirectoryState created = AddedEntries(before, Snapshot(game));
    EXPECT_EQ(created.size(), 7u);

    // What a game may do: append, rewrite in place keeping size and time, write a new file and
    // rename it over, create a save.
    root.Write("emu/ninja/appended", "123456");
    struct stat original {};
    ASSERT_EQ(stat((game + "/rewritten").c_str(), &original), 0);
    root.Write("emu/ninja/rewritten", "54321");
    const timespec times[2] = {original.st_atim, original.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (game + "/rewritten").c_str(), times, 0), 0);
    fs::rename(root.Write("emu/ninja/new", "12345"), game + "/replaced");
    root.Write("emu/ninja/save.sta", "saved");

    RemoveUnchanged(game, "ninja", created, false);
    EXPECT_EQ(Names(game), std::set<std::string>({"mine.txt", "appended", "rewritten", "replaced", "NINJA.MVE",
                                                  "HISCORES.DAT", "sub", "save.sta"}));
}

TEST(ExtractionTest, DirectoryTheExtractionMadeGoesOnlyWhenEmpty)
{
    TempDir root;
    const std::string game = root / "emu/ninja";
    const TDirectoryState before = Snapshot(game);
    EXPECT_TRUE(before.empty());
    root.Write("emu/ninja/rom", "rom");
    RemoveUnchanged(game, "ninja", AddedEntries(before, Snapshot(game)), true);
    EXPECT_FALSE(fs::exists(game));

    root.Write("emu/ninja/rom", "rom");
    const TDirectoryState created = AddedEntries(before, Snapshot(game));
    root.Write("emu/ninja/save.sta", "saved");
    RemoveUnchanged(game, "ninja", created, true);
    EXPECT_EQ(Names(game), std::set<std::string>({"save.sta"}));

    // An extraction that did not complete takes back all it added.
    root.Write("emu/other/partial", "par");
    RemoveAddedFiles(root / "emu/other", "other", {});
    EXPECT_FALSE(fs::exists(root / "emu/other"));
}

TEST(ExtractionTest, ScriptQuotesEveryPathAndEscapesArchiveWildcards)
{
    const std::vector<std::string> script =
        ExtractionScript("unzip -qq", "/zips/it's [sf?*].zip", "/emu/a b/sf?", "/emu/a b/lockfile.$$$");
    ASSERT_EQ(script.size(), 2u);
    EXPECT_EQ(script[0], "unzip -qq -n '/zips/it'\\''s [[]sf[?][*]].zip' -d '/emu/a b/sf?'");
    EXPECT_EQ(script[1], "status=$?; rm -f '/emu/a b/lockfile.$$$'; exit $status");
}

} // namespace
