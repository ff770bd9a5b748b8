// The file layer's contracts on real files: a replace lands whole or not at all and leaves no
// temporary file; a move without replacing never replaces; reading stops at its limit and
// never blocks; a tree goes without following its links.
#include "../support/TempDir.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::size_t EntryCount(const std::string& dir)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(Files, ReplaceLandsWholeOrNotAtAll)
{
    TempDir dir;
    const std::string path = dir.Write("settings.ini", "old");
    ::chmod(path.c_str(), 0640);
    struct stat old {};
    ASSERT_EQ(::stat(path.c_str(), &old), 0);

    // A write that fails part way leaves the old file and no temporary one.
    EXPECT_FALSE(platform::ReplaceFile(path, [](int fd) { return platform::WriteAll(fd, "half") && false; },
                                       platform::TReplaceMode{&old}));
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_EQ(EntryCount(dir.Path()), 1u);

    EXPECT_TRUE(platform::ReplaceFile(path, [](int fd) { return platform::WriteAll(fd, "new"); },
                                      platform::TReplaceMode{&old}));
    EXPECT_EQ(ReadAll(path), "new");
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, 0640u);
    EXPECT_NE(now.st_ino, old.st_ino);
    EXPECT_EQ(EntryCount(dir.Path()), 1u);

    // A new file gets the mode asked for, less the umask.
    const mode_t mask = ::umask(022);
    platform::ReplaceFileWith(dir / "record.cleanup", "record\n", 0644);
    ::umask(mask);
    ASSERT_EQ(::stat((dir / "record.cleanup").c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, 0644u);
    EXPECT_EQ(ReadAll(dir / "record.cleanup"), "record\n");

    try {
        platform::ReplaceFileWith(dir / "missing/record.cleanup", "x", 0644);
        ADD_FAILURE() << "a file in a missing directory was reported written";
    } catch (const Exception& error) {
        EXPECT_EQ(std::string(error.what()), "nach " + dir / "missing/record.cleanup" + " kann nicht geschrieben werden");
    }
}

// The ROM check writes its cache on a thread of its own while the window's thread may create files.
TEST(Files, LearningTheUmaskNeverChangesItForAnotherThread)
{
    TempDir dir;
    const platform::TDirectory directory = platform::TDirectory::Open(dir.MakeDir("game"));
    const mode_t mask = ::umask(022);
    std::atomic<bool> done = false;
    std::thread modes([&] {
        for (int i = 0; i < 20000; ++i)
            directory.SetMode(0755);
        done = true;
    });
    int created = 0;
    int wrong = 0;
    const std::string path = dir / "made";
    while (!done) {
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        struct stat made {};
        if (fd >= 0 && ::fstat(fd, &made) == 0) {
            ++created;
            wrong += (made.st_mode & 07777) == 0644 ? 0 : 1;
        }
        ::close(fd);
        ::unlink(path.c_str());
    }
    modes.join();
    ::umask(mask);
    EXPECT_GT(created, 0);
    EXPECT_EQ(wrong, 0) << "of " << created << " files made meanwhile";
}

TEST(Files, MoveWithoutReplacingNeverReplaces)
{
    TempDir dir;
    dir.Write("from/taken", "staged");
    dir.Write("from/free", "staged");
    dir.Write("into/taken", "the player's");
    fs::create_symlink("/nowhere", dir / "from/link");
    const platform::TDirectory root = platform::TDirectory::Open(dir.Path());
    const platform::TDirectory from = root.OpenEntry("from");
    const platform::TDirectory into = root.OpenEntry("into");
    ASSERT_TRUE(from && into);

    EXPECT_FALSE(from.MoveWithoutReplacing("taken", into));
    EXPECT_EQ(ReadAll(dir / "into/taken"), "the player's");
    EXPECT_EQ(ReadAll(dir / "from/taken"), "staged");

    const std::optional<platform::TEntryStatus> staged = from.Status("free");
    ASSERT_TRUE(staged);
    EXPECT_TRUE(from.MoveWithoutReplacing("free", into));
    EXPECT_FALSE(fs::exists(dir / "from/free"));
    const std::optional<platform::TEntryStatus> moved = into.Status("free");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->inode, staged->inode);
    EXPECT_EQ(moved->modified, staged->modified);

    // A link moves as the link itself.
    EXPECT_TRUE(from.MoveWithoutReplacing("link", into));
    EXPECT_TRUE(fs::is_symlink(dir / "into/link"));
    EXPECT_FALSE(from.MoveWithoutReplacing("gone", into));
}

