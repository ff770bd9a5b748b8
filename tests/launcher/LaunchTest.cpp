// Launching games from the main window with real child processes: the stand-in emulator
// (build/mave, recording its runs), the real unzip tool, and ZIP archives made by the tests.
#include "Controls.h"
#include "LaunchFixture.h"
#include "Locks.h"
#include "Screen.h"
#include "Unwritable.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

TEST_F(LaunchTest, TheFourMessages)
{
    MakeZip("ninja", {"a", "b", "c", "d"});
    auto form = Start("nozip=No zip\nninja=Ninja\n");

    Launch(*form, 0);
    Launch(*form, 1);
    EXPECT_EQ(dialogs.messages, QStringList({QString::fromStdString(root.Path() + "/zips/nozip.no está el ZIP"),
                                             QString::fromStdString(root.Path() + "/zips/ninja.zip corrompido unzip no está!  ")}));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"a", "b", "c", "d"})) << "a short extraction stays";
    EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));

    form->ZipOpenButton->click(); // cancelled: ZIP support off
    Launch(*form, 1);
    EXPECT_EQ(dialogs.messages.last(), "Faltan ROMs!     ");

    form->MaveOpenButton->click(); // cancelled: no emulator directory
    Launch(*form, 1);
    EXPECT_EQ(dialogs.warnings, QStringList({"Use el botón Selec. para definirla ruta a MAVE   "}));
    EXPECT_EQ(Screen::Cursor(), TCursor::Default);
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(dialogs.busyCursors, std::vector<bool>(4, false)) << "no box shows under the hourglass";
    EXPECT_EQ(dialogs.captions, QStringList(4, "Kabinex")) << "not the extraction's caption";
}

TEST_F(LaunchTest, PresentGameStartsAtOnceWithTheSwitchesInTheirOrder)
{
    MakeGameFiles("ninja", 5);
    MakeZip("ninja", {"x1", "x2", "x3", "x4", "x5"});
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/ninja");
    for (QCheckBox* box : {form->CheckJoy, form->CheckNoSound, form->CheckFMBase, form->CheckNoScan, form->CheckVSync,
                           form->CheckFrameskip})
        box->setChecked(true);
    form->GameDescsDblClick();
    WaitUntilEnded(*form, emu + "/ninja");

    const std::vector<std::vector<std::string>> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{emu, "ninja"}));
    EXPECT_EQ(runs[1], (std::vector<std::string>{emu, "ninja", "-j", "-s", "-a", "-n", "-v", "-f"}));
    EXPECT_EQ(Entries("ninja").size(), 5u) << "nothing was extracted, nothing removed";
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(LaunchTest, ExtractRunAndTakeBackOnlyWhatTheExtractionPutThere)
{
    root.Write("emu/ninja/README.TXT", "mine");
    root.Write("emu/ninja/notes.txt", "mine too");
    root.MakeDir("emu/ninja/saves");
    MakeZip("ninja", {"readme.txt", "README.TXT", "ninja.mve", "NINJA.MVE", "HISCORES.DAT", "KEYDEF.DAT", "ninja.1",
                      "ninja.2", "notes.txt"});
    // The game writes a save state and changes one of the extracted files.
    setenv("MAVE_STANDIN_APPEND", "ninja/ninja.sta:ninja/ninja.2", 1);
    auto form = Start("ninja=Ninja\n", "[options]\nvsync=1\n");
    Launch(*form, 0);

    EXPECT_EQ(Entries("ninja").count("ninja.1"), 1u) << "extracted before the emulator ends";
    EXPECT_EQ(form->Caption(), "Kabinex");
    EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
    EXPECT_TRUE(form->Runs().CleanupPending(emu + "/ninja"));
    EXPECT_EQ(RecordFiles().size(), 1u) << "the pending clean-up is on disk";

    WaitUntilEnded(*form, emu + "/ninja");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0], (std::vector<std::string>{emu, "ninja", "-v"}));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"README.TXT", "notes.txt", "saves", "NINJA.MVE", "HISCORES.DAT",
                                                       "KEYDEF.DAT", "ninja.sta", "ninja.2"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/README.TXT"), "mine") << "never replaced by the archive's copy";
    EXPECT_EQ(ReadAll(emu + "/ninja/notes.txt"), "mine too");
    EXPECT_EQ(ReadAll(emu + "/ninja/ninja.2"), "ninja.2saved by mave\n");
    EXPECT_TRUE(RecordFiles().empty());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(LaunchTest, ShortGameDirectoryKeepsTheUsersFilesAndLinks)
{
    root.Write("emu/ninja/rom1", "patched by the user");
    fs::create_symlink(root / "outside", emu + "/ninja/rom2"); // dangling: unzip must not create its target
    MakeZip("ninja", {"rom1", "rom2", "rom3", "rom4", "rom5", "rom6"});
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/ninja");

    ASSERT_EQ(Runs().size(), 1u) << dialogs.messages.join('|').toStdString();
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"rom1", "rom2"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/rom1"), "patched by the user");
    EXPECT_TRUE(fs::is_symlink(emu + "/ninja/rom2"));
    EXPECT_FALSE(fs::exists(root / "outside"));
}

