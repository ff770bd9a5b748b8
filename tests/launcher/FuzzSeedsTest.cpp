// The fuzz targets' seeds and every input that once failed them (fuzz/cleanup, fuzz/zipdir):
// each is read without harm, and gives the same answer from memory as from its file.
#include "CleanupRecord.h"
#include "TempDir.h"
#include "ZipDirectory.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const std::string& target)
{
    std::vector<fs::path> files;
    for (const char* folder : {"corpus", "regressions"})
        for (const auto& entry : fs::directory_iterator(fs::path(KABINEX_SOURCE_DIR) / "fuzz" / target / folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzSeeds, RecordsReadBackAsWrittenAndUnsoundOnesAreRefused)
{
    const std::vector<fs::path> files = Inputs("cleanup");
    ASSERT_GE(files.size(), 8u);
    TempDir root;
    setenv("XDG_STATE_HOME", root.Path().c_str(), 1);
    for (const fs::path& file : files) {
        const std::string text = ReadAll(file);
        const std::optional<TCleanupRecord> record = ParseCleanupRecord(text);
        const bool regression = file.parent_path().filename() == "regressions";
        if (record) {
            EXPECT_EQ(SerializeCleanupRecord(*ParseCleanupRecord(SerializeCleanupRecord(*record))),
                      SerializeCleanupRecord(*record))
                << file;
        }
        const std::string copy = root.Write("kabinex/" + file.filename().string(), text);
        const TLoadedRecord loaded = LoadCleanupRecord(copy);
        EXPECT_EQ(loaded.record.has_value(), !regression) << file << ": " << loaded.fault;
        EXPECT_EQ(loaded.fault.empty(), !regression) << file;
    }
    unsetenv("XDG_STATE_HOME");
}

TEST(FuzzSeeds, ZipDirectoriesReadTheSameFromMemory)
{
    const std::vector<fs::path> files = Inputs("zipdir");
    ASSERT_GE(files.size(), 8u);
    for (const fs::path& file : files)
        EXPECT_EQ(UncompressedSizeOf(ReadAll(file)), UncompressedSize(file)) << file;
    EXPECT_EQ(UncompressedSizeOf(ReadAll(fs::path(KABINEX_SOURCE_DIR) / "fuzz/zipdir/corpus/several.zip")), 11u);
    EXPECT_EQ(UncompressedSizeOf(ReadAll(fs::path(KABINEX_SOURCE_DIR) / "fuzz/zipdir/corpus/zip64.zip")),
              (5ull << 30) + 7);
    EXPECT_FALSE(UncompressedSizeOf(ReadAll(fs::path(KABINEX_SOURCE_DIR) / "fuzz/zipdir/regressions/locator_past_end.zip")));
}

} // namespace
