// Launches on the disks collections really live on, each a real mount made for the test: the
// emulator and ZIP directories and the program directory on NTFS (ntfs-3g), exFAT (exfat-fuse),
// FAT32 (fusefat), ext4 and tmpfs; a read-only squashfs emulator directory; an archive whose files
// sit in one folder. Real unzip, the stand-in emulator, the settings written at exit.
#include "../launcher/LaunchFixture.h"
#include "CleanupRecord.h"
#include "Files.h"
#include "MountedFileSystem.h"

#include <fcntl.h>

#include <QCheckBox>
#include <cctype>

namespace {

class FileSystemTest : public LaunchTest {
protected:
    void TearDown() override
    {
        LaunchTest::TearDown();
        unsetenv("MAVE_STANDIN_UNTIL");
        disk_.reset(); // nothing of the test may still use it
    }

    // Mounts the kind and puts the emulator directory on it; false (the test skips) when refused.
    bool UseDisk(const std::string& kind, const std::string& source = "")
    {
        disk_ = std::make_unique<TMountedFileSystem>(kind, source);
        if (!disk_->Mounted())
            return false;
        if (kind != "squashfs") {
            emu = *disk_ / "emu";
            CopyFile(KABINEX_BINARY_DIR "/mave", emu + "/mave");
        }
        return true;
    }

    // fusefat refuses fchmod, which std::filesystem::copy_file needs; a plain copy keeps the mode
    // where the disk keeps one.
    static void CopyFile(const std::string& from, const std::string& to)
    {
        fs::create_directories(fs::path(to).parent_path());
        std::ofstream(to, std::ios::binary) << std::ifstream(from, std::ios::binary).rdbuf();
        std::error_code ignored;
        fs::permissions(to, fs::status(from).permissions(), ignored);
    }
    const TMountedFileSystem& Disk() const { return *disk_; }

    // An archive made by MakeZip, moved to the given ZIP directory.
    void PutZip(const std::string& game, const std::vector<std::string>& files, const std::string& zipDir)
    {
        MakeZip(game, files);
        CopyFile(root / ("zips/" + game + ".zip"), zipDir + "/" + game + ".zip");
    }

    // The main window started in progDir, whose settings file has the given name.
    std::unique_ptr<TForm1> StartIn(const std::string& progDir, const std::string& settingsName,
                                    const std::string& zipDir, const std::string& games)
    {
        // The picture shown for a game without one: its absence would be an error box of its own.
        CopyFile(KABINEX_SOURCE_DIR "/demo/scrshots/notavail.gif", progDir + "/scrshots/notavail.gif");
        std::ofstream(progDir + "/" + settingsName, std::ios::binary)
            << "[path]\nemudir=" + emu + "/\nzipdir=" + zipDir + "/\n[options]\nvsync=0\n[games]\n" + games;
        CurrentDirScope here(progDir);
        auto form = std::make_unique<TForm1>();
        dialogs.form = form.get();
        return form;
    }

    static std::set<std::string> Names(const std::string& dir)
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.insert(entry.path().filename().string());
        return names;
    }

    // The text names the directory, and nothing below it (a trailing separator or full stop aside).
    static bool NamesOnly(const std::string& text, const std::string& dir)
    {
        bool named = false;
        for (std::size_t at = text.find(dir); at != std::string::npos; at = text.find(dir, at + 1)) {
            std::size_t next = at + dir.size();
            next += text.compare(next, 1, "/") == 0;
            next += text.compare(next, 1, ".") == 0;
            if (next < text.size() && (std::isalnum(static_cast<unsigned char>(text[next])) || text[next] == '_'))
                return false;
            named = true;
        }
        return named;
    }

    // The stand-in plays until EndTheGame, so the test sees the game's directory during the game.
    // Nothing between the two may end the test early.
    void HoldTheGame() const { setenv("MAVE_STANDIN_UNTIL", (root / "game-over").c_str(), 1); }
    void EndTheGame() const { root.Write("game-over", ""); }

    // As memory pressure would: exfat-fuse and fusefat number a file afresh at its next lookup, so
    // an identity taken before is not the one the clean-up sees.
    static void ForgetCachedNodes()
    {
        ::sync();
        std::ofstream("/proc/sys/vm/drop_caches") << "2\n";
    }

    std::string Messages() const { return (dialogs.messages + dialogs.errors).join(" | ").toStdString(); }

    std::unique_ptr<TMountedFileSystem> disk_;
};

