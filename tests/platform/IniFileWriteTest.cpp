// Settings written whole: a batch of values lands in one replacement of the file, or not at all,
// on real files, links, FIFOs and a write cut short by the file-size limit in a child process.
#include "../support/TempDir.h"
#include "../support/Unwritable.h"
#include "IniFiles.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class IniFileWriteTest : public testing::Test {
protected:
    IniFileWriteTest() : dir_(scratch_.Path()), path_(scratch_ / "kabinex.ini") {}

    static void Put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Only the settings file itself: no temporary file may be left beside it.
    std::vector<std::string> DirNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Refused(const std::string& path) const { return "nach " + path + " kann nicht geschrieben werden"; }
    void ExpectRefused(TIniFile& ini, const std::vector<TIniValue>& values) const
    {
        try {
            ini.WriteValues(values);
            ADD_FAILURE() << "the write was accepted";
        } catch (const Exception& error) {
            EXPECT_EQ(error.what(), Refused(ini.FileName()));
        }
    }

    TempDir scratch_;
    std::string dir_;
    std::string path_;
};

const std::vector<TIniValue> ExitValues = {
    {"path", "emudir", "/home/ana/mave/"}, {"path", "zipdir", "<No tiene soporte ZIP!>"},
    {"options", "enablejoystick", "1"},    {"options", "nosound", "0"},
    {"options", "altfmbase", "0"},         {"options", "noscanlines", "1"},
    {"options", "vsync", "0"},             {"options", "frameskip", "1"},
};

TEST_F(IniFileWriteTest, ABatchGivesTheBytesOfTheSameWritesOneByOne)
{
    const std::vector<std::string> files = {
        "",
        "[path]\r\nemudir = 'C:\\OLD\\'  \r\n; note\r\n[games]\r\nninja=Ninja",
        "[options]\nnosound=1\n[path]\nzipdir=/z/\n[games]\nzeta=Z\n[OPTIONS]\nvsync=1\n",
        "[path]\nemudir=\n[options]\n[games]\nninja=Ninja\n",
        "\xEF\xBB\xBF[games]\nmotos=Espa\xF1" "a\n",
    };
    std::vector<TIniValue> values = ExitValues;
    values.push_back({"options", "VSYNC", "9"}); // the same key again: the later value wins
    values.push_back({"extra", "key", "/home/日本/"});
    for (const std::string& file : files) {
        Put(path_, file);
        TIniFile(path_).WriteValues(values);
        const std::string batch = Get(path_);

        Put(path_, file);
        TIniFile single(path_);
        for (const TIniValue& v : values)
            single.WriteString(v.section, v.key, v.value);
        EXPECT_EQ(batch, Get(path_)) << file;
        EXPECT_EQ(DirNames(), std::vector<std::string>{"kabinex.ini"});
    }

    Put(path_, "[options]\nvsync=1\n[games]\nninja=Ninja\n");
    TIniFile(path_).WriteValues({{"options", "nosound", "1"}, {"path", "emudir", "."}, {"options", "vsync", "0"},
                                 {"path", "zipdir", "z"}, {"options", "frameskip", "1"}});
    EXPECT_EQ(Get(path_), "[options]\nvsync=0\nnosound=1\nframeskip=1\n[games]\nninja=Ninja\n"
                          "[path]\nemudir=.\nzipdir=z\n");
}

TEST_F(IniFileWriteTest, NothingChangedWritesNothing)
{
    Put(path_, "[path]\nemudir=.\n");
    const auto before = fs::last_write_time(path_);
    TIniFile ini(path_);
    ini.WriteValues({{"path", "emudir", "."}, {"path", "emudir", "/other/"}, {"path", "emudir", "."}});
    EXPECT_EQ(Get(path_), "[path]\nemudir=.\n");
    EXPECT_EQ(fs::last_write_time(path_), before);
}

TEST_F(IniFileWriteTest, OneUnstorableValueRefusesTheWholeBatch)
{
    Put(path_, "[path]\nemudir=.\n");
    TIniFile ini(path_);
    ExpectRefused(ini, {{"path", "emudir", "/new/"}, {"path", "zipdir", "a\nb"}});
    EXPECT_EQ(Get(path_), "[path]\nemudir=.\n");
}

// A write cut short by the file-size limit (in a child, so the limit stays there). Ignoring
// SIGXFSZ, as the program does, the write fails and says so; killed by it, the old file stays too.
TEST_F(IniFileWriteTest, AWriteCutShortLeavesTheOldFileByteForByte)
{
    std::string old = "[path]\nemudir=/old/\n[options]\nvsync=1\n[games]\n";
    for (int i = 0; i < 4000; ++i)
        old += "game" + std::to_string(i) + "=Game number " + std::to_string(i) + "\n";
    for (const bool ignoreSignal : {true, false}) {
        Put(path_, old);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            if (ignoreSignal)
                std::signal(SIGXFSZ, SIG_IGN);
            try {
                TIniFile(path_).WriteValues(ExitValues);
            } catch (const Exception& error) {
                _exit(error.what() == Refused(path_) ? 3 : 4);
            }
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (ignoreSignal) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
            EXPECT_EQ(DirNames(), std::vector<std::string>{"kabinex.ini"});
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        }
        EXPECT_EQ(Get(path_), old);
        EXPECT_EQ(TIniFile(path_).ReadString("path", "emudir", ""), "/old/");
    }
}

