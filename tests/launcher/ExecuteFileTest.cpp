// ExecuteFile with the stand-in emulator (build/mave) and real shell scripts.
#include "FmxUtils.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ExecuteFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kbx-execute-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        record_ = dir_ + "/record.txt";
        setenv("MAVE_STANDIN_RECORD", record_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("MAVE_STANDIN_RECORD");
        fs::remove_all(dir_);
    }

    // An emulator directory holding the stand-in as "mave".
    std::string EmulatorDir(const std::string& name) const
    {
        const std::string emulator = dir_ + "/" + name;
        fs::create_directories(emulator);
        fs::copy_file(KABINEX_BINARY_DIR "/mave", emulator + "/mave");
        return emulator;
    }

    static int WaitForFinished(TChildProcess& child)
    {
        QEventLoop loop;
        QObject::connect(&child, &TChildProcess::Finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit); // hang guard, not a time limit
        if (child.Running())
            loop.exec();
        EXPECT_FALSE(child.Running());
        return child.ExitStatus();
    }

    std::string dir_;
    std::string record_;
};

TEST_F(ExecuteFileTest, StartsTheEmulatorInItsDirectoryWithEachParameterWhole)
{
    const std::string emulator =
        EmulatorDir("MAVE dir 'quoted' \"double\" $HOME; echo x -- and enough more text to pass eighty characters");
    ASSERT_GT(emulator.size(), 79u);
    const std::vector<std::string> parameters = {"ninja", "-j", "-s", "-a", "-n", "-v", "-f", "a b",
                                                 "tab\there", "back\\slash", "$(id)", std::string(200, 'n')};
    int error = -1;
    auto child = ExecuteFile("mave", parameters, emulator, TShowState::Normal, &error);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(WaitForFinished(*child), 0);

    std::string expected = fs::canonical(emulator).string();
    for (const std::string& parameter : parameters)
        expected += "\t" + parameter;
    expected.replace(expected.find("tab\there"), 8, "tab\\there");
    expected.replace(expected.find("back\\slash"), 10, "back\\\\slash");
    EXPECT_EQ(ReadFile(record_), expected + "\n");
}

TEST_F(ExecuteFileTest, RelativeEmulatorDirectoryIsTakenFromTheLaunchersDirectory)
{
    EmulatorDir("emulator");
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    auto child = ExecuteFile("mave", {"ninja"}, "emulator/", TShowState::Hidden);
    fs::current_path(before);
    ASSERT_NE(child, nullptr);
    WaitForFinished(*child);
    EXPECT_EQ(ReadFile(record_), fs::canonical(dir_ + "/emulator").string() + "\tninja\n");
}

TEST_F(ExecuteFileTest, AMissingOrNonExecutableProgramIsAStartFailure)
{
    const std::string empty = dir_ + "/empty";
    fs::create_directory(empty);
    int error = 0;
    EXPECT_EQ(ExecuteFile("mave", {"ninja"}, empty, TShowState::Normal, &error), nullptr);
    EXPECT_EQ(error, ENOENT);

    std::ofstream(empty + "/mave") << "not a program\n";
    fs::permissions(empty + "/mave", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ExecuteFile("mave", {"ninja"}, empty, TShowState::Normal, &error), nullptr);
    EXPECT_EQ(error, EACCES);

    // Never another program of that name from the search path.
    EXPECT_EQ(ExecuteFile("sh", {"-c", "true"}, empty, TShowState::Hidden, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(fs::exists(record_));
}

TEST_F(ExecuteFileTest, BatchFilesRunThroughTheShellHidden)
{
    const std::string emulator = dir_ + "/emu dir $x";
    fs::create_directory(emulator);
    std::ofstream(emulator + "/lockfile.$$$") << "";
    std::ofstream(emulator + "/lockfile.bat") << "out=$(readlink /proc/$$/fd/1); { pwd -P; echo \"$out\"; } > 'where.txt'\n"
                                                 "rm -f 'lockfile.$$$'\n";
    auto child = ExecuteFile("lockfile.bat", {}, emulator, TShowState::Hidden);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(WaitForFinished(*child), 0);
    EXPECT_FALSE(fs::exists(emulator + "/lockfile.$$$"));
    EXPECT_EQ(ReadFile(emulator + "/where.txt"), fs::canonical(emulator).string() + "\n/dev/null\n");

    int error = 0;
    EXPECT_EQ(ExecuteFile("other.bat", {}, emulator, TShowState::Hidden, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST_F(ExecuteFileTest, StandInRecordsOneLinePerRunAndWaitsWhenAsked)
{
    const std::string emulator = EmulatorDir("emulator");
    setenv("MAVE_STANDIN_SECONDS", "0.2", 1);
    auto first = ExecuteFile("mave", {"ninja", "-j"}, emulator, TShowState::Normal);
    auto second = ExecuteFile("mave", {}, emulator, TShowState::Normal);
    unsetenv("MAVE_STANDIN_SECONDS");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    WaitForFinished(*first);
    WaitForFinished(*second);
    const std::string text = ReadFile(record_);
    const std::string cwd = fs::canonical(emulator).string();
    EXPECT_TRUE(text == cwd + "\tninja\t-j\n" + cwd + "\n" || text == cwd + "\n" + cwd + "\tninja\t-j\n") << text;
}

} // namespace
