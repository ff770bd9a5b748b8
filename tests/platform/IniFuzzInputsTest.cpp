// The settings fuzzer's seed corpus and every input that once failed it (fuzz/ini/regressions),
// put through the fuzzer's own checks on real files.
#include "../support/TempDir.h"
#include "IniChecks.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

void CheckEveryInputIn(const fs::path& dir)
{
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    int inputs = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const TempDir scratch;
        const std::string bytes = inicheck::FileBytes(entry.path().string());
        EXPECT_EQ(inicheck::CheckInput(bytes, scratch / "kabinex.ini"), "") << entry.path().filename();
        ++inputs;
    }
    EXPECT_GT(inputs, 0) << dir;
}

TEST(IniFuzzInputs, SeedCorpusPassesEveryCheck)
{
    CheckEveryInputIn(fs::path(KABINEX_SOURCE_DIR) / "fuzz/ini/corpus");
}

TEST(IniFuzzInputs, EveryInputThatOnceFailedPassesNow)
{
    CheckEveryInputIn(fs::path(KABINEX_SOURCE_DIR) / "fuzz/ini/regressions");
}

} // namespace
