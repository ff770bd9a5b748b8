// Real child processes started through the platform layer, watched on a real event loop.
#include "Process.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::ChildProcess;
using platform::StandardStreams;
using platform::StartDetached;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int OpenPidfdCount()
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        if (fs::read_symlink(entry.path(), ignored).string() == "anon_inode:[pidfd]")
            ++count;
    }
    return count;
}

// Runs the event loop until the file exists; the guard only keeps a broken test from hanging.
bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 6000 && !fs::exists(path); ++i)
        usleep(10000);
    return fs::exists(path);
}

class ProcessTest : public testing::Test {
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

    void SetUp() override
    {
        char pattern[] = "/tmp/kbx-process-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::unique_ptr<ChildProcess> Shell(const std::string& script, std::vector<std::string> arguments = {},
                                               const std::string& directory = {},
                                               StandardStreams streams = StandardStreams::Null)
    {
        arguments.insert(arguments.begin(), {"sh", "-c", script});
        int error = -1;
        auto child = StartDetached("/bin/sh", arguments, directory, streams, &error);
        EXPECT_EQ(error, 0);
        return child;
    }

    // Waits on the event loop until the process has been reported finished; its status.
    static int WaitForFinished(ChildProcess& child)
    {
        QEventLoop loop;
        QObject::connect(&child, &ChildProcess::Finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit); // hang guard, not a time limit
        if (child.Running())
            loop.exec();
        EXPECT_FALSE(child.Running());
        return child.ExitStatus();
    }

    std::string dir_;
};

TEST_F(ProcessTest, StartFailuresAreReportedAtOnce)
{
    const std::string script = dir_ + "/not-executable";
    std::ofstream(script) << "exit 0\n";
    struct Case {
        std::string path;
        std::string directory;
        int error;
    };
    for (const Case& c : {Case{dir_ + "/missing", "", ENOENT}, Case{script, "", EACCES}, Case{dir_, "", EACCES},
                          Case{"/bin/true", dir_ + "/no-such-dir", ENOENT}}) {
        int error = 0;
        EXPECT_EQ(StartDetached(c.path, {c.path}, c.directory, StandardStreams::Null, &error), nullptr) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
    EXPECT_EQ(OpenPidfdCount(), 0);
}

TEST_F(ProcessTest, ArgumentsAndDirectoryArriveWhole)
{
    const std::string directory = dir_ + "/a dir with 'quotes' \"double\" $HOME; rm -rf x `id` and a long tail of text";
    ASSERT_GT(directory.size(), 79u);
    fs::create_directory(directory);
    const std::string out = dir_ + "/out.txt";
    const std::vector<std::string> arguments = {"ninja", "two words", "'single'", "\"double\"", "$HOME",
                                                "; echo injected", "", std::string(300, 'x')};
    std::vector<std::string> shellArguments = {out};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());

    auto child = Shell("{ pwd -P; printf '%s\\n' \"$@\"; } > \"$0\"", shellArguments, directory);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(WaitForFinished(*child), 0);

    std::vector<std::string> expected = {fs::canonical(directory).string()};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(Lines(ReadFile(out)), expected);
}

