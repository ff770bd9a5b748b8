// The main window on real settings files and real directories: start-up, catalogue, ROM check,
// launch-button state, directory pickers, and the settings written back when it closes.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "GameListRows.h"
#include "Unit1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include "Unwritable.h"

#include <gtest/gtest.h>

namespace {

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        program.Write("scrshots/notavail.gif",
                      giftest::TGifBuilder().Header().Screen(true, 0, 1, 1).Colors(2).Image(1, 1, 2, 0, 2).Trailer().Bytes());
    }
    std::unique_ptr<TForm1> Start(const std::string& ini)
    {
        program.Write("kabinex.ini", ini);
        return Start();
    }
    std::unique_ptr<TForm1> Start()
    {
        CurrentDirScope here(program.Path());
        return std::make_unique<TForm1>();
    }
    // A game directory with the given number of plain files.
    void MakeGame(const std::string& name, int files)
    {
        program.MakeDir("emu/" + name);
        for (int i = 0; i < files; ++i)
            program.Write("emu/" + name + "/" + name + "." + std::to_string(i), "rom");
    }
    std::string Ini() const { return ReadAll(program / "kabinex.ini"); }
    static QStringList Descriptions(const TForm1& form)
    {
        QStringList texts;
        for (int i = 0; i < form.GameDescs->count(); ++i)
            texts << RowText(*form.GameDescs, i);
        return texts;
    }
    std::string EmuDir() const { return program / "emu/"; }

    TempDir program;
    ScriptedDialogs dialogs;
};

QString Marked(const QString& description)
{
    return MissingMark + description;
}