TEST_F(IniFileWriteTest, ThroughALinkTheTargetIsWrittenAndTheLinkStays)
{
    fs::create_directories(dir_ + "/real");
    Put(dir_ + "/real/settings.ini", "[path]\nemudir=.\n");
    fs::create_symlink("real/settings.ini", dir_ + "/middle.ini");
    fs::create_symlink("middle.ini", path_); // a chain of relative links
    TIniFile ini(path_);
    ini.WriteValues({{"path", "emudir", "/new/"}});
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_TRUE(fs::is_symlink(dir_ + "/middle.ini"));
    EXPECT_EQ(Get(dir_ + "/real/settings.ini"), "[path]\nemudir=/new/\n");
    EXPECT_EQ(ini.ReadString("path", "emudir", ""), "/new/");

    // A dangling link: writing creates its target, as writing through it would.
    fs::remove(dir_ + "/real/settings.ini");
    ini.WriteValues({{"path", "emudir", "/again/"}});
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(Get(dir_ + "/real/settings.ini"), "[path]\nemudir=/again/\n");

    fs::remove(path_);
    fs::create_symlink("kabinex.ini", path_); // a link to itself
    ExpectRefused(ini, {{"path", "emudir", "/x/"}});
}

TEST_F(IniFileWriteTest, NoRegularFileIsNeverReadNorReplaced)
{
    ASSERT_EQ(mkfifo(path_.c_str(), 0644), 0);
    TIniFile fifo(path_);
    EXPECT_EQ(fifo.ReadString("path", "emudir", "."), "."); // returns at once, with no writer
    ExpectRefused(fifo, ExitValues);
    EXPECT_TRUE(fs::is_fifo(path_));

    const std::string zero = dir_ + "/zero.ini";
    fs::create_symlink("/dev/zero", zero);
    TIniFile device(zero);
    EXPECT_EQ(device.ReadString("path", "emudir", "."), ".");
    ExpectRefused(device, ExitValues);
    EXPECT_TRUE(fs::is_symlink(zero));
}

TEST_F(IniFileWriteTest, PermissionsAndUmaskAreKept)
{
    Put(path_, "[path]\nemudir=.\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    TIniFile(path_).WriteValues(ExitValues);
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    fs::remove(path_);
    const mode_t previous = ::umask(027);
    TIniFile(path_).WriteValues(ExitValues);
    ::umask(previous);
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(IniFileWriteTest, ADirectoryThatRefusesTheTemporaryFileLeavesTheFileAsItWas)
{
    Put(path_, "[path]\nemudir=.\n");
    {
        // Root creates files in any directory but an immutable one.
        const bool root = geteuid() == 0;
        std::optional<TUnwritableFile> immutable;
        if (root)
            immutable.emplace(dir_);
        else
            ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
        if (root && !immutable->Done())
            GTEST_SKIP() << "the file system has no immutable flag";
        TIniFile ini(path_);
        ExpectRefused(ini, ExitValues);
        if (!root)
            ::chmod(dir_.c_str(), 0755);
    }
    EXPECT_EQ(Get(path_), "[path]\nemudir=.\n");
}

// A byte-order mark is no text, whatever the rest is; it stays at the front when written back.
TEST_F(IniFileWriteTest, AByteOrderMarkIsSkippedInEitherEncodingAndKept)
{
    Put(path_, "\xEF\xBB\xBF[path]\r\nemudir=C:\\M\xC1VE\\\r\n[games]\r\nmotos=Espa\xF1" "a\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("path", "emudir", ""), "C:\\MÁVE\\");
    EXPECT_EQ(ini.ReadSection("games"), std::vector<std::string>{"motos"});
    ini.WriteValues({{"path", "emudir", "/home/josé/"}});
    EXPECT_EQ(Get(path_), "\xEF\xBB\xBF[path]\r\nemudir=/home/jos\xE9/\r\n[games]\r\nmotos=Espa\xF1" "a\r\n");

    // Text Windows-1252 cannot hold turns the file into UTF-8; the mark is still there once.
    ini.WriteValues({{"path", "emudir", "/home/日本/"}});
    EXPECT_EQ(Get(path_), "\xEF\xBB\xBF[path]\r\nemudir=/home/日本/\r\n[games]\r\nmotos=España\r\n");
    EXPECT_EQ(TIniFile(path_).ReadString("games", "motos", ""), "España");
}

} // namespace
