// Records found on disk are input like any file: damaged, stale or hand-made ones are set aside
// and never acted on, and sound ones never reach outside the game's directory or signal a
// process that is not the extraction script.
#include "CleanupRecord.h"
#include "RunTracker.h"
#include "TempDir.h"

#include <QTest>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class RecordRulesTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_STATE_HOME", root.MakeDir("state").c_str(), 1);
        root.MakeDir("state/kabinex");
        root.Write("emu/ninja/rom", "12345");
        root.Write("victim", "precious");
    }
    void TearDown() override { unsetenv("XDG_STATE_HOME"); }

    // A record of a Kabinex that has ended, on the game ninja in emu.
    TCleanupRecord Orphaned() const
    {
        TCleanupRecord record;
        record.game = "ninja";
        record.emulatorDir = root / "emu";
        record.gameDirName = "ninja";
        record.created = TDirectoryState{};
        record.owner = TProcessIdentity::Self();
        record.owner.startTicks -= 1; // the pid as an earlier process held it
        return record;
    }

    static TEntryState StateOf(const std::string& path)
    {
        struct stat info {};
        EXPECT_EQ(lstat(path.c_str(), &info), 0);
        return {S_ISDIR(info.st_mode), info.st_dev, info.st_ino, info.st_size,
                std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                std::int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
    }

    std::string Save(const TCleanupRecord& record) const
    {
        const std::string path = NewCleanupRecordPath();
        SaveCleanupRecord(path, record);
        return path;
    }

    TempDir root;
    TRunTracker tracker;
};

TEST_F(RecordRulesTest, UnsoundRecordsAreSetAsideOnceAndNeverActedOn)
{
    TCleanupRecord outside = Orphaned();
    outside.created = TDirectoryState{{"../../victim", StateOf(root / "victim")}};
    TCleanupRecord otherDirectory = Orphaned();
    otherDirectory.gameDirName = "pulsar";
    TCleanupRecord initOwned = Orphaned();
    initOwned.owner = TProcessIdentity::Of(1);
    TCleanupRecord initScript = Orphaned();
    initScript.created.reset();
    initScript.staging = NewStagingName("ninja");
    initScript.processes = {TProcessIdentity::Of(1)};
    TCleanupRecord notPrivate = Orphaned();
    notPrivate.staging = "ninja";
    std::vector<std::string> unsound = {Save(outside), Save(otherDirectory), Save(initOwned), Save(initScript),
                                        Save(notPrivate)};
    // Three lines that once emptied a whole directory, text cut short, and a file of 2 GiB.
    unsound.push_back(root.Write("state/kabinex/short.cleanup", "kabinex-cleanup 2\ngamedir\tninja\nend\n"));
    const std::string text = SerializeCleanupRecord(Orphaned());
    unsound.push_back(root.Write("state/kabinex/cut.cleanup", text.substr(0, text.size() - 3)));
    unsound.push_back(root.Write("state/kabinex/huge.cleanup", text));
    ASSERT_EQ(truncate(unsound.back().c_str(), std::int64_t(2) << 30), 0);

    std::vector<std::string> setAside = tracker.ResumeRecorded();
    std::sort(setAside.begin(), setAside.end());
    std::vector<std::string> expected;
    for (const std::string& path : unsound)
        expected.push_back(path + ".set-aside");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(setAside, expected);
    for (const std::string& path : expected)
        EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_TRUE(CleanupRecordPaths().empty());
    EXPECT_TRUE(tracker.ResumeRecorded().empty()) << "reported once";
    EXPECT_EQ(ReadAll(root / "victim"), "precious");
    EXPECT_EQ(ReadAll(root / "emu/ninja/rom"), "12345");
}

TEST_F(RecordRulesTest, NoLinkIsFollowedAndNoUnrelatedProcessIsSignalled)
{
    // The game's directory is a link now, to a directory holding the recorded file itself.
    root.Write("elsewhere/rom", "12345");
    TCleanupRecord linked = Orphaned();
    linked.created = TDirectoryState{{"rom", StateOf(root / "elsewhere/rom")}};
    fs::remove_all(root / "emu/ninja");
    fs::create_directory_symlink(root / "elsewhere", root / "emu/ninja");
    Save(linked);

    // An extraction record naming a live process that leads its group but is no extraction script.
    FILE* shell = popen("setsid sh -c 'exec sleep 1357' </dev/null >/dev/null 2>&1 & echo $!", "r");
    ASSERT_NE(shell, nullptr);
    pid_t unrelated = 0;
    ASSERT_EQ(std::fscanf(shell, "%d", &unrelated), 1);
    pclose(shell);
    ASSERT_TRUE(QTest::qWaitFor([&] { return CommandLineOf(unrelated).size() == 2 && CommandLineOf(unrelated)[0] == "sleep"; }, 30000));
    const TProcessIdentity sleeper = TProcessIdentity::Of(unrelated);
    ASSERT_EQ(GroupOf(unrelated), unrelated);
    TCleanupRecord extracting = Orphaned();
    extracting.gameDirName = "ninja";
    extracting.created.reset();
    extracting.staging = NewStagingName("ninja");
    extracting.processes = {sleeper};
    Save(extracting);

    EXPECT_TRUE(tracker.ResumeRecorded().empty()) << "both records pass every rule";
    EXPECT_TRUE(CleanupRecordPaths().empty()) << "and both are done with";
    EXPECT_EQ(ReadAll(root / "elsewhere/rom"), "12345");
    EXPECT_TRUE(sleeper.IsRunning());
    kill(unrelated, SIGKILL);
}

} // namespace