TEST_F(LaunchTest, UnzipFailuresAreReportedAndTheirFilesRemoved)
{
    const auto failedExtraction = [&](const std::string& tool) {
        return QString::fromStdString("No se pudo extraer " + root.Path() + "/zips/ninja.zip con " + tool + ".");
    };
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    auto form = Start("ninja=Ninja\n", "unzipper=no-such-unzip-tool\n");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages.last(), failedExtraction("no-such-unzip-tool"));

    form = Start("ninja=Ninja\n", "unzipper=exit 3 #\n");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages.last(), failedExtraction("exit 3 #"));

    // A CRC error in the last member: the others are on disk when unzip gives up.
    std::string bytes = ReadAll(root / "zips/ninja.zip");
    const std::size_t last = bytes.rfind(std::string("PK\3\4", 4));
    const auto extraLength = std::size_t(std::uint8_t(bytes[last + 28])) | std::size_t(std::uint8_t(bytes[last + 29])) << 8;
    bytes[last + 30 + 1 + extraLength] ^= 0x55; // its data follows the header, the name "e" and the extra field
    root.Write("zips/ninja.zip", bytes);
    form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages.last(), failedExtraction("unzip"));
    EXPECT_FALSE(fs::exists(emu + "/ninja")) << "what was extracted is removed";

    root.Write("zips/ninja.zip", "not an archive at all");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages.last(), failedExtraction("unzip"));

    EXPECT_EQ(dialogs.messages.size(), 4);
    EXPECT_EQ(dialogs.busyCursors, std::vector<bool>(4, false));
    EXPECT_EQ(dialogs.captions, QStringList(4, "Kabinex"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
    EXPECT_TRUE(RecordFiles().empty());
    EXPECT_TRUE(Runs().empty());
}

TEST_F(LaunchTest, ArchiveNameIsNoPattern)
{
    MakeZip("sf1", {"x1", "x2", "x3", "x4", "x5"});
    MakeZip("sf?", {"q1", "q2", "q3", "q4", "q5"});
    MakeZip("st[1", {"s1", "s2", "s3", "s4", "s5"});
    setenv("MAVE_STANDIN_UNTIL", (root / "game-over").c_str(), 1);
    auto form = Start("sf?=Question\nst[1=Bracket\n");
    Launch(*form, 0);
    Launch(*form, 1);
    EXPECT_EQ(Entries("sf?"), std::set<std::string>({"q1", "q2", "q3", "q4", "q5"}));
    EXPECT_EQ(Entries("st[1"), std::set<std::string>({"s1", "s2", "s3", "s4", "s5"}));
    root.Write("game-over", "");
    WaitUntilEnded(*form, emu + "/sf?");
    WaitUntilEnded(*form, emu + "/st[1");
    EXPECT_EQ(Runs().size(), 2u) << dialogs.messages.join('|').toStdString();
}

TEST_F(LaunchTest, LockAndScriptLinksAreReplacedNotFollowed)
{
    root.Write("victim.txt", "precious");
    fs::create_symlink(root / "victim.txt", emu + "/lockfile.bat");
    fs::create_symlink(root / "victim2.txt", emu + "/lockfile.$$$");
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_EQ(Runs().size(), 1u) << dialogs.messages.join('|').toStdString();
    EXPECT_EQ(ReadAll(root / "victim.txt"), "precious");
    EXPECT_FALSE(fs::exists(root / "victim2.txt"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(emu + "/lockfile.bat")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(emu + "/lockfile.$$$")));
}

// Records cannot be written (here the state directory lies under a file): a zipped game is
// refused with one message, an unpacked game starts, and says once why the missing records matter.
TEST_F(LaunchTest, ALockedDownCabinetPlaysTheUnpackedGames)
{
    root.Write("state-is-a-file", "");
    setenv("XDG_STATE_HOME", (root / "state-is-a-file").c_str(), 1);
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    MakeGameFiles("pulsar", 5);
    auto form = Start("ninja=Ninja\npulsar=Pulsar\n");
    const QString reason = QString::fromStdString("Kabinex no puede registrar los lanzamientos porque no puede escribir en " +
                                                  root / "state-is-a-file/kabinex.");
    for (int round = 0; round < 2; ++round) {
        Launch(*form, 0);
        Launch(*form, 1);
        WaitUntilEnded(*form, emu + "/pulsar");
    }
    EXPECT_FALSE(dialogs.errors.join('|').contains("state-is-a-file")) << "not in the error box as well";
    ASSERT_EQ(dialogs.messages.size(), 3) << "each refusal, and the notice once";
    EXPECT_TRUE(dialogs.messages[0].startsWith("No se puede extraer ninja: " + reason)) << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[1].startsWith(reason)) << dialogs.messages[1].toStdString();
    EXPECT_TRUE(dialogs.messages[1].endsWith(" Los juegos ya descomprimidos se inician; los que están en un ZIP, no."));
    EXPECT_EQ(dialogs.messages[2], dialogs.messages[0]);
    EXPECT_EQ(Runs(), (std::vector<std::vector<std::string>>(2, {emu, "pulsar"})));
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
    EXPECT_EQ(Entries("pulsar").size(), 5u);
    EXPECT_EQ(form->Caption(), "Kabinex");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A game's processes hold its directory shared while they run; a clean-up holds back while
// another holds it so (a game another Kabinex could not record), and runs once it is free.
TEST_F(LaunchTest, TheGamesDirectoryIsHeldWhileItRuns)
{
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    const std::string gameOver = root / "game-over";
    setenv("MAVE_STANDIN_UNTIL", gameOver.c_str(), 1);
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_EQ(form->Runs().Running(emu + "/ninja"), 1);
    EXPECT_EQ(platform::TDirectoryLock::Take(emu + "/ninja", platform::TLockKind::Exclusive).State(),
              platform::TDirectoryLock::TState::Refused)
        << "the emulator holds it, not Kabinex";
    {
        const platform::TDirectoryLock elsewhere = platform::TDirectoryLock::Take(emu + "/ninja", platform::TLockKind::Shared);
        ASSERT_TRUE(elsewhere.Held());
        root.Write("game-over", "");
        WaitUntilEnded(*form, emu + "/ninja");
        EXPECT_TRUE(form->Runs().CleanupPending(emu + "/ninja"));
        EXPECT_EQ(Entries("ninja").size(), 5u) << "held back";
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Runs().CleanupPending(emu + "/ninja"); }, 30000));
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
    EXPECT_TRUE(RecordFiles().empty());
}

