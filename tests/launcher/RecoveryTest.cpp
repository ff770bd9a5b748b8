// Kabinex killed (SIGKILL) in the middle of a run or of an extraction, then started again: the
// next start finishes the recorded clean-up. The killed Kabinex is this test binary run again in
// a child role; the one started again is the real program.
#include "CleanupRecord.h"
#include "LaunchFixture.h"
#include "Locks.h"

#include <QProcess>
#include <QTimer>
#include <csignal>
#include <sys/mount.h>
#include <sys/wait.h>


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
        const pid_t child = StartLaunchingKabinex(when);
        ASSERT_GT(child, 0);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }

    // Starts this test again as a Kabinex that launches the first game and keeps running; returns
    // once `when` exists (0 when it never did).
    pid_t StartLaunchingKabinex(const std::string& when)
    {
        std::vector<std::string> environment;
        for (const char* name : {"MAVE_STANDIN_RECORD", "MAVE_STANDIN_UNTIL", "MAVE_STANDIN_APPEND", "XDG_STATE_HOME"})
            environment.push_back(std::string("KBX_CHILD_") + name + "=" + std::getenv(name));
        environment.push_back("KBX_CHILD_PROGRAM_DIR=" + root / "prog");
        environment.push_back("KBX_CHILD_WHEN=" + when);
        environment.push_back("KBX_CHILD_READY=" + root / "ready");
        const pid_t child = StartThisTestAgain(environment);
        if (child == 0)
            return 0;
        if (!QTest::qWaitFor([&] { return fs::exists(root / "ready"); }, 60000)) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return 0;
        }
        fs::remove(root / "ready");
        return child;
    }

    static void Stop(pid_t kabinex)
    {
        kill(kabinex, SIGKILL);
        waitpid(kabinex, nullptr, 0);
    }

    bool NoStagingLeft() const
    {
        for (const auto& entry : fs::directory_iterator(emu))
            if (entry.path().filename().string().starts_with(".kabinex-"))
                return false;
        return true;
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

    // The emulator becomes a wrapper script that starts the game in the background and exits,
    // touching the file returned.
    std::string UseWrapper()
    {
        fs::rename(emu + "/mave", emu + "/mave.real");
        const std::string wrapperDone = root / "wrapper-done";
        {
            std::ofstream wrapper(emu + "/mave");
            wrapper << "#!/bin/sh\n\"$(dirname \"$0\")/mave.real\" \"$@\" &\ntouch '" << wrapperDone << "'\n";
        }
        fs::permissions(emu + "/mave", fs::perms::owner_all);
        return wrapperDone;
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

// Killed between the emulator's start and its entry in the record: the mark the emulator was
// started with finds it.
TEST_F(RecoveryTest, AGameStartedButNotYetRecordedIsFoundByItsMark)
{
    WriteSettings("ninja=Ninja\n");
    LaunchAndKill(emu + "/ninja/ninja.sta");
    std::optional<TCleanupRecord> record = OnlyRecord();
    ASSERT_TRUE(record && record->created);
    ASSERT_FALSE(record->launchMark.empty());
    record->processes.clear(); // the record as it stands before the emulator is entered
    SaveCleanupRecord(RecordFiles()[0], *record);

    QProcess kabinex;
    StartKabinex(kabinex);
    ASSERT_TRUE(RecordsBecome([&](const auto&) {
        const std::optional<TCleanupRecord> taken = OnlyRecord();
        return taken && taken->owner.pid == kabinex.processId();
    }));
    EXPECT_EQ(Entries("ninja").size(), 6u) << "nothing goes while the game runs";
    root.Write("game-over", "");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
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

TEST_F(RecoveryTest, KilledDuringAnExtractionTheUsersLaterFilesStay)
{
    const std::string stuck = root / "stuck";
    const std::string go = root / "go";
    WriteSettings("ninja=Ninja\n", "unzipper=f() { unzip \"$@\"; touch '" + stuck + "'; while [ ! -e '" + go +
                                       "' ]; do sleep 0.02; done; }; f\n");
    LaunchAndKill(stuck);
    ASSERT_TRUE(OnlyRecord().has_value());
    ASSERT_EQ(OnlyRecord()->processes.size(), 1u);
    const TProcessIdentity script = OnlyRecord()->processes[0];
    // The script finishes on its own; then the user puts a save and a patched ROM in place.
    root.Write("go", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !script.IsRunning(); }, 30000));
    fs::create_directories(emu + "/ninja");
    std::ofstream(emu + "/ninja/ninja.sta") << "saved";
    std::ofstream(emu + "/ninja/n1") << "patched";

    QProcess kabinex;
    StartKabinex(kabinex);
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"n1", "ninja.sta"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/n1"), "patched");
    EXPECT_TRUE(NoStagingLeft());
    kabinex.kill();
    kabinex.waitForFinished();
}

// The state directory on a small file system the unzip tool fills once it has unpacked: the
// record cannot be brought up to date before the game would start.
TEST_F(RecoveryTest, RecordThatCannotBeUpdatedStopsTheLaunchAndNamesItsFile)
{
    const std::string state = root.MakeDir("small-state");
    if (mount("tmpfs", state.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "mounting a tmpfs needs privileges";
    struct TUnmount {
        std::string dir;
        ~TUnmount() { umount2(dir.c_str(), MNT_DETACH); }
    } unmount{state};
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    auto form = Start("ninja=Ninja\n", "unzipper=f() { unzip \"$@\" && cat /dev/zero > '" + state +
                                           "/filler' 2>/dev/null; true; }; f\n");
    Launch(*form, 0);
    EXPECT_TRUE(Runs().empty()) << "the game does not start";
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith(QString::fromStdString("nach " + state + "/kabinex/")))
        << dialogs.errors[0].toStdString();
    EXPECT_FALSE(fs::exists(emu + "/ninja")) << "what was extracted is removed";
    EXPECT_TRUE(NoStagingLeft());
    fs::remove(state + "/filler");
    EXPECT_TRUE(RecordFiles().empty());
}

// Another Kabinex (a second process on the same program directory) extracted the game and runs it;
// this one launches it too, present now. The first one's game ends first.
TEST_F(RecoveryTest, AGameOfAnotherKabinexKeepsItsFilesUntilItEnds)
{
    WriteSettings("ninja=Ninja\n");
    const pid_t other = StartLaunchingKabinex(emu + "/ninja/ninja.sta");
    ASSERT_GT(other, 0);
    ASSERT_TRUE(OnlyRecord().has_value());
    const std::vector<TProcessIdentity> othersGame = OnlyRecord()->processes;
    ASSERT_EQ(othersGame.size(), 1u);

    const std::string thisOver = root / "this-game-over";
    setenv("MAVE_STANDIN_UNTIL", thisOver.c_str(), 1);
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_EQ(form->Runs().Running(emu + "/ninja"), 1);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();

    root.Write("game-over", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !othersGame[0].IsRunning(); }, 30000));
    // Ample time for the other Kabinex to clean up, as it would have without seeing this game.
    QTest::qWait(1500);
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"n1", "n2", "n3", "n4", "n5", "ninja.sta"}));

    root.Write("this-game-over", "");
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); })) << "the other one cleans up now";
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
    Stop(other);
}