// The spelling a directory listing shows, as a case-blind disk would have opened it.
TEST(Files, ListedPathKeepsTheListedSpelling)
{
    TempDir dir;
    dir.Write("KABINEX.INI", "");
    dir.Write("both/a", "");
    dir.Write("both/A", "");
    const struct {
        std::string asked, listed;
    } cases[] = {
        {dir / "kabinex.ini", dir / "KABINEX.INI"},
        {dir / "KABINEX.INI", dir / "KABINEX.INI"},
        {dir / "Kabinex.Ini", dir / "KABINEX.INI"},
        {dir / "both/a", dir / "both/a"}, // the exact name wins
        {dir / "both/A", dir / "both/A"},
        {dir / "missing.ini", dir / "missing.ini"},
        {dir / "nowhere/kabinex.ini", dir / "nowhere/kabinex.ini"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::ListedPath(c.asked), c.listed);
}

TEST(Files, DirectoriesAreEntriesNeverLinks)
{
    TempDir dir;
    dir.Write("outside/keep", "mine");
    dir.Write("tree/a/b/file", "x");
    dir.Write("tree/top", "x");
    fs::create_symlink(dir / "outside", dir / "tree/a/out");
    fs::create_directory_symlink(dir / "outside", dir / "linked");
    const platform::TDirectory root = platform::TDirectory::Open(dir.Path());

    EXPECT_FALSE(root.OpenEntry("linked"));
    EXPECT_FALSE(root.OpenEntry("../tree"));
    EXPECT_FALSE(root.OpenEntry("tree/a"));
    const platform::TDirectory tree = root.OpenEntry("tree");
    ASSERT_TRUE(tree);
    std::vector<std::string> names = tree.Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "top"}));
    EXPECT_TRUE(tree.Status("a")->directory);
    EXPECT_FALSE(tree.Status("top")->directory);
    EXPECT_FALSE(tree.RemoveEmptyDirectory("a"));

    root.RemoveTree("tree");
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_EQ(ReadAll(dir / "outside/keep"), "mine");

    EXPECT_TRUE(root.MakeDirectory("made", 0700));
    EXPECT_FALSE(root.MakeDirectory("made", 0700));
    EXPECT_EQ(errno, EEXIST);
}

TEST(Files, ReadingStopsAtItsLimitAndNeverBlocks)
{
    TempDir dir;
    const std::string path = dir.Write("record", std::string(100, 'r'));
    fs::create_symlink(path, dir / "link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

    EXPECT_EQ(platform::ReadFileUpTo(path, 100).bytes, std::string(100, 'r'));
    EXPECT_EQ(platform::ReadFileUpTo(path, 99).fault, platform::TReadFault::TooLarge);
    EXPECT_EQ(platform::ReadFileUpTo(dir / "missing", 100).fault, platform::TReadFault::Missing);
    EXPECT_EQ(platform::ReadFileUpTo(dir / "fifo", 100).fault, platform::TReadFault::NotRegular);
    EXPECT_EQ(platform::ReadFileUpTo(dir.Path(), 100).fault, platform::TReadFault::NotRegular);
    EXPECT_EQ(platform::ReadFileUpTo(dir / "link", 100).fault, platform::TReadFault::Unreadable);
}

} // namespace