TEST_F(LaunchTest, EmulatorThatCannotStartIsReportedAndTheExtractionUndone)
{
    fs::remove(emu + "/mave");
    root.Write("emu/ninja/HISCORES.DAT", "scores");
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0], QString::fromStdString("No se pudo iniciar el emulador " + emu + "/mave: no existe."));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"HISCORES.DAT"}));
}

TEST_F(LaunchTest, CleanUpsAreTrackedPerLaunch)
{
    MakeZip("ninja", {"n1", "n2", "n3", "n4", "n5"});
    MakeZip("canyon", {"c1", "c2", "c3", "c4", "c5"});
    MakeGameFiles("pulsar", 5);
    setenv("MAVE_STANDIN_SECONDS", "1.5", 1);
    auto form = Start("ninja=Ninja\ncanyon=Canyon\npulsar=Pulsar\n");
    Launch(*form, 0);
    setenv("MAVE_STANDIN_SECONDS", "0.2", 1);
    Launch(*form, 1);
    Launch(*form, 2); // no extraction: the pending clean-ups stay
    WaitUntilEnded(*form, emu + "/canyon");
    EXPECT_FALSE(fs::exists(emu + "/canyon")) << "the extraction made the directory, so it goes too";
    EXPECT_EQ(Entries("ninja").size(), 5u) << "its emulator still runs";

    // A second emulator on the same game keeps its files until both have ended.
    setenv("MAVE_STANDIN_SECONDS", "0.2", 1);
    Launch(*form, 0);
    EXPECT_EQ(form->Runs().Running(emu + "/ninja"), 2);
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
    EXPECT_EQ(Entries("pulsar").size(), 5u);
    EXPECT_EQ(Runs().size(), 4u);
}

