// Naming processes across Kabinex runs: a recorded process is found again only while it is the
// same process, and its end is seen even when it is no child of this one.
#include "Process.h"
#include "ProcessIdentity.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// Starts "sleep 30" as an orphan (its shell exits at once) in a process group of its own.
pid_t StartOrphanedSleep()
{
    FILE* shell = popen("setsid sh -c 'sleep 30 & echo $!' </dev/null", "r");
    pid_t pid = 0;
    if (shell == nullptr || std::fscanf(shell, "%d", &pid) != 1)
        pid = 0;
    if (shell)
        pclose(shell);
    return pid;
}

class ProcessIdentityTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "test_platform";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv); // kept for the whole run
        }
    }
};

TEST_F(ProcessIdentityTest, SameProcessOnlyWhileItRuns)
{
    const TProcessIdentity self = TProcessIdentity::Self();
    EXPECT_TRUE(self.IsRunning());
    TProcessIdentity earlier = self;
    earlier.startTicks -= 1; // the pid as a process that started at another time would hold it
    EXPECT_FALSE(earlier.IsRunning());
    TProcessIdentity otherBoot = self;
    otherBoot.bootId = "another boot";
    EXPECT_FALSE(otherBoot.IsRunning());
    EXPECT_EQ(TProcessIdentity::Of(0).pid, 0);

    // A child that has ended but is not reaped yet has ended.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    const TProcessIdentity zombie = TProcessIdentity::Of(child);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !zombie.IsRunning(); }, 30000));
    EXPECT_EQ(zombie, TProcessIdentity::Of(child)) << "still there until reaped";
    waitpid(child, nullptr, 0);
}

TEST_F(ProcessIdentityTest, EndOfAProcessThatIsNoChild)
{
    const pid_t orphan = StartOrphanedSleep();
    ASSERT_GT(orphan, 0);
    const TProcessIdentity identity = TProcessIdentity::Of(orphan);
    ASSERT_TRUE(identity.IsRunning());
    EXPECT_TRUE(GroupHasLiveProcesses(getpgid(orphan)));

    TProcessWatch watch(identity);
    QSignalSpy ended(&watch, &TProcessWatch::Ended);
    QTest::qWait(50);
    EXPECT_EQ(ended.count(), 0);
    const pid_t group = getpgid(orphan);
    kill(orphan, SIGKILL);
    ASSERT_TRUE(ended.wait(30000) || ended.count() == 1);
    EXPECT_FALSE(GroupHasLiveProcesses(group));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(identity.IsRunning());

    // Watching a process that has already ended reports it at once, from the event loop.
    TProcessWatch late(identity);
    QSignalSpy lateEnded(&late, &TProcessWatch::Ended);
    EXPECT_TRUE(lateEnded.wait(30000) || lateEnded.count() == 1);
}

// A session leader that starts a program in the background and exits at once, as emulator
// wrapper scripts do: the session lives on in the background program.
TEST_F(ProcessIdentityTest, SessionLivesWhileAnyOfItsProcessesRuns)
{
    char directory[] = "/tmp/kbx-session-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string gate = std::string(directory) + "/gate";
    const std::string ready = std::string(directory) + "/ready";
    const pid_t wrapper = fork();
    if (wrapper == 0) {
        setsid();
        const std::string script = "(while [ ! -e '" + gate + "' ]; do sleep 0.02; done) </dev/null >/dev/null 2>&1 & "
            "touch '" + ready + "'";
        execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
        _exit(127);
    }
    const TProcessIdentity leader = TProcessIdentity::Of(wrapper);
    ASSERT_NE(leader.pid, 0);
    ASSERT_EQ(waitpid(wrapper, nullptr, 0), wrapper);
    ASSERT_TRUE(QTest::qWaitFor([&] { return access(ready.c_str(), F_OK) == 0; }, 30000));
    EXPECT_FALSE(leader.IsRunning());
    EXPECT_TRUE(SessionHasLiveProcesses(leader)) << "the background loop still runs";

    TProcessWatch session(leader, TWatchScope::Session);
    QSignalSpy ended(&session, &TProcessWatch::Ended);
    TProcessWatch process(leader, TWatchScope::Process);
    QSignalSpy processEnded(&process, &TProcessWatch::Ended);
    ASSERT_TRUE(processEnded.wait(30000) || processEnded.count() == 1);
    EXPECT_EQ(ended.count(), 0) << "the session outlives its leader";

    FILE* gateFile = std::fopen(gate.c_str(), "w");
    ASSERT_NE(gateFile, nullptr);
    std::fclose(gateFile);
    EXPECT_TRUE(ended.wait(30000) || ended.count() == 1);
    EXPECT_FALSE(SessionHasLiveProcesses(leader));
    std::remove(gate.c_str());
    std::remove(ready.c_str());
    rmdir(directory);
}

