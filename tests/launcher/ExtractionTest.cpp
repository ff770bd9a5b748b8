// What the clean-up takes back: only files the extraction created that are still exactly as it
// left them, whatever way a game changed the others.
#include "Extraction.h"
#include "TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <set>
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

// Unpacks the named files into a new private directory of emu, as the unzip tool would.
std::string Unpack(const TempDir& root, const std::vector<std::string>& files)
{
    const std::string staging = NewStagingName("ninja");
    root.MakeDir("emu");
    EXPECT_TRUE(MakeStagingDirectory(root / "emu", staging));
    for (const std::string& file : files)
        root.Write("emu/" + staging + "/" + file, "12345");
    return staging;
}

TEST(ExtractionTest, OnlyUnchangedExtractedFilesGo)
{
    TempDir root;
    const std::string game = root.MakeDir("emu/ninja");
    root.Write("emu/ninja/mine.txt", "the user's");
    root.Write("emu/ninja/patched", "the user's own ROM");
    const std::string staging =
        Unpack(root, {"untouched", "appended", "rewritten", "replaced", "patched", "NINJA.MVE", "HISCORES.DAT"});
    root.MakeDir("emu/" + staging + "/sub");
    EXPECT_FALSE(EnsureGameDirectory(root / "emu", "ninja").has_value()) << "it stood there";
    const TStagedContent content = OpenStagedContent(root / "emu", staging);
    EXPECT_FALSE(HoldsNoGameFiles(content));
    const TDirectoryState created = EntriesToMoveIn(content.dir, root / "emu", "ninja");
    EXPECT_EQ(created.size(), 7u) << "all but the name the directory has";
    EXPECT_FALSE(created.contains("patched"));
    const TMovedIn movedIn = MoveIn(content.dir, root / "emu", "ninja", created);
    EXPECT_EQ(movedIn.error, 0);
    const TDirectoryState& moved = movedIn.moved;
    EXPECT_EQ(moved.size(), created.size());
    RemoveStaging(root / "emu", staging);
    EXPECT_FALSE(fs::exists(root / ("emu/" + staging)));
    EXPECT_EQ(ReadAll(game + "/patched"), "the user's own ROM");

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

    RemoveUnchanged(root / "emu", "ninja", "ninja", moved, std::nullopt);
    EXPECT_EQ(Names(game), std::set<std::string>({"mine.txt", "patched", "appended", "rewritten", "replaced",
                                                  "NINJA.MVE", "HISCORES.DAT", "sub", "save.sta"}));
}

TEST(ExtractionTest, NothingIsMovedOverAnEntryThatAppearedMeanwhile)
{
    TempDir root;
    const std::string staging = Unpack(root, {"rom1", "rom2"});
    const std::optional<TEntryState> made = EnsureGameDirectory(root / "emu", "ninja");
    ASSERT_TRUE(made.has_value());
    const TStagedContent content = OpenStagedContent(root / "emu", staging);
    const TDirectoryState created = EntriesToMoveIn(content.dir, root / "emu", "ninja");
    root.Write("emu/ninja/rom2", "the user's, written after the plan");
    const TMovedIn movedIn = MoveIn(content.dir, root / "emu", "ninja", created);
    EXPECT_EQ(movedIn.error, 0) << "an entry standing there is no failure";
    EXPECT_EQ(movedIn.moved.size(), 1u);
    EXPECT_EQ(ReadAll(root / "emu/ninja/rom2"), "the user's, written after the plan");
    RemoveStaging(root / "emu", staging);

    // The clean-up leaves the user's file, whose identity is not the recorded one.
    RemoveUnchanged(root / "emu", "ninja", "ninja", created, made);
    EXPECT_EQ(Names(root / "emu/ninja"), std::set<std::string>({"rom2"}));
    fs::remove(root / "emu/ninja/rom2");
    RemoveUnchanged(root / "emu", "ninja", "ninja", created, made);
    EXPECT_FALSE(fs::exists(root / "emu/ninja")) << "made by the extraction, and empty now";
}

TEST(ExtractionTest, NoLinkIsFollowed)
{
    TempDir root;
    root.Write("elsewhere/rom1", "12345");
    root.Write("elsewhere/keep", "the user's");
    const std::string staging = Unpack(root, {"rom1"});
    EnsureGameDirectory(root / "emu", "ninja");
    const TStagedContent content = OpenStagedContent(root / "emu", staging);
    const TDirectoryState created = MoveIn(content.dir, root / "emu", "ninja",
                                           EntriesToMoveIn(content.dir, root / "emu", "ninja")).moved;

    // The game's directory replaced by a link to a directory with the same names: untouched.
    fs::rename(root / "emu/ninja", root / "emu/moved");
    fs::create_directory_symlink(root / "elsewhere", root / "emu/ninja");
    RemoveUnchanged(root / "emu", "ninja", "ninja", created, std::nullopt);
    EXPECT_EQ(Names(root / "elsewhere"), std::set<std::string>({"rom1", "keep"}));

    // A link in the private directory is removed as a link.
    const std::string second = Unpack(root, {});
    fs::create_directory_symlink(root / "elsewhere", root / ("emu/" + second + "/link"));
    RemoveStaging(root / "emu", second);
    EXPECT_FALSE(fs::exists(root / ("emu/" + second)));
    EXPECT_EQ(Names(root / "elsewhere"), std::set<std::string>({"rom1", "keep"}));
    // Only a private directory's name is ever removed whole.
    RemoveStaging(root / "emu", "..");
    RemoveStaging(root / "emu", "moved");
    EXPECT_TRUE(fs::exists(root / "emu/moved/rom1"));
}