// The same two games; this one's ends first: the files stay for the other one's game, and go
// once it has ended.
TEST_F(RecoveryTest, TheOtherKabinexCleansUpWhenItsGameEndsLast)
{
    WriteSettings("ninja=Ninja\n");
    const pid_t other = StartLaunchingKabinex(emu + "/ninja/ninja.sta");
    ASSERT_GT(other, 0);
    setenv("MAVE_STANDIN_UNTIL", (root / "this-game-over").c_str(), 1);
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_EQ(form->Runs().Running(emu + "/ninja"), 1);

    root.Write("this-game-over", "");
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.size() == 1; })) << "this one's record goes";
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"n1", "n2", "n3", "n4", "n5", "ninja.sta"}));

    root.Write("game-over", "");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
    Stop(other);
}

// This Kabinex launches a game another one is still extracting: it says so and starts nothing.
TEST_F(RecoveryTest, AGameAnotherKabinexExtractsIsNotStartedOnHalfItsFiles)
{
    const std::string stuck = root / "stuck";
    const std::string go = root / "go";
    WriteSettings("ninja=Ninja\n", "unzipper=f() { unzip -n \"$2\" n1 n2 -d \"$4\"; touch '" + stuck +
                                       "'; while [ ! -e '" + go + "' ]; do sleep 0.02; done; unzip \"$@\"; }; f\n");
    const pid_t other = StartLaunchingKabinex(stuck);
    ASSERT_GT(other, 0);

    setenv("MAVE_STANDIN_UNTIL", (root / "this-game-over").c_str(), 1);
    auto form = Start("ninja=Ninja\n", "unzipper=unzip\n");
    Launch(*form, 0);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0], "Otro Kabinex está extrayendo ninja; espere a que termine.");
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(form->Runs().Running(emu + "/ninja"), 0);

    root.Write("go", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Runs().size() == 1; }, 30000)) << "the other one's game starts";
    EXPECT_EQ(Entries("ninja").count("n5"), 1u);
    root.Write("game-over", "");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
    EXPECT_TRUE(NoStagingLeft());
    Stop(other);
}

