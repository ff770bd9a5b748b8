// Launching games from the main window with real child processes: the stand-in emulator
// (build/mave, recording its runs), the real unzip tool, and ZIP archives made by the tests.
#include "Controls.h"
#include "Screen.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class LaunchTest : public testing::Test {
protected:
    void SetUp() override
    {
        record = root / "record.txt";
        setenv("MAVE_STANDIN_RECORD", record.c_str(), 1);
        setenv("MAVE_STANDIN_SECONDS", "0.3", 1);
        UseEmulatorDir("emu");
    }
    void TearDown() override
    {
        unsetenv("MAVE_STANDIN_RECORD");
        unsetenv("MAVE_STANDIN_SECONDS");
    }

    void UseEmulatorDir(const std::string& relative)
    {
        emu = root.MakeDir(relative);
        fs::copy_file(KABINEX_BINARY_DIR "/mave", emu + "/mave", fs::copy_options::overwrite_existing);
    }

    std::unique_ptr<TForm1> Start(const std::string& games, const std::string& extra = "")
    {
        root.Write("prog/kabinex.ini", "[path]\nemudir=" + emu + "/\nzipdir=" + root.Path() + "/zips/\n" + extra +
                                           "[games]\n" + games);
        CurrentDirScope here(root / "prog");
        return std::make_unique<TForm1>();
    }

    // An archive holding the named files (each with its own name as content).
    void MakeZip(const std::string& game, const std::vector<std::string>& files)
    {
        const std::string staging = root.MakeDir("staging/" + game);
        std::string command = "cd '" + staging + "' && zip -q '" + root.Path() + "/zips/" + game + ".zip'";
        for (const std::string& file : files) {
            root.Write("staging/" + game + "/" + file, file);
            command += " '" + file + "'";
        }
        root.MakeDir("zips");
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    void MakeGameFiles(const std::string& game, int count)
    {
        for (int i = 0; i < count; ++i)
            root.Write(fs::path(emu).lexically_relative(root.Path()).string() + "/" + game + "/rom" +
                           std::to_string(i),
                       "rom");
    }

    // Each run the stand-in recorded: its working directory, then its arguments.
    std::vector<std::vector<std::string>> Runs() const
    {
        std::vector<std::vector<std::string>> runs;
        std::istringstream lines(ReadAll(record));
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            for (std::string field; std::getline(parts, field, '\t');)
                fields.push_back(field);
            runs.push_back(fields);
        }
        return runs;
    }

    std::set<std::string> Entries(const std::string& game) const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(emu + "/" + game))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Waits (with a hang guard, not a time limit) until no emulator runs on the game.
    static void WaitUntilEnded(TForm1& form, const std::string& gameDir)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.Runs().Running(gameDir) == 0; }, 30000));
    }

    void Launch(TForm1& form, int row)
    {
        form.GameDescs->setCurrentRow(row);
        form.ButtonExecute->click();
    }

    TempDir root;
    std::string emu;
    std::string record;
    ScriptedDialogs dialogs;
};

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

TEST_F(LaunchTest, ExtractRunAndRemoveOnlyWhatTheArchiveAdded)
{
    root.Write("emu/ninja/README.TXT", "mine");
    root.Write("emu/ninja/notes.txt", "mine too");
    root.MakeDir("emu/ninja/saves");
    MakeZip("ninja", {"readme.txt", "README.TXT", "ninja.mve", "NINJA.MVE", "HISCORES.DAT", "KEYDEF.DAT", "ninja.1",
                      "notes.txt"});
    auto form = Start("ninja=Ninja\n", "[options]\nvsync=1\n");
    Launch(*form, 0);

    EXPECT_EQ(Entries("ninja").count("ninja.1"), 1u) << "extracted before the emulator ends";
    EXPECT_EQ(form->Caption(), "Kabinex");
    EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
    EXPECT_TRUE(form->Runs().CleanupPending(emu + "/ninja"));

    WaitUntilEnded(*form, emu + "/ninja");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0], (std::vector<std::string>{emu, "ninja", "-v"}));
    EXPECT_EQ(Entries("ninja"), std::set<std::string>({"README.TXT", "notes.txt", "saves", "NINJA.MVE",
                                                       "HISCORES.DAT", "KEYDEF.DAT"}));
    EXPECT_EQ(ReadAll(emu + "/ninja/README.TXT"), "README.TXT") << "unzip -o replaced it; the name is kept";
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(LaunchTest, MissingUnzipToolAndAScriptThatLeavesTheLockFile)
{
    MakeZip("ninja", {"a", "b", "c", "d", "e"});
    auto form = Start("ninja=Ninja\n", "unzipper=no-such-unzip-tool\n");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages,
              QStringList({QString::fromStdString(root.Path() + "/zips/ninja.zip corrompido no-such-unzip-tool no está!  ")}));

    form = Start("ninja=Ninja\n", "unzipper=exit 3 #\n");
    Launch(*form, 0);
    EXPECT_EQ(dialogs.messages.last(),
              QString::fromStdString("No se pudo extraer " + root.Path() + "/zips/ninja.zip con exit 3 #."));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
    EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
    EXPECT_EQ(form->Caption(), "Kabinex");
    EXPECT_TRUE(Runs().empty());
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
    WaitUntilEnded(form, "../emu/ninja");
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

} // namespace