TEST_F(LaunchTest, DirectoryNamesWithShellCharactersRunNothing)
{
    UseEmulatorDir("emu dir 'q' $HOME; touch pwned");
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/ninja");
    ASSERT_EQ(Runs().size(), 1u) << dialogs.messages.join('|').toStdString();
    EXPECT_EQ(Runs()[0], (std::vector<std::string>{emu, "ninja"}));
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
    EXPECT_FALSE(fs::exists(root / "prog/pwned"));
    EXPECT_FALSE(fs::exists(emu + "/pwned"));
}

TEST_F(LaunchTest, RelativeDirectoriesAreTakenFromTheProgramDirectory)
{
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    root.Write("prog/kabinex.ini", "[path]\nemudir=../emu/\nzipdir=../zips\n[games]\nninja=Ninja\n");
    CurrentDirScope here(root / "prog");
    TForm1 form;
    Launch(form, 0);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    WaitUntilEnded(form, root.Path() + "/prog/../emu/ninja");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0], (std::vector<std::string>{emu, "ninja"}));
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
}

TEST_F(LaunchTest, NameThatIsNoPlainFileNameIsRefused)
{
    MakeGameFiles("inner", 6);
    auto form = Start("../emu/inner=Escape\n");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages,
              QStringList({"El nombre de ROM \"../emu/inner\" no es un nombre de archivo válido."}));
    EXPECT_TRUE(Runs().empty());
}

// A collection copied from a machine whose file names ignore letter case.
TEST_F(LaunchTest, NamesInAnyLetterCase)
{
    fs::rename(emu + "/mave", emu + "/MAVE");
    for (int i = 0; i < 5; ++i)
        root.Write("emu/NINJA/ROM" + std::to_string(i), "rom");
    root.Write("emu/DRAGON/HISCORES.DAT", "scores");
    MakeZip("dragon", {"d1", "d2", "d3", "d4", "d5"});
    fs::rename(root / "zips/dragon.zip", root / "zips/dragon.ZIP");
    setenv("MAVE_STANDIN_APPEND", "DRAGON/dragon.sta", 1);
    auto form = Start("ninja=Ninja\ndragon=Dragón Dorado\n");

    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/NINJA");
    Launch(*form, 1);
    EXPECT_EQ(Entries("DRAGON"),
              std::set<std::string>({"HISCORES.DAT", "d1", "d2", "d3", "d4", "d5", "dragon.sta"}))
        << "extracted from the archive found, into the directory found";
    WaitUntilEnded(*form, emu + "/DRAGON");
    ASSERT_TRUE(QTest::qWaitFor([&] { return RecordFiles().empty(); }, 30000));

    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    const std::vector<std::vector<std::string>> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{emu, "ninja"})) << "the name as the settings give it";
    EXPECT_EQ(runs[1], (std::vector<std::string>{emu, "dragon"}));
    EXPECT_EQ(Entries("NINJA").size(), 5u);
    EXPECT_EQ(Entries("DRAGON"), std::set<std::string>({"HISCORES.DAT", "dragon.sta"})) << "cleaned up there";
    EXPECT_FALSE(fs::exists(emu + "/dragon"));
    form.reset(); // writes the settings back
    EXPECT_EQ(ReadAll(root / "prog/kabinex.ini").find("NINJA"), std::string::npos) << "names stay as written";
}

TEST_F(LaunchTest, AFileThatCannotBeWrittenIsNamed)
{
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    fs::create_directory(emu + "/lockfile.$$$");
    root.Write("emu/lockfile.$$$/inside", "");
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], QString::fromStdString("nach " + emu + "/lockfile.$$$ kann nicht geschrieben werden."));
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
    EXPECT_TRUE(RecordFiles().empty());
    for (const auto& entry : fs::directory_iterator(emu))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".kabinex-")) << entry.path();
    EXPECT_TRUE(Runs().empty());
}

// A move into the game's directory that the disk refuses is no damaged archive: the directory is
// named, and nothing of the extraction stays.
TEST_F(LaunchTest, ARefusedMoveNamesTheGamesDirectory)
{
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    root.Write("emu/ninja/mine", "the player's");
    const TUnwritableFile locked(emu + "/ninja");
    if (!locked.Done())
        GTEST_SKIP() << "the game's directory cannot be made unwritable here";
    auto form = Start("ninja=Ninja\n");
    Launch(*form, 0);
    EXPECT_EQ((dialogs.messages + dialogs.errors).join('|'),
              QString::fromStdString("nach " + emu + "/ninja kann nicht geschrieben werden."));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"mine"}));
    for (const auto& entry : fs::directory_iterator(emu))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".kabinex-")) << entry.path();
    EXPECT_TRUE(RecordFiles().empty());
    EXPECT_TRUE(Runs().empty());
}

