// Kabinex killed (SIGKILL) in the middle of a run or of an extraction, then started again: the
// next start finishes the recorded clean-up. The killed Kabinex is this test binary run again in
// a child role; the one started again is the real program.
#include "CleanupRecord.h"
#include "LaunchFixture.h"

#include <QProcess>
#include <QTimer>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// The child role: launch the first game, say so through the ready file once `when` exists,
// and wait to be killed.
[[noreturn]] void RunAsKabinexToBeKilled(const char* programDir)
{
    for (const char* name : {"MAVE_STANDIN_RECORD", "MAVE_STANDIN_UNTIL", "MAVE_STANDIN_APPEND", "XDG_STATE_HOME"})
        setenv(name, std::getenv((std::string("KBX_CHILD_") + name).c_str()), 1);
    unsetenv("MAVE_STANDIN_SECONDS");
    const std::string when = std::getenv("KBX_CHILD_WHEN");
    const std::string ready = std::getenv("KBX_CHILD_READY");
    CurrentDirScope here(programDir);
    TForm1 form;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (fs::exists(when))
            std::ofstream(ready) << "ready";
    });
    poll.start(10);
    form.GameDescs->setCurrentRow(0);
    form.ButtonExecute->click();
    for (;;)
        QTest::qWait(1000);
}

class RecoveryTest : public LaunchTest {
protected:
    void SetUp() override
    {
        if (const char* programDir = std::getenv("KBX_CHILD_PROGRAM_DIR"))
            RunAsKabinexToBeKilled(programDir);
        LaunchTest::SetUp();
        MakeZip("ninja", {"n1", "n2", "n3", "n4", "n5"});
        setenv("MAVE_STANDIN_APPEND", "ninja/ninja.sta", 1);
        setenv("MAVE_STANDIN_UNTIL", gameOver.c_str(), 1);
    }

    // Starts this test again as a Kabinex that launches the first game, and kills it with
    // SIGKILL once `when` exists.
    void LaunchAndKill(const std::string& when)
    {
        std::vector<std::string> environment;
        for (char** variable = environ; *variable; ++variable)
            environment.emplace_back(*variable);
        for (const char* name : {"MAVE_STANDIN_RECORD", "MAVE_STANDIN_UNTIL", "MAVE_STANDIN_APPEND", "XDG_STATE_HOME"})
            environment.push_back(std::string("KBX_CHILD_") + name + "=" + std::getenv(name));
        environment.push_back("KBX_CHILD_PROGRAM_DIR=" + root / "prog");
        environment.push_back("KBX_CHILD_WHEN=" + when);
        environment.push_back("KBX_CHILD_READY=" + root / "ready");
        const std::string filter = std::string("--gtest_filter=") + testing::UnitTest::GetInstance()->current_test_suite()->name()
            + "." + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::vector<char*> argv{const_cast<char*>("test_launcher"), const_cast<char*>(filter.c_str()), nullptr};
        std::vector<char*> envp;
        for (std::string& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()), 0);
        const bool ready = QTest::qWaitFor([&] { return fs::exists(root / "ready"); }, 60000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ASSERT_TRUE(ready);
    }

    // The real program, started in the program directory.
    void StartKabinex(QProcess& kabinex)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        kabinex.setProcessEnvironment(environment);
        kabinex.setWorkingDirectory(QString::fromStdString(root / "prog"));
        kabinex.start(KABINEX_BINARY_DIR "/kabinex", QStringList());
        ASSERT_TRUE(kabinex.waitForStarted());
    }

    // Waits (with a hang guard) until the records on disk satisfy the condition.
    bool RecordsBecome(const std::function<bool(const std::vector<std::string>&)>& condition)
    {
        return QTest::qWaitFor([&] { return condition(RecordFiles()); }, 30000);
    }

    std::optional<TCleanupRecord> OnlyRecord()
    {
        const std::vector<std::string> files = RecordFiles();
        return files.size() == 1 ? LoadCleanupRecord(files[0]).record : std::nullopt;
    }

    const std::string gameOver = root / "game-over";
};

TEST_F(RecoveryTest, KilledDuringARunTheNextStartCleansUpWhenTheGameEnds)
{
    WriteSettings("ninja=Ninja\n");
    LaunchAndKill(emu + "/ninja/ninja.sta");
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"n1", "n2", "n3", "n4", "n5", "ninja.sta"}));
    ASSERT_TRUE(OnlyRecord().has_value());
    ASSERT_TRUE(OnlyRecord()->created.has_value()) << "the extraction had completed";

    QProcess kabinex;
    StartKabinex(kabinex);
    // The new Kabinex takes the record over while the game still runs.
    ASSERT_TRUE(RecordsBecome([&](const auto&) {
        const std::optional<TCleanupRecord> record = OnlyRecord();
        return record && record->owner.pid == kabinex.processId();
    }));
    EXPECT_EQ(Entries("ninja").size(), 6u) << "nothing goes while the game runs";
    root.Write("game-over", "");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"})) << "the save file stays";
    kabinex.kill();
    kabinex.waitForFinished();
}

TEST_F(RecoveryTest, GameThatEndedMeanwhileIsCleanedUpAtOnce)
{
    WriteSettings("ninja=Ninja\n");
    LaunchAndKill(emu + "/ninja/ninja.sta");
    ASSERT_TRUE(OnlyRecord().has_value());
    const std::vector<TProcessIdentity> emulators = OnlyRecord()->processes;
    ASSERT_EQ(emulators.size(), 1u);
    root.Write("game-over", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !emulators[0].IsRunning(); }, 30000));

    QProcess kabinex;
    StartKabinex(kabinex);
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
    kabinex.kill();
    kabinex.waitForFinished();
}

TEST_F(RecoveryTest, KilledDuringAnExtractionTheNextStartEndsItAndRemovesItsFiles)
{
    const std::string stuck = root / "stuck";
    WriteSettings("ninja=Ninja\n", "unzipper=f() { unzip \"$@\"; touch '" + stuck + "'; sleep 1000; }; f\n");
    LaunchAndKill(stuck);
    EXPECT_TRUE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_TRUE(fs::exists(emu + "/lockfile.$$$"));
    ASSERT_TRUE(OnlyRecord().has_value());
    const std::string staging = emu + "/" + OnlyRecord()->staging;
    EXPECT_EQ(fs::directory_iterator(staging) == fs::directory_iterator(), false) << "unpacked there";
    EXPECT_FALSE(fs::exists(emu + "/ninja")) << "nothing is in the game's directory before it is complete";
    ASSERT_EQ(OnlyRecord()->processes.size(), 1u);
    const TProcessIdentity script = OnlyRecord()->processes[0];
    EXPECT_TRUE(script.IsRunning());

    QProcess kabinex;
    StartKabinex(kabinex);
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_FALSE(script.IsRunning());
    EXPECT_FALSE(GroupHasLiveProcesses(script.pid)) << "its unzip tool ended with it";
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
    EXPECT_TRUE(Runs().empty());
    kabinex.kill();
    kabinex.waitForFinished();
}

} // namespace