TEST_F(MainWindowTest, MissingFileGivesDefaultsAndTheExitCreatesIt)
{
    auto form = Start();
    EXPECT_EQ(form->MaveDir->text(), ".");
    EXPECT_EQ(form->ZipDir->text(), NoZipMarker);
    EXPECT_EQ(form->Unzipper(), "unzip");
    EXPECT_EQ(form->GameDescs->count(), 0);
    form.reset();
    EXPECT_EQ(Ini(), "[path]\nemudir=.\nzipdir=<No tiene soporte ZIP!>\n[options]\nenablejoystick=0\n"
                     "nosound=0\naltfmbase=0\nnoscanlines=0\nvsync=0\nframeskip=0\n");
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

// Each spelling of an option: whether it counts as checked, and what the exit writes back when
// the box was left alone (the spelling as read) and when it was toggled ("1" or "0").
TEST_F(MainWindowTest, OptionSpellingsReadAndKeptUnlessTheirBoxChanged)
{
    const struct {
        std::string spelling;
        bool checked;
        std::string toggled;
    } rows[] = {
        {"1", true, "0"},      {"2", true, "0"},      {"-1", true, "0"},    {"+1", true, "0"},
        {"$10", true, "0"},    {"0x10", true, "0"},   {"0x1", true, "0"},   {"0", false, "1"},
        {"$0", false, "1"},    {"+0", false, "1"},    {"00", false, "1"},   {"0x0", false, "1"},
        {"yes", false, "1"},   {"true", false, "1"},  {"", false, "1"},     {"0x", false, "1"},
        {" 7x", false, " 1"}, // the blank after "=" belongs to the line, not to the value
    };
    for (const auto& row : rows) {
        for (const bool toggle : {false, true}) {
            auto form = Start("[options]\nvsync=" + row.spelling + "\n[path]\nemudir=.\nzipdir=" + ToStd(NoZipMarker) +
                              "\n");
            EXPECT_EQ(form->CheckVSync->isChecked(), row.checked) << row.spelling;
            if (toggle)
                form->CheckVSync->toggle();
            form.reset();
            EXPECT_EQ(Ini(), "[options]\nvsync=" + (toggle ? row.toggled : row.spelling) +
                                 "\nenablejoystick=0\nnosound=0\naltfmbase=0\nnoscanlines=0\nframeskip=0\n"
                                 "[path]\nemudir=.\nzipdir=<No tiene soporte ZIP!>\n")
                << row.spelling << (toggle ? ", toggled" : ", left alone");
        }
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(MainWindowTest, RoundTripWritesDirectoriesAndOptionsAndKeepsEveryOtherByte)
{
    const std::string before = "; my arcade\r\n[Path]\r\nEmuDir = /old/emu/\r\nzipdir=\"/old/zips/\"\r\n"
                               "unzipper=unzip -qq\r\n\r\n[options]\r\nenablejoystick=1\r\nvsync = 0 ; v\r\n"
                               "[games]\r\nninja=Ninja Kid\r\n";
    auto form = Start(before);
    EXPECT_EQ(form->ZipDir->text(), "/old/zips/");
    EXPECT_EQ(form->Unzipper(), "unzip -qq");
    dialogs.fileAnswers = {QString::fromStdString(EmuDir() + "mave"), QString()};
    form->MaveOpenButton->click();
    form->ZipOpenButton->click();
    EXPECT_EQ(dialogs.openedDirs, QStringList({"/old/emu/", "/old/zips/"}));
    EXPECT_EQ(dialogs.openedFilters.at(0).filters.at(0), "MAVE.EXE (mave mave.exe)");
    EXPECT_EQ(dialogs.openedFilters.at(1).filters.at(0), "Mave Zip Files (*.zip)");
    form->CheckJoy->setChecked(false);
    form->CheckVSync->setChecked(true);
    form->CheckFrameskip->setChecked(true);
    form.reset();

    EXPECT_EQ(Ini(), "; my arcade\r\n[Path]\r\nEmuDir = " + EmuDir() +
                         "\r\nzipdir=<No tiene soporte ZIP!>\r\n"
                         "unzipper=unzip -qq\r\n\r\n[options]\r\nenablejoystick=0\r\nvsync = 1\r\n"
                         "nosound=0\r\naltfmbase=0\r\nnoscanlines=0\r\nframeskip=1\r\n"
                         "[games]\r\nninja=Ninja Kid\r\n");
}

TEST_F(MainWindowTest, RefusedSettingsWriteIsReportedAndTheWindowStillCloses)
{
    const std::string content = "[path]\nemudir=/somewhere/\n";
    auto form = Start(content);
    form->CheckJoy->setChecked(true);
    {
        const TUnwritableFile unwritable(program / "kabinex.ini");
        if (!unwritable.Done())
            GTEST_SKIP() << "this file system cannot make a file unwritable";
        form.reset();
    }
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors.front(),
              QString::fromStdString("nach " + program.Path() + "/kabinex.ini kann nicht geschrieben werden."));
    EXPECT_EQ(Ini(), content);
}

TEST_F(MainWindowTest, CatalogueInFileOrderWithWholeNamesAndValues)
{
    std::string games = "[games]\nzeta=Zeta\nalpha=\nmid=\"Quoted\"\n";
    const std::string longName(300, 'n');
    const std::string longValue(5000, 'v');
    for (int i = 0; i < 100; ++i)
        games += longName + std::to_string(i) + "=" + longValue + "\n";
    auto form = Start("[path]\nemudir=" + EmuDir() + "\n" + games);
    ASSERT_EQ(form->GameNames->count(), 103);
    EXPECT_EQ(RowText(*form->GameNames, 0), "zeta");
    EXPECT_EQ(RowText(*form->GameNames, 1), "alpha");
    EXPECT_EQ(RowText(*form->GameDescs, 1), Marked(""));
    EXPECT_EQ(RowText(*form->GameDescs, 2), Marked("Quoted"));
    EXPECT_EQ(RowText(*form->GameNames, 102).toStdString(), longName + "99");
    EXPECT_EQ(RowText(*form->GameDescs, 102).toStdString(), "\u00B7\u00B7 " + longValue);
    EXPECT_EQ(form->GameDescs->currentRow(), 0);
}

TEST_F(MainWindowTest, RomCheckCountsEveryEntryAndZipsRescueOnlyAsFiles)
{
    MakeGame("four", 4);
    MakeGame("five", 5);
    MakeGame("hidden", 3);
    program.Write("emu/hidden/.hidden", "");
    program.MakeDir("emu/hidden/sub");
    MakeGame("zipped", 1);
    program.Write("zips/zipped.zip", "PK");
    program.MakeDir("zips/dirzip.zip");
    auto form = Start("[path]\nemudir=" + EmuDir() + "\nzipdir=" + program.Path() +
                      "/zips\n[games]\nfour=Four\nfive=Five\nhidden=Hidden\nzipped=Zipped\ndirzip=DirZip\n"
                      "gone=\u00B7\u00B7 Gone\n");
    EXPECT_EQ(Descriptions(*form),
              QStringList({Marked("Four"), "Five", "Hidden", "Zipped", Marked("DirZip"), Marked("Gone")}));

    // Repeated checks reflect the disk now and never stack marks.
    program.Write("emu/four/four.extra", "rom");
    std::filesystem::remove(program / "zips/zipped.zip");
    form->ROMCHECK();
    form->ROMCHECK();
    EXPECT_EQ(Descriptions(*form),
              QStringList({"Four", "Five", "Hidden", Marked("Zipped"), Marked("DirZip"), Marked("Gone")}));
}

TEST_F(MainWindowTest, MarkInTheFileIsDroppedForAnAvailableGame)
{
    MakeGame("ninja", 5);
    auto form = Start("[path]\nemudir=" + EmuDir() + "\n[games]\nninja=\u00B7\u00B7 Ninja\n");
    EXPECT_EQ(Descriptions(*form), QStringList({"Ninja"}));
}

TEST_F(MainWindowTest, NamesThatAreNoPlainFileNameCountAsMissing)
{
    MakeGame("inner", 6);
    program.Write("zips/..zip", "PK");
    auto form = Start("[path]\nemudir=" + EmuDir() + "inner/\nzipdir=" + program.Path() +
                      "/zips/\n[games]\n..=Up\n.=Here\nsub/x=Nested\n");
    EXPECT_EQ(Descriptions(*form), QStringList({Marked("Up"), Marked("Here"), Marked("Nested")}));
}

TEST_F(MainWindowTest, DefaultEmulatorDirectoryIsTheCurrentOne)
{
    MakeGame("ninja", 0);
    for (int i = 0; i < 5; ++i)
        program.Write("ninja/rom" + std::to_string(i), "");
    auto form = Start("[games]\nninja=Ninja\n");
    EXPECT_EQ(Descriptions(*form), QStringList({"Ninja"}));
}

TEST_F(MainWindowTest, ZipSupportOffNeverLooksForAnArchive)
{
    program.Write(ToStd(NoZipMarker) + "/ninja.zip", "PK");
    program.Write(ToStd(NoZipMarker) + "ninja.zip", "PK");
    auto form = Start("[path]\nemudir=" + EmuDir() + "\n[games]\nninja=Ninja\n");
    CurrentDirScope here(program.Path());
    form->ROMCHECK();
    EXPECT_EQ(Descriptions(*form), QStringList({Marked("Ninja")}));
}

TEST_F(MainWindowTest, LaunchButtonFollowsTheSelectionAndTheEmulatorDirectory)
{
    MakeGame("ninja", 5);
    auto form = Start("[path]\nemudir=" + EmuDir() + "\n[games]\nninja=Ninja\ngone=Gone\n");
    form->GameDescsClick();
    EXPECT_EQ(form->ButtonExecute->text(), "Ejecute!");
    EXPECT_EQ(form->ButtonExecute->CaptionColor(), clGreen);
    form->GameDescs->setCurrentRow(1);
    EXPECT_EQ(form->ButtonExecute->text(), "No ROMs!");
    EXPECT_EQ(form->ButtonExecute->CaptionColor(), clRed);

    form->MaveOpenButton->click(); // cancelled
    EXPECT_EQ(form->MaveDir->text(), NotDefinedMarker);
    EXPECT_EQ(form->ButtonExecute->text(), "No MAVE!");
    EXPECT_EQ(form->ButtonExecute->CaptionColor(), clRed);
    EXPECT_TRUE(form->ButtonExecute->isEnabled());

    dialogs.fileAnswers = {QString::fromStdString(EmuDir() + "anything.bin")};
    form->MaveOpenButton->click();
    EXPECT_EQ(form->MaveDir->text().toStdString(), EmuDir());
    form->GameDescs->setCurrentRow(0);
    EXPECT_EQ(form->ButtonExecute->text(), "Ejecute!");
}

TEST_F(MainWindowTest, EmptyCatalogueShowsNoErrorAtAnyTime)
{
    auto form = Start("[path]\nemudir=" + EmuDir() + "\n[games]\n; nothing yet\n");
    form->show();
    QTest::qWait(50);
    form->FormActivate();
    form->ROMCHECK();
    EXPECT_EQ(form->GameDescs->count(), 0);
    EXPECT_EQ(form->ButtonExecute->text(), "No ROMs!");
    EXPECT_EQ(form->ButtonExecute->CaptionColor(), clRed);
    form->MaveOpenButton->click();
    EXPECT_EQ(form->ButtonExecute->text(), "No MAVE!");
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(MainWindowTest, HelpWithoutEmulatorDirectoryWarns)
{
    auto form = Start("[path]\nemudir=<no definido!>\n");
    form->ButtonHelp->click();
    EXPECT_EQ(dialogs.warnings, QStringList({"Use el botón Selec. para definir ruta a MAVE.EXE "}));
}

TEST_F(MainWindowTest, Windows1252FileIsReadAndWrittenInItsEncoding)
{
    auto form = Start(std::string("[path]\nemudir=/juegos/m\xE1quina/\n[games]\npinguino=Ping\xFCino\n"));
    EXPECT_EQ(form->MaveDir->text(), QString::fromUtf8("/juegos/máquina/"));
    EXPECT_EQ(RowText(*form->GameDescs, 0), Marked(QString::fromUtf8("Pingüino")));
    form.reset();
    EXPECT_NE(Ini().find("emudir=/juegos/m\xE1quina/\n"), std::string::npos);
    EXPECT_NE(Ini().find("pinguino=Ping\xFCino\n"), std::string::npos);
}

TEST_F(MainWindowTest, EscapeQuitsAndEnterPressesTheLaunchButton)
{
    auto form = Start("[games]\nninja=Ninja\n");
    form->show();
    QSignalSpy launches(form->ButtonExecute, &QPushButton::clicked);
    QSignalSpy finished(form.get(), &QDialog::finished);
    form->GameDescs->setFocus();
    QTest::keyClick(form->GameDescs, Qt::Key_Return);
    EXPECT_EQ(launches.count(), 1);
    QTest::keyClick(form->GameDescs, Qt::Key_Escape);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(form->isVisible());
}

} // namespace