struct TDisk {
    const char* kind;
    const char* settingsName; // as the player's copy from DOS or Windows names it
};
void PrintTo(const TDisk& disk, std::ostream* out) { *out << disk.kind << " with " << disk.settingsName; }

class EveryDiskTest : public FileSystemTest, public testing::WithParamInterface<TDisk> {};

// Brought in, played, taken back: exactly the archive's files go, the player's own stay, and the
// settings written at exit keep their file's name.
TEST_P(EveryDiskTest, ZippedGameRunsAndOnlyWhatItBroughtGoes)
{
    if (!UseDisk(GetParam().kind))
        GTEST_SKIP() << Disk().Refusal();
    HoldTheGame();
    setenv("MAVE_STANDIN_APPEND", "ninja/ninja.sta", 1);
    fs::create_directories(emu + "/ninja");
    std::ofstream(emu + "/ninja/README.TXT") << "mine";
    std::ofstream(emu + "/ninja/HISCORES.DAT") << "my scores";
    PutZip("ninja", {"ninja.1", "ninja.2", "ninja.3", "ninja.4", "ninja.5", "ninja.6", "README.TXT"}, Disk() / "zips");
    const std::string prog = Disk() / "prog";
    auto form = StartIn(prog, GetParam().settingsName, Disk() / "zips", "ninja=Ninja\n");
    Launch(*form, 0);

    EXPECT_EQ(Messages(), "");
    std::set<std::string> during = Entries("ninja");
    during.erase("ninja.sta"); // the game may have saved already
    EXPECT_EQ(during, std::set<std::string>({"README.TXT", "HISCORES.DAT", "ninja.1", "ninja.2", "ninja.3", "ninja.4",
                                             "ninja.5", "ninja.6"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/README.TXT"), "mine") << "never replaced by the archive's copy";
    EndTheGame();
    ForgetCachedNodes();
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_EQ(Runs(), (std::vector<std::vector<std::string>>{{emu, "ninja"}}));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"README.TXT", "HISCORES.DAT", "ninja.sta"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/HISCORES.DAT"), "my scores");
    EXPECT_EQ(Names(emu), std::set<std::string>({"mave", "ninja"})) << "no private directory, lock or script left";
    EXPECT_TRUE(RecordFiles().empty());

    form->CheckVSync->setChecked(true);
    dialogs.messages.clear();
    form.reset(); // the settings are written at exit
    EXPECT_EQ(Names(prog), std::set<std::string>({GetParam().settingsName, "scrshots"}));
    EXPECT_NE(ReadAll(prog + "/" + GetParam().settingsName).find("vsync=1"), std::string::npos);
    EXPECT_EQ(Messages(), "");
}

INSTANTIATE_TEST_SUITE_P(Disks, EveryDiskTest,
                         testing::Values(TDisk{"ntfs", "kabinex.ini"}, TDisk{"exfat", "KABINEX.INI"},
                                         TDisk{"fat32", "KABINEX.INI"}, TDisk{"ext4", "kabinex.ini"},
                                         TDisk{"tmpfs", "kabinex.ini"}),
                         [](const testing::TestParamInfo<TDisk>& info) { return std::string(info.param.kind); });

class PutBackTest : public FileSystemTest, public testing::WithParamInterface<const char*> {};

// Kabinex ended while the game ran, and the stick was pulled and put back before the next start:
// exFAT and FAT number every file afresh, and still exactly what was brought in goes.
TEST_P(PutBackTest, TheNextStartTakesBackWhatWasBroughtIn)
{
    if (!UseDisk(GetParam()))
        GTEST_SKIP() << Disk().Refusal();
    HoldTheGame();
    setenv("MAVE_STANDIN_APPEND", "ninja/ninja.sta", 1);
    fs::create_directories(emu + "/ninja");
    std::ofstream(emu + "/ninja/README.TXT") << "mine";
    std::ofstream(emu + "/ninja/ninja.7") << "my own ROM";
    PutZip("ninja", {"ninja.1", "ninja.2", "ninja.3", "ninja.4", "ninja.5", "ninja.6", "README.TXT"}, Disk() / "zips");
    auto form = StartIn(Disk() / "prog", "kabinex.ini", Disk() / "zips", "ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_EQ(Messages(), "");
    form.reset(); // the game plays on
    ASSERT_EQ(RecordFiles().size(), 1u);
    std::optional<TCleanupRecord> record = LoadCleanupRecord(RecordFiles()[0]).record;
    ASSERT_TRUE(record && record->processes.size() == 1);
    EndTheGame();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !record->processes[0].IsRunning(); }, 30000));
    record->owner.startTicks += 1; // a Kabinex that has ended
    SaveCleanupRecord(RecordFiles()[0], *record);

    ASSERT_TRUE(disk_->Remount());
    ForgetCachedNodes();
    form = StartIn(Disk() / "prog", "kabinex.ini", Disk() / "zips", "ninja=Ninja\n");
    form->Runs().ResumeRecorded();
    ASSERT_TRUE(QTest::qWaitFor([&] { return RecordFiles().empty(); }, 30000));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"README.TXT", "ninja.7", "ninja.sta"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/ninja.7"), "my own ROM");
    EXPECT_EQ(Messages(), "");
}

INSTANTIATE_TEST_SUITE_P(Disks, PutBackTest, testing::Values("ntfs", "exfat", "fat32", "ext4"));

// On every disk the move in never replaces, in any letter case where the disk is blind to it;
// a folder keeps what it holds, a file its time.
TEST_P(PutBackTest, MoveWithoutReplacing)
{
    if (!UseDisk(GetParam()))
        GTEST_SKIP() << Disk().Refusal();
    const std::string from = Disk() / "from", into = Disk() / "into";
    for (const char* name : {"taken", "Other", "free", "folder/a", "folder/deeper/b"})
        CopyFile(KABINEX_SOURCE_DIR "/demo/scrshots/notavail.gif", from + "/" + name);
    // Both times given: the FUSE file systems here take no UTIME_OMIT.
    const timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (from + "/free").c_str(), old, 0), 0);
    fs::create_directories(into);
    std::ofstream(into + "/taken") << "the player's";
    std::ofstream(into + "/OTHER") << "the player's";
    const platform::TDirectory source = platform::TDirectory::Open(from), target = platform::TDirectory::Open(into);

    EXPECT_FALSE(source.MoveWithoutReplacing("taken", target));
    EXPECT_EQ(errno, EEXIST);
    const bool caseBlind = fs::exists(into + "/other");
    EXPECT_EQ(source.MoveWithoutReplacing("Other", target), !caseBlind);
    EXPECT_TRUE(source.MoveWithoutReplacing("free", target));
    EXPECT_TRUE(source.MoveWithoutReplacing("folder", target));
    ForgetCachedNodes();
    EXPECT_EQ(ReadAll(into + "/taken"), "the player's");
    EXPECT_EQ(ReadAll(into + "/OTHER"), "the player's");
    struct stat moved {};
    ASSERT_EQ(stat((into + "/free").c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mtim.tv_sec, 1500000000) << "the time it came with";
    EXPECT_TRUE(fs::exists(into + "/folder/a"));
    EXPECT_TRUE(fs::exists(into + "/folder/deeper/b"));
    EXPECT_FALSE(fs::exists(from + "/folder"));
    EXPECT_FALSE(fs::exists(from + "/free"));
}

