// Four Kabinex launching four zipped games from one emulator directory at the same moment: each
// is this test binary run again in a child role with a window of its own, the real unzip tool and
// the stand-in emulator. No launch may be lost. KBX_RACE_ROUNDS sets the number of rounds (the
// suite runs a few; the benchmark script runs a hundred).
#include "LaunchFixture.h"

#include <sys/wait.h>
#include <thread>

namespace {

constexpr int Instances = 4;

// The child role: build the window, say so, launch the game of row KBX_RACE_ROW once the go file
// exists, wait until its run has ended and its files are taken back, and write every message.
[[noreturn]] void RunAsRacingKabinex(const char* programDir)
{
    const int row = std::atoi(std::getenv("KBX_RACE_ROW"));
    const std::string go = std::getenv("KBX_RACE_GO");
    const std::string result = std::getenv("KBX_RACE_RESULT");
    ScriptedDialogs dialogs;
    CurrentDirScope here(programDir);
    TForm1 form;
    std::ofstream(result + ".ready") << "ready";
    while (!fs::exists(go))
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    form.GameDescs->setCurrentRow(row);
    dialogs.errors.clear(); // the missing screenshot; only what the launch says counts
    form.ButtonExecute->click();
    const std::string gameDir = std::getenv("KBX_RACE_GAME_DIR");
    const bool ended = QTest::qWaitFor(
        [&] { return form.Runs().Running(gameDir) == 0 && !form.Runs().CleanupPending(gameDir); }, 60000);
    std::ofstream out(result + ".tmp");
    out << (dialogs.errors + dialogs.messages + dialogs.warnings).join('\n').toStdString() << (ended ? "" : "hung");
    out.close();
    fs::rename(result + ".tmp", result);
    std::_Exit(0); // the settings stay as they were: four windows would write them at once
}

class ConcurrentLaunchTest : public LaunchTest {
protected:
    void SetUp() override
    {
        if (const char* programDir = std::getenv("KBX_RACE_PROGRAM_DIR"))
            RunAsRacingKabinex(programDir);
        LaunchTest::SetUp();
    }

    pid_t StartRacer(int row, const std::string& go)
    {
        return StartThisTestAgain({"KBX_RACE_PROGRAM_DIR=" + root / "prog", "KBX_RACE_ROW=" + std::to_string(row),
                                   "KBX_RACE_GO=" + go, "KBX_RACE_RESULT=" + ResultFile(row),
                                   "KBX_RACE_GAME_DIR=" + emu + "/g" + std::to_string(row)});
    }

    std::string ResultFile(int row) const { return root / ("result" + std::to_string(row)); }

    // One round: what each instance was told, "lost" for one whose game never ran.
    std::vector<std::string> Round(int round)
    {
        fs::remove(record);
        const std::string go = root / ("go" + std::to_string(round));
        std::vector<pid_t> racers;
        for (int row = 0; row < Instances; ++row) {
            fs::remove(ResultFile(row));
            fs::remove(ResultFile(row) + ".ready");
            racers.push_back(StartRacer(row, go));
        }
        for (int row = 0; row < Instances; ++row)
            EXPECT_TRUE(QTest::qWaitFor([&] { return fs::exists(ResultFile(row) + ".ready"); }, 60000));
        std::ofstream(go) << "go";
        for (pid_t racer : racers)
            waitpid(racer, nullptr, 0);
        std::vector<std::string> told;
        const std::vector<std::vector<std::string>> runs = Runs();
        for (int row = 0; row < Instances; ++row) {
            const std::string game = "g" + std::to_string(row);
            const bool ran = std::count(runs.begin(), runs.end(), std::vector<std::string>{emu, game}) == 1;
            const std::string text = fs::exists(ResultFile(row)) ? ReadAll(ResultFile(row)) : "no result";
            if (!ran || !text.empty())
                told.push_back(game + ": " + (ran ? "" : "lost ") + text);
        }
        return told;
    }
};

TEST_F(ConcurrentLaunchTest, FourKabinexLaunchingAtOnceLoseNoLaunch)
{
    std::string games;
    for (int row = 0; row < Instances; ++row) {
        std::vector<std::string> files;
        for (int file = 0; file < 40; ++file)
            files.push_back("rom" + std::to_string(file));
        MakeZip("g" + std::to_string(row), files);
        games += "g" + std::to_string(row) + "=Game " + std::to_string(row) + "\n";
    }
    WriteSettings(games);
    const char* roundsSet = std::getenv("KBX_RACE_ROUNDS");
    const int rounds = roundsSet ? std::atoi(roundsSet) : 3;
    int lost = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::vector<std::string> told = Round(round);
        lost += static_cast<int>(told.size());
        for (const std::string& text : told)
            ADD_FAILURE() << "round " << round << ": " << text;
        for (const auto& entry : fs::directory_iterator(emu))
            EXPECT_EQ(entry.path().filename(), "mave") << "round " << round << ": left behind";
        EXPECT_TRUE(RecordFiles().empty()) << "round " << round;
    }
    std::printf("%d launches in %d rounds of %d at once, %d lost\n", rounds * Instances, rounds, Instances, lost);
}

} // namespace