// An emulator started through a wrapper script that starts the game in the background and exits.
TEST_F(RecoveryTest, AGameAWrapperLeftRunningKeepsItsFiles)
{
    const std::string wrapperDone = UseWrapper();
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_TRUE(OnlyRecord().has_value());
    const std::vector<TProcessIdentity> wrapper = OnlyRecord()->processes;
    ASSERT_EQ(wrapper.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(wrapperDone) && !wrapper[0].IsRunning(); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(emu + "/ninja/ninja.sta"); }, 30000));
    // Ample time for a clean-up that would follow the wrapper's end.
    QTest::qWait(1000);
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"n1", "n2", "n3", "n4", "n5", "ninja.sta"}));
    EXPECT_EQ(form->Runs().Running(emu + "/ninja"), 1);

    root.Write("game-over", "");
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
}

// This Kabinex's game has ended while another Kabinex's game, left in the background by a wrapper,
// still runs on the directory: the files stay until that game's last process has ended.
TEST_F(RecoveryTest, ACleanUpHeldBackForAWrappedGameElsewhereWaitsForItsLastProcess)
{
    const std::string wrapperDone = UseWrapper();
    setenv("MAVE_STANDIN_UNTIL", (root / "this-game-over").c_str(), 1);
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(wrapperDone); }, 30000));
    fs::remove(wrapperDone);
    setenv("MAVE_STANDIN_UNTIL", gameOver.c_str(), 1);
    const pid_t other = StartLaunchingKabinex(wrapperDone);
    ASSERT_GT(other, 0);
    ASSERT_TRUE(RecordsBecome([](const auto& files) { return files.size() == 2; }));

    root.Write("this-game-over", "");
    WaitUntilEnded(*form, emu + "/ninja");
    // Ample time for a clean-up that would follow the other wrapper's end.
    QTest::qWait(1000);
    EXPECT_TRUE(form->Runs().CleanupPending(emu + "/ninja"));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"n1", "n2", "n3", "n4", "n5", "ninja.sta"}));

    root.Write("game-over", "");
    EXPECT_TRUE(RecordsBecome([](const auto& files) { return files.empty(); }));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"ninja.sta"}));
    Stop(other);
}

// A state disk full before the launch: a game that cannot be recorded ends at once, so that no
// Kabinex ever takes its files away under it unknowingly.
} // namespace
