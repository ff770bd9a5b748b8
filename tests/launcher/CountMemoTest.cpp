// The entry counts kept between checks: a count is used again only for a directory that stands as
// it was counted, whatever happened to it meanwhile, and the memo file is written only when it
// changed and never gets in the way of a check.
#include "BackgroundCheck.h"
#include "CountMemo.h"
#include "RomCheck.h"
#include "TempDir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void Fill(const TempDir& dir, const std::string& game, int files)
{
    dir.MakeDir("emu/" + game);
    for (int i = 0; i < files; ++i)
        dir.Write("emu/" + game + "/rom" + std::to_string(i), "x");
}

bool Recalled(const TCountRecorder& recorder, const std::string& name)
{
    for (const TKnownEntry* entry : recorder.Recalled())
        if (entry->first == name)
            return true;
    return false;
}

TEST(CountMemoTest, ACountIsUsedAgainOnlyForADirectoryThatStandsAsItWasCounted)
{
    struct TCase {
        const char* what;
        int files;
        std::function<void(const TempDir&, const std::string& dir)> change;
        bool present;
    };
    const auto keepTimes = [](const std::string& dir, const std::function<void()>& change) {
        struct stat before {};
        ASSERT_EQ(stat(dir.c_str(), &before), 0);
        change();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
    };
    const std::vector<TCase> cases = {
        {"unchanged, enough files", 5, nullptr, true},
        {"unchanged, too few", 2, nullptr, false},
        {"a file removed", 5, [](const TempDir&, const std::string& d) { fs::remove(d + "/rom0"); }, false},
        {"files added", 2, [](const TempDir& t, const std::string& d) { Fill(t, fs::path(d).filename(), 5); }, true},
        {"a file renamed away", 5, [](const TempDir&, const std::string& d) { fs::rename(d + "/rom0", d + "/../rom0"); }, false},
        {"a file removed, the times put back", 5,
         [&](const TempDir&, const std::string& d) { keepTimes(d, [&] { fs::remove(d + "/rom0"); }); }, false},
        {"made anew with too few", 5,
         [](const TempDir& t, const std::string& d) { fs::remove_all(d); Fill(t, fs::path(d).filename(), 2); }, false},
        {"gone", 5, [](const TempDir&, const std::string& d) { fs::remove_all(d); }, false},
        {"now a link to a full directory", 2,
         [](const TempDir& t, const std::string& d) { fs::remove_all(d); Fill(t, "full", 5); fs::create_directory_symlink(t / "emu/full", d); }, true},
    };
    TempDir dir;
    const std::string emu = dir.MakeDir("emu");
    for (std::size_t i = 0; i < cases.size(); ++i)
        Fill(dir, "g" + std::to_string(i), cases[i].files);

    // Every directory counts as settled: the test changes them within the file system's clock tick.
    TCountRecorder first(Now() + 60'000'000'000);
    const TCountRecorder none(Now());
    const TRomCheck firstCheck(emu, std::nullopt);
    for (std::size_t i = 0; i < cases.size(); ++i)
        firstCheck.Available("g" + std::to_string(i), &first);
    const std::optional<TKeptCounts> kept = ChangedCounts(TKnownCounts(), first, none);
    ASSERT_TRUE(kept && kept->size() == cases.size());
    const TKnownCounts known = TKnownCounts::Parse(CountMemoText(emu, *kept), emu);
    ASSERT_EQ(known.Size(), cases.size());

    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // past a coarse clock's tick
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (cases[i].change)
            cases[i].change(dir, dir / ("emu/g" + std::to_string(i)));
    TCountRecorder second(Now() + 60'000'000'000);
    second.Use(&known);
    const TRomCheck secondCheck(emu, std::nullopt);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string game = "g" + std::to_string(i);
        EXPECT_EQ(secondCheck.Available(game, &second), cases[i].present) << cases[i].what;
        EXPECT_EQ(Recalled(second, game), !cases[i].change) << cases[i].what;
    }
}

TEST(CountMemoTest, AMemoOfAnotherDirectoryOrFormOrADamagedLineIsNotRead)
{
    const std::string emu = "/games/emu";
    const std::string heading = "kabinex counts 1\t/games/emu\n";
    const std::vector<std::pair<std::string, std::size_t>> texts = {
        {heading + "ok\t1\t2\t3\t4\t7\t7\n", 1},
        {"kabinex counts 1\t/games/other\nok\t1\t2\t3\t4\t7\t7\n", 0},
        {"kabinex counts 2\t/games/emu\nok\t1\t2\t3\t4\t7\t7\n", 0},
        {heading + "extra\t1\t2\t3\t4\t7\t7\t9\nshort\t1\t2\t3\t4\t7\nnegative\t1\t2\t3\t4\t-1\t7\n"
                   "over\t1\t2\t3\t4\t8\t7\nword\t1\tx\t3\t4\t7\t7\ncr\t1\t2\t3\t4\t7\t7\r\n\n\t1\t2\t3\t4\t7\t7\nok\t1\t2\t3\t4\t2\t7",
         1},
        {"", 0},
    };
    for (const auto& [text, size] : texts)
        EXPECT_EQ(TKnownCounts::Parse(text, emu).Size(), size) << text;
}

TEST(CountMemoTest, TheCheckWritesTheMemoOnlyWhenItChangedAndWorksWithoutOne)
{
    TempDir dir;
    const std::string emu = dir.MakeDir("emu");
    Fill(dir, "full", 5);
    Fill(dir, "short", 2);
    TGameCatalogue catalogue;
    for (const char* game : {"full", "short", "absent"})
        catalogue.Add(game, game);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100)); // the directories count as settled
    const auto check = [&](const TCountMemoFile& memo) {
        TBackgroundCheck background(catalogue, std::make_unique<TRomCheck>(emu, std::nullopt),
                                    std::make_unique<TRomCheck>(emu, std::nullopt), memo);
        while (!background.Finished())
            background.CheckFromEnd(4);
        return std::vector<bool>{background.Present(0), background.Present(1), background.Present(2)};
    }; // the thread has written the memo when the check is gone

    const TCountMemoFile memo{dir / "cache/counts.tsv", emu};
    EXPECT_EQ(check(memo), (std::vector<bool>{true, false, false}));
    const TKnownCounts written = LoadKnownCounts(memo.path, emu);
    ASSERT_EQ(written.Size(), 2u);
    struct stat first {};
    ASSERT_EQ(stat(memo.path.c_str(), &first), 0);
    EXPECT_EQ(check(memo), (std::vector<bool>{true, false, false}));
    struct stat second {};
    ASSERT_EQ(stat(memo.path.c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino) << "an unchanged memo is not written again";

    Fill(dir, "short", 5);
    EXPECT_EQ(check(memo), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(LoadKnownCounts(memo.path, emu).Size(), 1u) << "a count just made is not kept";
    dir.Write("cache-is-a-file", "");
    EXPECT_EQ(check({dir / "cache-is-a-file/counts.tsv", emu}), (std::vector<bool>{true, true, false}));
}

} // namespace