TEST_F(ProcessTest, FinishedComesOnceWithTheStatusAndLeavesNothingBehind)
{
    int seven = 0;
    int sevenStatus = -1;
    auto child = Shell("exit 7");
    ASSERT_NE(child, nullptr);
    QObject::connect(child.get(), &ChildProcess::Finished, [&](int status) {
        ++seven;
        sevenStatus = status;
    });
    EXPECT_EQ(WaitForFinished(*child), 7);

    // A second process's whole run gives a repeated notice for the first every chance to show.
    auto killed = Shell("kill -TERM $$");
    ASSERT_NE(killed, nullptr);
    EXPECT_EQ(WaitForFinished(*killed), 128 + SIGTERM);

    EXPECT_EQ(seven, 1);
    EXPECT_EQ(sevenStatus, 7);
    siginfo_t info{};
    EXPECT_EQ(waitid(P_PID, static_cast<id_t>(child->Pid()), &info, WEXITED | WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD); // reaped: no zombie
    EXPECT_EQ(OpenPidfdCount(), 0);
}

TEST_F(ProcessTest, HasEndedAnswersWithoutTheEventLoopAndLeavesTheReapingToIt)
{
    const std::string go = dir_ + "/go";
    auto child = Shell("while [ ! -e \"$0\" ]; do sleep 0.05; done; exit 3", {go});
    ASSERT_NE(child, nullptr);
    EXPECT_FALSE(child->HasEnded());
    std::ofstream(go) << "";
    for (int i = 0; i < 6000 && !child->HasEnded(); ++i) // hang guard only
        usleep(10000);
    EXPECT_TRUE(child->HasEnded());
    EXPECT_TRUE(child->Running()); // not yet reported
    EXPECT_EQ(WaitForFinished(*child), 3);
    EXPECT_TRUE(child->HasEnded());
}

TEST_F(ProcessTest, ReceiverMayDeleteTheProcessOnFinished)
{
    auto child = Shell("exit 0");
    ASSERT_NE(child, nullptr);
    QEventLoop loop;
    QObject::connect(child.get(), &ChildProcess::Finished, [&](int) {
        child.reset();
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(child, nullptr);
}

TEST_F(ProcessTest, NullStreamsLeaveTheProgramNoTerminalAndNothingInherited)
{
    const int leaked = ::open("/dev/zero", O_RDONLY); // deliberately without close-on-exec
    ASSERT_GE(leaked, 3);
    const std::string out = dir_ + "/fds.txt";
    auto child = Shell("a=$(readlink /proc/$$/fd/0); b=$(readlink /proc/$$/fd/1); c=$(readlink /proc/$$/fd/2);"
                       " n=$(readlink /proc/$$/fd/$1); s=$(cat /proc/$$/stat);"
                       " printf '%s\\n' \"$a\" \"$b\" \"$c\" \"$n\" \"$s\" > \"$0\"",
                       {out, std::to_string(leaked)});
    ::close(leaked);
    ASSERT_NE(child, nullptr);
    WaitForFinished(*child);

    const std::vector<std::string> lines = Lines(ReadFile(out));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "/dev/null");
    EXPECT_EQ(lines[1], "/dev/null");
    EXPECT_EQ(lines[2], "/dev/null");
    EXPECT_NE(lines[3], "/dev/zero"); // the descriptor left open by mistake did not follow

    // /proc/PID/stat: pid (comm) state ppid pgrp session tty_nr ...
    std::istringstream stat(lines[4].substr(lines[4].rfind(')') + 2));
    std::string state;
    long ppid = 0, group = 0, session = 0, tty = -1;
    stat >> state >> ppid >> group >> session >> tty;
    EXPECT_EQ(session, child->Pid()); // a session of its own
    EXPECT_EQ(tty, 0);                // and no terminal
}

TEST_F(ProcessTest, InheritedStreamsShareOutputButNotInput)
{
    const std::string out = dir_ + "/fds.txt";
    auto child = Shell("a=$(readlink /proc/$$/fd/0); b=$(readlink /proc/$$/fd/1); printf '%s\\n' \"$a\" \"$b\" > \"$0\"",
                       {out}, {}, StandardStreams::Inherit);
    ASSERT_NE(child, nullptr);
    WaitForFinished(*child);
    std::error_code ignored;
    EXPECT_EQ(Lines(ReadFile(out)),
              (std::vector<std::string>{"/dev/null", fs::read_symlink("/proc/self/fd/1", ignored).string()}));
}

TEST_F(ProcessTest, TheProgramOutlivesItsObjectAndIsStillReaped)
{
    const std::string go = dir_ + "/go";
    const std::string done = dir_ + "/done";
    // The result appears whole (written aside, then renamed), so seeing the file means reading it.
    auto child = Shell("while [ ! -e \"$0\" ]; do sleep 0.05; done; echo survived > \"$1.part\"; mv \"$1.part\" \"$1\"",
                       {go, done});
    ASSERT_NE(child, nullptr);
    const pid_t pid = child->Pid();
    child.reset();

    EXPECT_EQ(kill(pid, 0), 0); // still there
    std::ofstream(go) << "";
    ASSERT_TRUE(WaitForFile(done));
    EXPECT_EQ(Lines(ReadFile(done)), std::vector<std::string>{"survived"});

    // The background reaper collects it: its /proc entry goes away rather than staying a zombie.
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int i = 0; i < 6000 && fs::exists(proc); ++i)
        usleep(10000);
    EXPECT_FALSE(fs::exists(proc));
}

} // namespace