// A collection on read-only media: a zipped game cannot be brought in, and the message names the
// emulator directory the user chose; an unpacked game plays.
TEST_F(FileSystemTest, ReadOnlyEmulatorDirectory)
{
    TempDir image;
    CopyFile(KABINEX_BINARY_DIR "/mave", image / "emu/mave");
    for (const char* rom : {"galaga.1", "galaga.2", "galaga.3", "galaga.4", "galaga.5"})
        image.Write(std::string("emu/galaga/") + rom, rom);
    if (!UseDisk("squashfs", image.Path()))
        GTEST_SKIP() << Disk().Refusal();
    emu = Disk() / "emu";
    PutZip("ninja", {"ninja.1", "ninja.2", "ninja.3", "ninja.4", "ninja.5"}, root / "archives");
    auto form = StartIn(root / "prog", "kabinex.ini", root / "archives", "galaga=Galaga\nninja=Ninja\n");

    Launch(*form, 1);
    const auto shown = dialogs.messages.size() + dialogs.errors.size();
    EXPECT_EQ(shown, 1) << "one failure, one message: " << Messages();
    EXPECT_TRUE(NamesOnly(Messages(), emu)) << Messages();

    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/galaga");
    EXPECT_EQ(Runs(), (std::vector<std::vector<std::string>>{{emu, "galaga"}}));
    EXPECT_EQ(dialogs.messages.size() + dialogs.errors.size(), shown) << Messages();
}

} // namespace
