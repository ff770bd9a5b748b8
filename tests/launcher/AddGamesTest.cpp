// Games found on disk added to the catalogue: real directories, the stand-in emulator's own
// -listfull, real settings files read back byte by byte.
#include "AddGames.h"
#include "Controls.h"
#include "IniFiles.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QAction>
#include "GameListRows.h"
#include <filesystem>
#include <sstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::UnorderedElementsAre;

class AddGamesTest : public testing::Test {
protected:
    void SetUp() override
    {
        emu = root.MakeDir("prog/emu");
        zips = root.MakeDir("prog/zips");
    }
    // Names that are not UTF-8 are beyond QTemporaryDir's own removal.
    void TearDown() override { fs::remove_all(root / "prog"); }

    void WithEmulator() const
    {
        fs::copy_file(KABINEX_BINARY_DIR "/mave", emu + "/mave", fs::copy_options::overwrite_existing);
    }

    // A directory holding `files` files: with "." and ".." a game counts as present from 5 on.
    void GameDir(const std::string& name, int files) const
    {
        root.MakeDir("prog/emu/" + name);
        for (int i = 0; i < files; ++i)
            root.Write("prog/emu/" + name + "/" + name + "." + std::to_string(i), "rom");
    }

    void Archive(const std::string& name) const { root.Write("prog/zips/" + name, "PK"); }

    std::string Settings() const { return ReadAll(root / "prog/kabinex.ini"); }

    addgames::TAddResult Add(const std::string& ini)
    {
        // The directories in the settings file are relative to the program directory.
        CurrentDirScope here(root / "prog");
        TIniFile settings(ini);
        return addgames::AddGamesFromDisk(settings, addgames::DirsFromSettings(settings));
    }

    static std::vector<std::string> Names(const addgames::TAddResult& result)
    {
        std::vector<std::string> names;
        for (const auto& game : result.added)
            names.push_back(game.name + "=" + game.description);
        return names;
    }

    TempDir root;
    std::string emu;
    std::string zips;
};

TEST_F(AddGamesTest, Windows1252FileWithCommentsGainsOnlyTheNewLines)
{
    // Made on Windows: CR LF, comments, an accented letter in Windows-1252, a section after [games].
    const std::string before = "; Configuraci\xF3n de Kabinex\r\n[path]\r\nemudir=emu/\r\nzipdir=zips/\r\n\r\n"
                               "[games]\r\n; mis juegos\r\nninja=Ninja Kid\r\nvolcan=Volc\xE1n\r\n\r\n"
                               "; opciones\r\n[options]\r\nvsync=1\r\n";
    const std::string ini = root.Write("prog/kabinex.ini", before);
    WithEmulator();
    GameDir("galaxia", 5);  // listed, present
    GameDir("Pinguino", 6); // listed in another letter case
    GameDir("astrofox", 2); // listed, too few files: its ROMs are missing
    GameDir("snap", 9);     // the emulator's own folders, not listed
    GameDir("cfg", 9);
    GameDir("unlisted", 9);
    for (const char* name : {"Mixed.ZIP", "canyon.zip", "NINJA.ZIP", "a=b.zip", "[x.zip", ";c.zip", ".zip",
                             "bad\x01.zip", "\xFF\xFE.zip", "\xE6\x97\xA5\xE6\x9C\xAC.zip", " pad.zip", "notes.txt"})
        Archive(name);
    root.MakeDir("prog/zips/folder.zip");

    const addgames::TAddResult result = Add(ini);

    EXPECT_THAT(Names(result), ElementsAre("canyon=Canyon Racer (1988)", "galaxia=Galaxia Invasora (1979)",
                                           "Mixed=Mixed", "pinguino=Ping\xC3\xBCino Saltar\xC3\xADn (1983)"));
    // The Japanese name fits no Windows-1252 key: writing it would turn the whole file into UTF-8.
    EXPECT_THAT(result.skipped, UnorderedElementsAre("a=b", "[x", ";c", "", "bad\x01", "\xFF\xFE",
                                                     "\xE6\x97\xA5\xE6\x9C\xAC", " pad"));
    const std::string added = "\r\ncanyon=Canyon Racer (1988)\r\ngalaxia=Galaxia Invasora (1979)\r\nMixed=Mixed"
                              "\r\npinguino=Ping\xFCino Saltar\xEDn (1983)";
    std::string expected = before;
    expected.insert(expected.find("Volc\xE1n") + 6, added);
    EXPECT_EQ(Settings(), expected);

    const addgames::TAddResult again = Add(ini);
    EXPECT_TRUE(again.added.empty());
    EXPECT_EQ(Settings(), expected);
}

TEST_F(AddGamesTest, WithoutTheEmulatorsListOnlyArchivesAreAddedUnderTheirOwnNames)
{
    const std::string ini = root.Write("prog/kabinex.ini", "[path]\nemudir=emu/\nzipdir=zips/\n");
    GameDir("galaxia", 9);
    GameDir("snap", 9);
    Archive("canyon.zip");
    Archive("Zeta.Zip");
    Archive("alpha.zip");

    const addgames::TAddResult result = Add(ini);

    EXPECT_THAT(Names(result), ElementsAre("alpha=alpha", "canyon=canyon", "Zeta=Zeta"));
    EXPECT_EQ(Settings(), "[path]\nemudir=emu/\nzipdir=zips/\n[games]\nalpha=alpha\ncanyon=canyon\nZeta=Zeta\n");
}

