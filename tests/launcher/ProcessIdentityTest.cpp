// Naming processes across Kabinex runs: a recorded process is found again only while it is the
// same process, and its end is seen even when it is no child of this one.
#include "ProcessIdentity.h"

#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
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

TEST(ProcessIdentityTest, SameProcessOnlyWhileItRuns)
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

TEST(ProcessIdentityTest, EndOfAProcessThatIsNoChild)
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

} // namespace
