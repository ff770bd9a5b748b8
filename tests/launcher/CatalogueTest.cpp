// The catalogue at size: a big "games" section filled in one step, the ROM check that lists the
// emulator directory once, and the settings written at exit in one replacement of the file.
#include "../gif/GifTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "GameListRows.h"
#include "Unit1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class CatalogueTest : public testing::Test {
protected:
    std::unique_ptr<TForm1> Start(const std::string& ini)
    {
        program.Write("kabinex.ini", ini);
        CurrentDirScope here(program.Path());
        return std::make_unique<TForm1>();
    }
    void MakeGame(const std::string& name, int files)
    {
        program.MakeDir("emu/" + name);
        for (int i = 0; i < files; ++i)
            program.Write("emu/" + name + "/rom" + std::to_string(i), "rom");
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

// Every way a game's directory can stand, enough times over for the emulator directory to be
// listed once rather than each name opened.
enum class Kind { Present, Short, Absent, FileOfThatName, LinkToPresent, LinkToFile, Zipped, Count };

TEST_F(CatalogueTest, ManyGamesAreMarkedAsTheDiskHasThem)
{
    std::string games = "[games]\n";
    std::vector<bool> available;
    for (int i = 0; i < 140; ++i) {
        const std::string name = "g" + std::to_string(i);
        games += name + "=Game " + std::to_string(i) + "\n";
        switch (static_cast<Kind>(i % static_cast<int>(Kind::Count))) {
        case Kind::Present: MakeGame(name, 5); available.push_back(true); break;
        case Kind::Short: MakeGame(name, 4); available.push_back(false); break;
        case Kind::Absent: available.push_back(false); break;
        case Kind::FileOfThatName: program.Write("emu/" + name, "not a directory"); available.push_back(false); break;
        case Kind::LinkToPresent:
            MakeGame("real" + name, 6);
            fs::create_symlink("real" + name, program / ("emu/" + name));
            available.push_back(true);
            break;
        case Kind::LinkToFile:
            program.Write("elsewhere/" + name, "file");
            fs::create_symlink(program / ("elsewhere/" + name), program / ("emu/" + name));
            available.push_back(false);
            break;
        default: program.Write("zips/" + name + ".zip", "PK"); available.push_back(true); break;
        }
    }
    auto form = Start("[path]\nemudir=" + program / "emu" + "\nzipdir=" + program / "zips/\n" + games);
    ASSERT_EQ(form->GameDescs->count(), 140);
    for (int i = 0; i < 140; ++i) {
        const QString plain = QStringLiteral("Game %1").arg(i);
        EXPECT_EQ(RowText(*form->GameDescs, i), available[i] ? plain : MissingMark + plain) << i;
    }

    // The check again, with the disk changed: the listing is made anew, marks come and go.
    form->GameDescs->setCurrentRow(9);
    program.Write("emu/g1/rom4", "rom");       // Short: now five files
    fs::remove_all(program / "emu/g0");        // Present: gone
    QSignalSpy changed(form->GameDescs->model(), &QAbstractItemModel::dataChanged);
    form->ROMCHECK();
    EXPECT_EQ(RowText(*form->GameDescs, 0), MissingMark + "Game 0");
    EXPECT_EQ(RowText(*form->GameDescs, 1), "Game 1");
    EXPECT_EQ(form->GameDescs->currentRow(), 9);
    // The view hears of the changed rows, so it shows them.
    ASSERT_EQ(changed.size(), 1);
    EXPECT_LE(changed.front().at(0).toModelIndex().row(), 0);
    EXPECT_GE(changed.front().at(1).toModelIndex().row(), 1);
}

TEST_F(CatalogueTest, EveryRowKeepsTheListsItemHeight)
{
    std::string games = "[games]\n";
    for (int i = 0; i < 300; ++i)
        games += "g" + std::to_string(i) + "=Game " + std::to_string(i) + "\n";
    program.Write("scrshots/notavail.gif",
                  giftest::TGifBuilder().Header().Screen(true, 0, 1, 1).Colors(2).Image(1, 1, 2, 0, 2).Trailer().Bytes());
    auto form = Start(games);
    form->show();
    ASSERT_EQ(form->GameNames->count(), 300);
    EXPECT_EQ(RowText(*form->GameNames, 299), "g299");
    for (const int row : {0, 1, 150, 299})
        EXPECT_EQ(form->GameDescs->visualRect(form->GameDescs->model()->index(row, 0)).height(), 13) << row;
    EXPECT_EQ(form->GameDescs->currentRow(), 0);
}

TEST_F(CatalogueTest, DuplicateKeysListTwiceWithTheFirstValue)
{
    auto form = Start("[games]\nninja=First\nNINJA=Second\nother=Other\n");
    ASSERT_EQ(form->GameNames->count(), 3);
    EXPECT_EQ(RowText(*form->GameNames, 1), "NINJA");
    EXPECT_EQ(RowText(*form->GameDescs, 1), MissingMark + "First");
}

TEST_F(CatalogueTest, ASettingsFifoStartsWithDefaultsAndIsReportedAtExit)
{
    ASSERT_EQ(mkfifo((program / "kabinex.ini").c_str(), 0644), 0);
    std::unique_ptr<TForm1> form;
    {
        CurrentDirScope here(program.Path());
        form = std::make_unique<TForm1>();
    }
    EXPECT_EQ(form->MaveDir->text(), ".");
    form->CheckJoy->setChecked(true);
    form.reset();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors.front(),
              QString::fromStdString("nach " + program.Path() + "/kabinex.ini kann nicht geschrieben werden."));
    EXPECT_TRUE(fs::is_fifo(program / "kabinex.ini"));
}

TEST_F(CatalogueTest, AWindowsFileWithAByteOrderMarkKeepsItsFirstSection)
{
    const std::string before = "\xEF\xBB\xBF[path]\r\nemudir=/m\xFAsica/\r\n[games]\r\nmotos=Espa\xF1" "a\r\n";
    auto form = Start(before);
    EXPECT_EQ(form->MaveDir->text(), "/música/");
    form.reset();
    // Written back into the first section, not into a second [path]; the mark stays in front.
    EXPECT_EQ(ReadAll(program / "kabinex.ini"),
              "\xEF\xBB\xBF[path]\r\nemudir=/m\xFAsica/\r\nzipdir=<No tiene soporte ZIP!>\r\n[games]\r\nmotos=Espa\xF1"
              "a\r\n[options]\r\nenablejoystick=0\r\nnosound=0\r\naltfmbase=0\r\nnoscanlines=0\r\nvsync=0\r\n"
              "frameskip=0\r\n");
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

} // namespace