// Archives as downloaded: their files in one folder start the game; folders only, or files that
// need a password, are said to be so, and nothing of them stays.
TEST_F(LaunchTest, ArchivesFromTheWild)
{
    const std::string zips = root.Path() + "/zips/";
    const struct {
        const char* game;
        std::vector<std::string> files;
        bool password;
        std::string message; // empty: the game starts
        std::set<std::string> left; // in the game's directory afterwards; nothing when it is gone
    } rows[] = {
        {"one", {"one/r1", "one/r2", "one/r3", "one/r4", "one/r5"}, false, "", {}},
        {"two", {"a/r1", "a/r2", "b/r3", "b/r4", "b/r5"}, false, zips + "two.zip no contiene los archivos de two: solo carpetas.", {}},
        {"deep", {"deep/roms/r1", "deep/roms/r2", "deep/roms/r3"}, false,
         zips + "deep.zip no contiene los archivos de deep: solo carpetas.", {}},
        {"pw", {"r1", "r2", "r3", "r4", "r5"}, true, "No se pudo extraer " + zips + "pw.zip: necesita una contraseña.", {}},
        // A folder beside a file is an ordinary short archive: it stays, as it came.
        {"mixed", {"mixed/r1", "readme"}, false, zips + "mixed.zip corrompido unzip no está!  ", {"mixed", "readme"}},
    };
    for (const auto& row : rows) {
        MakeZip(row.game, row.files);
        if (row.password) {
            fs::remove(zips + row.game + ".zip");
            const std::string zip = "cd '" + root.Path() + "/staging/" + row.game + "' && zip -q -r -P secret '" + zips
                + row.game + ".zip' .";
            ASSERT_EQ(std::system(zip.c_str()), 0);
        }
        auto form = Start(std::string(row.game) + "=Game\n");
        dialogs.messages.clear();
        Launch(*form, 0);
        EXPECT_EQ(dialogs.messages.join('|').toStdString(), row.message) << row.game;
        if (row.message.empty()) {
            EXPECT_EQ(Entries(row.game), std::set<std::string>({"r1", "r2", "r3", "r4", "r5"}));
            WaitUntilEnded(*form, emu + "/" + row.game);
        }
        if (row.left.empty())
            EXPECT_FALSE(fs::exists(emu + "/" + row.game)) << row.game;
        else
            EXPECT_EQ(Entries(row.game), row.left);
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(emu))
            if (entry.path().filename() != row.game)
                names.insert(entry.path().filename().string());
        EXPECT_EQ(names, std::set<std::string>({"mave"})) << row.game << ": no private directory, lock or script";
        EXPECT_TRUE(RecordFiles().empty()) << row.game;
    }
    EXPECT_EQ(Runs().size(), 1u);
}

} // namespace

namespace {

// What the window shows for each way a launch can end.
TEST(LaunchOutcomeTest, RefusalsShowAsWordedFailuresInTheErrorBox)
{
    const struct {
        TLaunchOutcome outcome;
        TNoticeBox box;
        QString text;
    } rows[] = {
        {{TLaunchEnd::Started, {}}, TNoticeBox::None, {}},
        {{TLaunchEnd::Started, "Kabinex no puede registrar"}, TNoticeBox::Message, "Kabinex no puede registrar"},
        {{TLaunchEnd::Cancelled, {}}, TNoticeBox::None, {}},
        {{TLaunchEnd::Refused, "Faltan ROMs!     "}, TNoticeBox::Message, "Faltan ROMs!     "},
        {{TLaunchEnd::Refused, "nach /s/x kann nicht geschrieben werden"}, TNoticeBox::Message,
         "nach /s/x kann nicht geschrieben werden"},
        {{TLaunchEnd::Failed, "nach /s/x kann nicht geschrieben werden"}, TNoticeBox::Error,
         "nach /s/x kann nicht geschrieben werden."},
        {{TLaunchEnd::Failed, "Sin espacio."}, TNoticeBox::Error, "Sin espacio."},
        {{TLaunchEnd::Refused, "Pingüino"}, TNoticeBox::Message, "Pingüino"},
    };
    for (const auto& row : rows) {
        const TLaunchNotice notice = NoticeFor(row.outcome);
        EXPECT_EQ(notice.box, row.box) << row.outcome.message;
        EXPECT_EQ(notice.text, row.text) << row.outcome.message;
    }
}

} // namespace
