// The on-disk record of a pending clean-up: where it lives, and that it reads back exactly what
// was written or nothing at all.
#include "CleanupRecord.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TCleanupRecord Sample()
{
    TCleanupRecord record;
    record.game = "sf?";
    record.emulatorDir = "/emu dir/with\ttab\\and\nline";
    record.gameDirName = "SF?";
    record.staging = ".kabinex-1-0-sf?";
    record.madeGameDir = TEntryState{true, 7, 11, 4096, 1, 2};
    record.created = TDirectoryState{{"rom 1", {false, 8, 13, 1 << 20, 1700000000123456789, 1700000000987654321}},
                                     {"notes\r.txt", {false, 8, 12, 5, -3, 0}}};
    record.owner = TProcessIdentity::Self();
    record.processes = {{1234, 5678, "boot-id"}, {99, 1, "boot-id"}};
    return record;
}

void ExpectSame(const TCleanupRecord& a, const TCleanupRecord& b)
{
    EXPECT_EQ(a.game, b.game);
    EXPECT_EQ(a.gameDirName, b.gameDirName);
    EXPECT_EQ(a.emulatorDir, b.emulatorDir);
    EXPECT_EQ(a.staging, b.staging);
    EXPECT_EQ(a.madeGameDir, b.madeGameDir);
    EXPECT_EQ(a.created, b.created);
    EXPECT_EQ(a.owner, b.owner);
    EXPECT_EQ(a.processes, b.processes);
}

TEST(CleanupRecordTest, ReadsBackWhatWasWrittenOrNothing)
{
    const TCleanupRecord record = Sample();
    const std::string text = SerializeCleanupRecord(record);
    const std::optional<TCleanupRecord> parsed = ParseCleanupRecord(text);
    ASSERT_TRUE(parsed.has_value());
    ExpectSame(*parsed, record);

    TCleanupRecord extracting = record;
    extracting.created.reset();
    ASSERT_TRUE(ParseCleanupRecord(SerializeCleanupRecord(extracting)).has_value());
    EXPECT_FALSE(ParseCleanupRecord(SerializeCleanupRecord(extracting))->created.has_value());

    // Cut short anywhere, or damaged, it is no record: half a record must never drive a removal.
    for (std::size_t length = 0; length + 1 < text.size(); length += 7)
        EXPECT_FALSE(ParseCleanupRecord(text.substr(0, length)).has_value()) << length;
    std::string damaged = text;
    damaged.replace(damaged.find("1234"), 4, "12x4");
    EXPECT_FALSE(ParseCleanupRecord(damaged).has_value());
}

TEST(CleanupRecordTest, LivesInTheUsersStateDirectory)
{
    TempDir root;
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", root.Path().c_str(), 1);
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(CleanupRecordDir(), root / ".local/state/kabinex");
    setenv("XDG_STATE_HOME", "relative/state", 1); // not absolute: to be ignored
    EXPECT_EQ(CleanupRecordDir(), root / ".local/state/kabinex");
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    EXPECT_EQ(CleanupRecordDir(), root / "state/kabinex");

    const std::string path = NewCleanupRecordPath();
    SaveCleanupRecord(path, Sample());
    SaveCleanupRecord(path, Sample()); // replaced whole
    EXPECT_EQ(CleanupRecordPaths(), std::vector<std::string>{path});
    ExpectSame(*LoadCleanupRecord(path).record, Sample());
    EXPECT_NE(NewCleanupRecordPath(), path);

    unsetenv("XDG_STATE_HOME");
    setenv("HOME", home.c_str(), 1);
}

} // namespace