TEST_F(AddGamesTest, Utf8FileKeepsDescriptionsWindows1252CannotHold)
{
    const std::string ini = root.Write("prog/kabinex.ini", "[path]\nemudir=emu/\nzipdir=<No tiene soporte ZIP!>\n"
                                                           "[games]\nninja=Ninja\n");
    Archive("canyon.zip"); // ZIP support is off: not looked at
    fs::copy_file(KABINEX_BINARY_DIR "/mave", emu + "/MAVE"); // the emulator in another letter case
    GameDir("RELAMPAGO", 5);
    GameDir("\xE6\x97\xA5", 5); // not listed

    const addgames::TAddResult result = Add(ini);

    EXPECT_THAT(Names(result), ElementsAre("relampago=Rel\xC3\xA1mpago (1991)"));
    EXPECT_EQ(Settings(), "[path]\nemudir=emu/\nzipdir=<No tiene soporte ZIP!>\n[games]\nninja=Ninja\n"
                          "relampago=Rel\xC3\xA1mpago (1991)\n");
}

TEST_F(AddGamesTest, ReadsTheEmulatorsListAsItPrintsIt)
{
    const auto games = addgames::ParseGameList("Name:     Description:\r\n"
                                               "ninja     \"Ninja Kid (1984)\"\r\n"
                                               "\r\n"
                                               "bare\n"
                                               "quoted\t\"He said \"hi\"\"\n"
                                               "last      \"No line end\"");
    std::vector<std::string> lines;
    for (const auto& game : games)
        lines.push_back(game.name + "|" + game.description);
    EXPECT_THAT(lines, ElementsAre("ninja|Ninja Kid (1984)", "bare|", "quoted|He said \"hi\"", "last|No line end"));

    WithEmulator();
    const auto listed = addgames::ReadEmulatorList(emu);
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->size(), 14u);
    EXPECT_FALSE(addgames::ReadEmulatorList(root.MakeDir("empty")).has_value());
}

TEST_F(AddGamesTest, LongScanReportsProgressUpToTheEnd)
{
    const std::string ini = root.Write("prog/kabinex.ini", "[path]\nzipdir=zips/\n");
    for (int i = 0; i < 2500; ++i)
        Archive("game" + std::to_string(i) + ".zip");
    CurrentDirScope here(root / "prog");
    TIniFile settings(ini);
    std::vector<float> fractions;
    const auto result = addgames::FindNewGames(settings, addgames::DirsFromSettings(settings), std::nullopt,
                                               [&](float fraction) { fractions.push_back(fraction); });
    EXPECT_EQ(result.added.size(), 2500u);
    ASSERT_GE(fractions.size(), 50u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.back(), 1.0f);
}

TEST(CommandLineTest, OwnOptionsAreAnsweredAndQtsOwnGoToTheWindow)
{
    const auto run = [](std::vector<std::string> arguments, std::string* out = nullptr, std::string* err = nullptr) {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        std::ostringstream outText, errText;
        const auto status = addgames::RunCommandLine(int(argv.size()), argv.data(), outText, errText);
        if (out)
            *out = outText.str();
        if (err)
            *err = errText.str();
        return status;
    };
    EXPECT_EQ(run({"kabinex"}), std::nullopt);
    EXPECT_EQ(run({"kabinex", "-platform", "offscreen"}), std::nullopt);
    std::string out, err;
    EXPECT_EQ(run({"kabinex", "--help"}, &out), 0);
    EXPECT_THAT(out, testing::HasSubstr("--add-games"));
    EXPECT_EQ(run({"kabinex", "--add-game"}, &out, &err), 2);
    EXPECT_THAT(err, testing::HasSubstr("opción desconocida: --add-game"));
    EXPECT_EQ(run({"kabinex", "--add-games", "now"}, &out, &err), 2);
    EXPECT_THAT(err, testing::HasSubstr("argumento de más: now"));
}

TEST_F(AddGamesTest, TheGameListsActionFillsAndChecksTheListAtOnce)
{
    root.Write("prog/kabinex.ini", "[path]\nemudir=emu/\nzipdir=zips/\n[games]\nninja=Ninja Kid\n");
    WithEmulator();
    GameDir("galaxia", 5);
    Archive("Canyon.zip");
    Archive("x=y.zip");
    root.Write("prog/scrshots/notavail.gif", ReadAll(KABINEX_SOURCE_DIR "/demo/scrshots/notavail.gif"));
    ScriptedDialogs dialogs;
    CurrentDirScope here(root / "prog");
    TForm1 form;
    ASSERT_EQ(form.GameDescs->count(), 1);
    form.ButtonExecute->setText("before");

    QAction* action = form.GameDescs->findChild<QAction*>("AddGamesAction");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut(), QKeySequence(Qt::Key_Insert));
    EXPECT_TRUE(form.GameDescs->actions().contains(action)); // offered by the list's context menu
    action->trigger();

    ASSERT_EQ(form.GameDescs->count(), 3);
    EXPECT_EQ(RowText(*form.GameDescs, 0), QString::fromUtf8("\u00B7\u00B7 Ninja Kid"));
    EXPECT_EQ(RowText(*form.GameDescs, 1), "Canyon Racer (1988)");
    EXPECT_EQ(RowText(*form.GameDescs, 2), "Galaxia Invasora (1979)");
    EXPECT_EQ(RowText(*form.GameNames, 1), "Canyon");
    form.GameDescs->setCurrentRow(2);
    action->trigger(); // nothing new: the list starts again at the first game, its button red
    EXPECT_EQ(form.GameDescs->currentRow(), 0);
    EXPECT_EQ(form.ButtonExecute->text(), "No ROMs!");
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_THAT(dialogs.messages[0].toStdString(), testing::HasSubstr("Se añadieron 2 juegos"));
    EXPECT_THAT(dialogs.messages[0].toStdString(), testing::HasSubstr("\"x=y\""));
    EXPECT_THAT(dialogs.messages[1].toStdString(), testing::HasSubstr("No se encontraron juegos nuevos"));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

} // namespace
