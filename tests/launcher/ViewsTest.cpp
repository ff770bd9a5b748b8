// The list's views and favourites as the user meets them: Ctrl+1 to Ctrl+5 over missing, unpacked,
// zipped, favourite and played games with the selection kept, the available view while the
// background check still runs, and favourites written into a Windows-1252 CRLF settings file.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "GameListRows.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ViewsTest : public testing::Test {
protected:
    void SetUp() override
    {
        program.Write("scrshots/notavail.gif",
                      giftest::TGifBuilder().Header().Screen(true, 0, 1, 1).Colors(2).Image(1, 1, 2, 0, 2).Trailer().Bytes());
        setenv("XDG_STATE_HOME", program.MakeDir("state").c_str(), 1);
    }
    void TearDown() override { unsetenv("XDG_STATE_HOME"); }
    std::unique_ptr<TForm1> Start(const std::string& ini)
    {
        program.Write("kabinex.ini", ini);
        return Restart();
    }
    std::unique_ptr<TForm1> Restart()
    {
        CurrentDirScope here(program.Path());
        auto form = std::make_unique<TForm1>();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->GameDescs->setFocus();
        return form;
    }
    static TGameListModel& Games(const TForm1& form) { return *qobject_cast<TGameListModel*>(form.GameDescs->model()); }
    static void WaitForTheCheck(const TForm1& form)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Games(form).CheckRunning(); }, 60000));
    }
    static std::vector<std::string> ShownGames(const TForm1& form)
    {
        std::vector<std::string> names;
        for (int row = 0; row < form.GameDescs->count(); ++row)
            names.emplace_back(Games(form).Name(row));
        return names;
    }
    void MakeGameDir(const std::string& game)
    {
        for (int f = 0; f < 5; ++f)
            program.Write("emu/" + game + "/rom" + std::to_string(f), "rom");
    }
    static void Press(TForm1& form, int key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(form.GameDescs, static_cast<Qt::Key>(key), modifiers);
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

TEST_F(ViewsTest, EveryViewByItsKeyKeepsTheSelectedGameWhereItCan)
{
    MakeGameDir("dir");
    MakeGameDir("favp");
    MakeGameDir("old");
    program.Write("zips/zip.zip", "PK");
    program.Write("state/kabinex/played.tsv", "dir\t3\t2026-01-01T10:00:00\t100\n"
                                              "zip\t3\t2026-03-01T10:00:00\t500\n"
                                              "miss\t1\t2026-06-01T10:00:00\t20\n"
                                              "favp\t5\t2025-01-01T10:00:00\t10\n");
    const std::string ini = "[path]\nemudir=" + program / "emu" + "/\nzipdir=" + program / "zips" + "/\n"
        + "[games]\nmiss=Missing one\ndir=Dir game\nzip=Zip game\nfavp=Fav present\nfavm=Fav missing\nold=Old one\n"
        + "[favorites]\nfavp=1\nFAVM=1\nold=0\n";
    auto form = Start(ini);
    WaitForTheCheck(*form);
    form->GameDescs->setCurrentRow(2);
    ASSERT_EQ(form->SelectedGame(), "zip");

    struct TCase {
        int key;
        std::vector<std::string> shown;
        std::string selected;
    };
    const TCase cases[] = {
        {Qt::Key_2, {"dir", "zip", "favp", "old"}, "zip"},
        {Qt::Key_3, {"favp", "favm"}, "favp"}, // the zipped game is no favourite: the first row
        {Qt::Key_4, {"favp", "zip", "dir", "miss"}, "favp"}, // plays, then time played
        {Qt::Key_5, {"miss", "zip", "dir", "favp"}, "favp"},
        {Qt::Key_1, {"miss", "dir", "zip", "favp", "favm", "old"}, "favp"},
    };
    for (const TCase& c : cases) {
        Press(*form, c.key);
        const std::string when = "Ctrl+" + std::to_string(c.key - Qt::Key_0);
        EXPECT_EQ(ShownGames(*form), c.shown) << when;
        EXPECT_EQ(form->SelectedGame(), c.selected) << when;
        EXPECT_EQ(form->ButtonExecute->text(), "Ejecute!") << when;
    }
    EXPECT_EQ(RowText(*form->GameDescs, 3), FavouriteMark + "Fav present");
    EXPECT_EQ(RowText(*form->GameDescs, 4), MissingMark + FavouriteMark + "Fav missing");
    EXPECT_EQ(form->GameDescs->toolTip(), "Escoja un ROM\nJugado 5 veces, la última el 01/01/2025, 0 min en total");

    // Ctrl+D in the favourites view takes the game out of it; type-to-find reads past the mark.
    Press(*form, Qt::Key_3);
    Press(*form, Qt::Key_D);
    EXPECT_EQ(ShownGames(*form), std::vector<std::string>{"favm"});
    EXPECT_EQ(form->ButtonExecute->text(), "No ROMs!");
    form->AddGamesClick(); // the catalogue read again: the marks of this run stay
    EXPECT_EQ(ShownGames(*form), std::vector<std::string>{"favm"});
    WaitForTheCheck(*form);
    QTest::keyClicks(form->GameDescs, "fav m");
    EXPECT_EQ(form->SelectedGame(), "favm");
    Press(*form, Qt::Key_2);
    EXPECT_EQ(form->SelectedGame(), "dir") << "a missing game leaves the available view: the first row";
    form.reset();

    // The view and the favourites come back at the next start.
    form = Restart();
    EXPECT_EQ(Games(*form).View(), TGameView::Available);
    WaitForTheCheck(*form);
    EXPECT_EQ(ShownGames(*form), (std::vector<std::string>{"dir", "zip", "favp", "old"}));
    const std::string written = ReadAll(program / "kabinex.ini");
    EXPECT_NE(written.find("\nview=2\n"), std::string::npos) << written;
    EXPECT_NE(written.find("[favorites]\nFAVM=1\nold=0\n"), std::string::npos) << written;
}

TEST_F(ViewsTest, TheAvailableViewDuringTheBackgroundCheckShowsOnlyGamesFoundPresent)
{
    constexpr int GameCount = 20000;
    std::string games = "[games]\n";
    for (int i = 0; i < GameCount; ++i) {
        games += "g" + std::to_string(i) + "=Game " + std::to_string(i) + "\n";
        if (i % 3 == 0)
            program.Write("zips/g" + std::to_string(i) + ".zip", "PK");
    }
    auto form = Start("[path]\nzipdir=" + program / "zips" + "\n[options]\nview=2\n" + games);
    ASSERT_TRUE(Games(*form).CheckRunning());
    int shown = 0;
    while (Games(*form).CheckRunning()) {
        QCoreApplication::processEvents();
        form->GameDescs->viewport()->repaint();
        const int rows = form->GameDescs->count();
        ASSERT_GE(rows, shown) << "rows are only ever added";
        shown = rows;
        for (int row = 0; row < rows; ++row) {
            const int number = std::stoi(std::string(Games(*form).Name(row)).substr(1));
            ASSERT_EQ(number % 3, 0) << "a missing game in the available view, row " << row;
            ASSERT_EQ(RowText(*form->GameDescs, row), QStringLiteral("Game %1").arg(number));
        }
        if (rows > 0) {
            ASSERT_GE(form->GameDescs->currentRow(), 0) << "the first game found is selected";
        }
    }
    EXPECT_EQ(form->GameDescs->count(), (GameCount + 2) / 3);
    EXPECT_EQ(form->SelectedGame(), "g0");
    EXPECT_EQ(form->ButtonExecute->text(), "Ejecute!");
}

TEST_F(ViewsTest, FavouritesGoIntoAWindows1252CrlfFileWithNothingElseChanged)
{
    // "Dragón" and a comment in Windows-1252, CR LF line ends, blanks as the user left them.
    // Every value the exit writes stands in the file already.
    const std::string head = "; mis juegos \xAB" "favoritos\xBB\r\n[path]\r\nemudir = .\r\nzipdir=<No tiene soporte ZIP!>\r\n"
                             "\r\n[options]\r\nenablejoystick=0\r\nnosound=0\r\naltfmbase=0\r\nnoscanlines=0\r\n"
                             "vsync=0\r\nframeskip=0\r\n[games]\r\n"
                             "dragon=La Sombra del Drag\xF3n\r\nalpha=Alpha\r\nbeta=Beta\r\n";
    const std::string ini = head + "[favorites]\r\nalpha=1\r\n  beta=1\r\n; fin\r\n[otro]\r\nx=y\r\n";
    auto form = Start(ini);
    form.reset();
    ASSERT_EQ(ReadAll(program / "kabinex.ini"), ini) << "nothing changed, nothing written differently";

    form = Restart();
    EXPECT_EQ(RowText(*form->GameDescs, 1), MissingMark + FavouriteMark + "Alpha");
    form->GameDescs->setCurrentRow(2);
    Press(*form, Qt::Key_D); // beta no longer
    form->GameDescs->setCurrentRow(0);
    Press(*form, Qt::Key_D); // dragon now
    EXPECT_EQ(RowText(*form->GameDescs, 0), MissingMark + FavouriteMark + QString::fromUtf8("La Sombra del Dragón"));
    form.reset();
    EXPECT_EQ(ReadAll(program / "kabinex.ini"), head + "[favorites]\r\nalpha=1\r\ndragon=1\r\n; fin\r\n[otro]\r\nx=y\r\n");
}

} // namespace