// What the archive brought: its files, the files of its one folder, or folders only.
TEST(ExtractionTest, TheGamesFilesAreFoundInTheArchivesOneFolder)
{
    TempDir root;
    const struct {
        std::vector<std::string> files;
        std::vector<std::string> content; // what would be brought in; empty for folders only
        bool noGameFiles;
    } cases[] = {
        {{"rom1", "rom2"}, {"rom1", "rom2"}, false},
        {{"ninja/rom1", "ninja/rom2"}, {"rom1", "rom2"}, false},
        {{"ninja/rom1", "readme"}, {"ninja", "readme"}, false}, // a folder beside a file stays a folder
        {{"a/rom1", "b/rom2"}, {"a", "b"}, true},
        {{"ninja/roms/rom1"}, {"roms"}, true},
        {{}, {}, false}, // an empty archive is a short one
    };
    for (const auto& c : cases) {
        const std::string staging = Unpack(root, c.files);
        const TStagedContent content = OpenStagedContent(root / "emu", staging);
        std::vector<std::string> names = content.dir.Names();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.content) << c.files.size();
        EXPECT_EQ(HoldsNoGameFiles(content), c.noGameFiles) << c.files.size();
        RemoveStaging(root / "emu", staging);
    }
}

// Where the game's directory is missing, the private content (or its one folder) becomes it in one
// rename; what was recorded before is what the clean-up takes back, and nothing is renamed over
// a directory that appeared meanwhile.
TEST(ExtractionTest, TheWholeContentBecomesAMissingGameDirectory)
{
    TempDir root;
    const mode_t mask = umask(022);
    for (const std::string folder : {"", "ninja/"}) {
        const std::string staging = Unpack(root, {folder + "rom1", folder + "rom2"});
        const TStagedContent content = OpenStagedContent(root / "emu", staging);
        const std::optional<TWholeContent> whole = PrepareWholeMove(content, root / "emu", "ninja");
        ASSERT_TRUE(whole.has_value()) << folder;
        EXPECT_EQ(whole->entries.size(), 2u);
        ASSERT_TRUE(MoveWhole(content, root / "emu", staging, "ninja"));
        RemoveStaging(root / "emu", staging);
        EXPECT_EQ(Names(root / "emu"), std::set<std::string>({"ninja"})) << folder;
        EXPECT_EQ(fs::status(root / "emu/ninja").permissions(), fs::perms(0755)) << "as a made game directory";

        root.Write("emu/ninja/save.sta", "saved");
        RemoveUnchanged(root / "emu", "ninja", "ninja", whole->entries, whole->dir);
        EXPECT_EQ(Names(root / "emu/ninja"), std::set<std::string>({"save.sta"})) << folder;
        fs::remove(root / "emu/ninja/save.sta");
        RemoveUnchanged(root / "emu", "ninja", "ninja", whole->entries, whole->dir);
        EXPECT_FALSE(fs::exists(root / "emu/ninja")) << folder;
    }
    umask(mask);

    const std::string staging = Unpack(root, {"rom1"});
    const TStagedContent content = OpenStagedContent(root / "emu", staging);
    ASSERT_TRUE(PrepareWholeMove(content, root / "emu", "ninja").has_value());
    root.Write("emu/ninja/mine", "the user's, made meanwhile");
    EXPECT_FALSE(MoveWhole(content, root / "emu", staging, "ninja"));
    EXPECT_EQ(Names(root / "emu/ninja"), std::set<std::string>({"mine"}));
    EXPECT_FALSE(PrepareWholeMove(content, root / "emu", "ninja").has_value()) << "it stands now";
}

// Where a file system numbers files afresh (exFAT, FAT), a file is known by size and time.
TEST(ExtractionTest, IdentityWithoutStableNumbers)
{
    const TEntryState recorded{false, 8, 100, 5, 1'600'000'000'500'000'000, 1'600'000'100'000'000'000};
    const auto with = [&](auto change) {
        TEntryState now = recorded;
        change(now);
        return now;
    };
    const struct {
        TEntryState now;
        bool numbered, unnumbered;
    } cases[] = {
        {recorded, true, true},
        {with([](TEntryState& s) { s.inode = 7; s.device = 9; s.changed = 1; }), false, true},
        {with([](TEntryState& s) { s.device = 9; }), true, true}, // a stick put back elsewhere
        {with([](TEntryState& s) { s.modified = 1'600'000'000'000'000'000; }), false, true}, // FAT rounded it
        {with([](TEntryState& s) { s.modified += 2'000'000'000; }), false, false},
        {with([](TEntryState& s) { s.size = 6; }), false, false},
        {with([](TEntryState& s) { s.changed += 1; }), false, true},
        {with([](TEntryState& s) { s.directory = true; }), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recorded.Matches(c.now, true), c.numbered) << &c - cases;
        EXPECT_EQ(recorded.Matches(c.now, false), c.unnumbered) << &c - cases;
    }
    TEntryState before = recorded;
    before.changed = 0; // recorded before the move: the device stands in for the status change time
    EXPECT_FALSE(before.Matches(with([](TEntryState& s) { s.device = 9; }), true));
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