pid_t PidIn(const std::string& file)
{
    pid_t pid = 0;
    std::ifstream(file) >> pid;
    return pid;
}

// How often the event loop goes round while it runs for a while with nothing to do.
int WakeUpsWhileIdle()
{
    int wakeUps = 0;
    const QMetaObject::Connection counting = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, [&] { ++wakeUps; });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(counting);
    return wakeUps;
}

// A wrapper that starts the game in the background and exits, started as the launcher starts
// it: the watch waits for what the session has left without keeping the event loop busy (the
// ended leader's descriptor stays readable for good), follows what the leftovers start in
// their turn, and ends with the last of them.
TEST_F(ProcessIdentityTest, SessionLeftoversAreWaitedForWithoutBusyWork)
{
    char directory[] = "/tmp/kbx-leftovers-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string dir = directory;
    ASSERT_EQ(mkfifo((dir + "/go").c_str(), 0600), 0);
    const std::string script = "sleep 300 & echo $! > first; (read line < go; sleep 300 & echo $! > second) & exit 0";
    auto wrapper = platform::StartDetached("/bin/sh", {"sh", "-c", script}, dir, platform::StandardStreams::Null);
    ASSERT_NE(wrapper, nullptr);
    TProcessWatch session(TProcessIdentity::Of(wrapper->Pid()), TWatchScope::Session);
    QSignalSpy ended(&session, &TProcessWatch::Ended);
    QSignalSpy reaped(wrapper.get(), &platform::ChildProcess::Finished);
    ASSERT_TRUE(reaped.wait(30000) || reaped.count() == 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return PidIn(dir + "/first") > 0; }, 30000));

    EXPECT_LT(WakeUpsWhileIdle(), 10) << "the event loop is kept busy";
    const pid_t first = PidIn(dir + "/first");
    kill(first, SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !TProcessIdentity::Of(first).IsRunning(); }, 30000));
    QTest::qWait(200);
    EXPECT_EQ(ended.count(), 0) << "the subshell still runs";

    std::ofstream(dir + "/go") << "go\n";
    ASSERT_TRUE(QTest::qWaitFor([&] { return PidIn(dir + "/second") > 0; }, 30000));
    QTest::qWait(200);
    EXPECT_EQ(ended.count(), 0) << "the subshell left a program behind";
    EXPECT_LT(WakeUpsWhileIdle(), 10) << "the event loop is kept busy";
    kill(PidIn(dir + "/second"), SIGKILL);
    EXPECT_TRUE(ended.wait(30000) || ended.count() == 1);
    std::filesystem::remove_all(dir);
}

TEST_F(ProcessIdentityTest, OnlyALiveGroupLeaderOtherThanInitIsKilled)
{
    // pid 1 (init, or the first process of a PID namespace): its group is never signalled.
    KillGroup(TProcessIdentity::Of(1));
    KillGroup({1, 0, "any boot"});

    // A process that leads no group of its own is refused, and so is one of another start time.
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    TProcessIdentity member = TProcessIdentity::Of(child);
    KillGroup(member);
    EXPECT_TRUE(member.IsRunning()) << "it belongs to this test's group";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    const pid_t orphan = StartOrphanedSleep();
    ASSERT_GT(orphan, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return CommandLineOf(orphan) == std::vector<std::string>{"sleep", "30"}; }, 30000));
    TProcessIdentity stale = TProcessIdentity::Of(orphan);
    stale.startTicks += 1;
    KillGroup(stale);
    EXPECT_TRUE(TProcessIdentity::Of(orphan).IsRunning());
    KillGroup(TProcessIdentity::Of(orphan));
    EXPECT_TRUE(TProcessIdentity::Of(orphan).IsRunning()) << "it leads no group: its shell did";
    kill(orphan, SIGKILL);
}

} // namespace
