// The game list as the user meets it: marks read through the list while the check runs in idle
// time, a directory pick or a quit in the middle of it, the selection after clicks on the empty
// part of the list, type-to-find with real key events, and descriptions of any length.
#include "../gif/GifTestSupport.h"
#include "Controls.h"
#include "GameListRows.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "TypeToFind.h"
#include "Unit1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class GameListTest : public testing::Test {
protected:
    void SetUp() override
    {
        program.Write("scrshots/notavail.gif",
                      giftest::TGifBuilder().Header().Screen(true, 0, 1, 1).Colors(2).Image(1, 1, 2, 0, 2).Trailer().Bytes());
    }
    std::unique_ptr<TForm1> Start(const std::string& ini)
    {
        program.Write("kabinex.ini", ini);
        CurrentDirScope here(program.Path());
        return std::make_unique<TForm1>();
    }
    static TGameListModel& Games(const TForm1& form) { return *qobject_cast<TGameListModel*>(form.GameDescs->model()); }
    static void WaitForTheCheck(const TForm1& form)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Games(form).CheckRunning(); }, 60000));
    }
    // Every row's text against the games expected present, row by row.
    static void ExpectMarks(const TForm1& form, const std::vector<bool>& present, const char* when)
    {
        ASSERT_EQ(form.GameDescs->count(), static_cast<int>(present.size())) << when;
        for (std::size_t row = 0; row < present.size(); ++row) {
            const QString plain = QStringLiteral("Game %1").arg(row);
            ASSERT_EQ(RowText(*form.GameDescs, static_cast<int>(row)), present[row] ? plain : MissingMark + plain)
                << when << ", row " << row;
        }
    }
    // A catalogue of games g0, g1, ... described "Game 0", "Game 1", ...
    static std::string Catalogue(int games)
    {
        std::string text = "[games]\n";
        for (int i = 0; i < games; ++i)
            text += "g" + std::to_string(i) + "=Game " + std::to_string(i) + "\n";
        return text;
    }
    // Archives for every game whose number has the given remainder by 2, under zipDir.
    std::vector<bool> MakeArchives(const std::string& zipDir, int games, int remainder)
    {
        std::vector<bool> present;
        for (int i = 0; i < games; ++i) {
            present.push_back(i % 2 == remainder);
            if (present.back())
                program.Write(zipDir + "/g" + std::to_string(i) + ".zip", "PK");
        }
        return present;
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

// Every way a game's files can stand, the archives in any letter case.
TEST_F(GameListTest, RowsScrolledToAtOnceAndTheRestCarryTheMarksOfAFullCheck)
{
    constexpr int GameCount = 2000;
    std::vector<bool> present;
    for (int i = 0; i < GameCount; ++i) {
        const std::string name = "g" + std::to_string(i);
        switch (i % 6) {
        case 0:
            for (int f = 0; f < 5; ++f)
                program.Write("emu/" + name + "/rom" + std::to_string(f), "rom");
            present.push_back(true);
            break;
        case 1: program.Write("zips/" + name + ".ZIP", "PK"); present.push_back(true); break;
        case 2: program.Write("zips/G" + name.substr(1) + ".Zip", "PK"); present.push_back(true); break;
        case 3: program.MakeDir("zips/" + name + ".zip"); present.push_back(false); break;
        case 4:
            program.Write("elsewhere/" + name, "PK");
            fs::create_symlink(program / ("elsewhere/" + name), program / ("zips/" + name + ".zIP"));
            present.push_back(true);
            break;
        default: present.push_back(false); break;
        }
    }
    auto form = Start("[path]\nemudir=" + program / "emu" + "\nzipdir=" + program / "zips" + "\n" + Catalogue(GameCount));
    ASSERT_TRUE(Games(*form).CheckRunning());
    form->show();
    // The last rows drawn before the idle check reaches them: drawn with the marks of the disk.
    form->GameDescs->scrollToBottom();
    form->GameDescs->setCurrentRow(GameCount - 1);
    form->GameDescs->viewport()->repaint();
    EXPECT_TRUE(Games(*form).CheckRunning());
    EXPECT_EQ(form->ButtonExecute->text(), present.back() ? "Ejecute!" : "No ROMs!");
    WaitForTheCheck(*form);
    ExpectMarks(*form, present, "after the first check");

    // A new archive for every missing game and a pick of the same ZIP directory: every row again.
    for (int i = 0; i < GameCount; ++i)
        if (!present[i] && i % 6 != 3) {
            program.Write("zips/g" + std::to_string(i) + ".zip", "PK");
            present[i] = true;
        }
    dialogs.fileAnswers = {QString::fromStdString(program / "zips/any.zip")};
    form->ZipOpenButton->click();
    form->GameDescs->viewport()->repaint();
    WaitForTheCheck(*form);
    ExpectMarks(*form, present, "after the pick");
}

TEST_F(GameListTest, APickDuringTheBackgroundCheckNeverMixesTheTwoChecks)
{
    constexpr int GameCount = 20000;
    MakeArchives("first", GameCount, 0);
    const std::vector<bool> second = MakeArchives("second", GameCount, 1);
    auto form = Start("[path]\nzipdir=" + program / "first" + "\n" + Catalogue(GameCount));
    form->show();
    // Part of the first check made, rows drawn by it included.
    QCoreApplication::processEvents();
    form->GameDescs->viewport()->repaint();
    ASSERT_TRUE(Games(*form).CheckRunning());

    dialogs.fileAnswers = {QString::fromStdString(program / "second/g1.zip")};
    form->ZipOpenButton->click();
    EXPECT_EQ(form->ButtonExecute->text(), "No ROMs!") << "the first game has no archive in the second directory";
    WaitForTheCheck(*form);
    ExpectMarks(*form, second, "after a pick in the middle of the check");
}

TEST_F(GameListTest, QuittingDuringTheBackgroundCheckWritesTheSettingsWithoutWaitingForIt)
{
    constexpr int GameCount = 20000;
    MakeArchives("zips", GameCount, 0);
    auto form = Start("[path]\nzipdir=" + program / "zips" + "\n" + Catalogue(GameCount));
    form->show();
    QCoreApplication::processEvents();
    form->CheckJoy->setChecked(true);
    ASSERT_TRUE(Games(*form).CheckRunning());
    QTest::keyClick(form->GameDescs, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(Games(*form).CheckRunning()) << "the quit left the rest of the check undone";
    form.reset();
    const std::string ini = ReadAll(program / "kabinex.ini");
    EXPECT_NE(ini.find("enablejoystick=1"), std::string::npos);
    EXPECT_NE(ini.find("g19999=Game 19999"), std::string::npos);
}

TEST_F(GameListTest, ClicksOnTheEmptyPartOfTheListKeepTheHighlightOnTheSelectedGame)
{
    auto form = Start("[games]\nalpha=Alpha\nbeta=Beta\n");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    TGameListView& list = *form->GameDescs;
    QWidget* area = list.viewport();
    const QPoint empty(20, area->height() - 5);
    ASSERT_FALSE(list.indexAt(empty).isValid());
    auto highlighted = [&] { return list.selectionModel()->selectedIndexes(); };

    list.setCurrentRow(1);
    QTest::mouseClick(area, Qt::LeftButton, {}, empty);
    EXPECT_EQ(list.currentRow(), 1);
    ASSERT_EQ(highlighted().size(), 1);
    EXPECT_EQ(highlighted().front().row(), 1);
    EXPECT_EQ(form->SelectedGame(), "beta");

    // Pressed on the first game, dragged off the rows and let go there: the first game stays chosen.
    const QPoint first = list.visualRect(list.model()->index(0, 0)).center();
    QTest::mousePress(area, Qt::LeftButton, {}, first);
    QTest::mouseMove(area, empty);
    QTest::mouseRelease(area, Qt::LeftButton, {}, empty);
    EXPECT_EQ(list.currentRow(), 0);
    ASSERT_EQ(highlighted().size(), 1);
    EXPECT_EQ(highlighted().front().row(), 0);
}

TEST_F(GameListTest, TypingFindsGamesOverMarksLetterCaseAndAccents)
{
    program.Write("emu/volcano/rom", "");
    auto form = Start("[games]\nalpha=Alpha\nvolcan=Volc\xC3\xA1n\nvolcano=Volcano\nnandu=\xC3\x91" "and\xC3\xBA\n"
                      "dragon=Drag\xC3\xB3n Dorado\ndragonfly=Dragon fly\nzeta=\xC2\xB7\xC2\xB7 Zeta\n");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    TGameListView& list = *form->GameDescs;
    list.setFocus();
    ASSERT_EQ(RowText(list, 1), MissingMark + QString::fromUtf8("Volcán"));
    auto typed = [&](const char* keys) {
        QTest::keyClicks(&list, QString::fromUtf8(keys));
        return form->SelectedGame();
    };
    auto pause = [] { QTest::qWait(TGameListView::TypingPauseMs + 200); };

    EXPECT_EQ(typed("volc"), "volcan");
    pause();
    EXPECT_EQ(typed("V"), "volcano") << "a new text looks from the next game on";
    pause();
    EXPECT_EQ(typed("NAND"), "nandu");
    pause();
    EXPECT_EQ(typed("dragon f"), "dragonfly") << "a blank within the text is part of it";
    pause();
    EXPECT_EQ(typed("DRAGÓ"), "dragon");
    pause();
    EXPECT_EQ(typed("zet"), "zeta") << "a mark that stands in the file is no part of the description";
    pause();
    EXPECT_EQ(typed("qq"), "zeta") << "nothing found: the selection stays";

    // Arrows, Enter and Escape keep their meaning right after typing.
    pause();
    EXPECT_EQ(typed("al"), "alpha");
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(form->SelectedGame(), "volcan");
    QSignalSpy launches(form->ButtonExecute, &QPushButton::clicked);
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(launches.count(), 1);
    QTest::keyClick(&list, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
}

TEST(TypeToFindTest, LettersMatchWhateverTheirCaseAndAccents)
{
    EXPECT_TRUE(BeginsWithFolded("Volc\xC3\xA1n", FoldedForFind(u"VOLCA")));
    EXPECT_TRUE(BeginsWithFolded("\xC3\x91u", FoldedForFind(u"nU")));
    // Decomposed accents on either side.
    EXPECT_TRUE(BeginsWithFolded("Volca\xCC\x81n", FoldedForFind(u"volcán")));
    EXPECT_TRUE(BeginsWithFolded("\xC3\x89l", FoldedForFind(u"E\u0301L")));
    EXPECT_TRUE(BeginsWithFolded("\xCE\x86lfa", FoldedForFind(u"\u03B1")));
    EXPECT_TRUE(BeginsWithFolded("anything", FoldedForFind(u"")));
    EXPECT_FALSE(BeginsWithFolded("Volcan", FoldedForFind(u"volcanes")));
    EXPECT_FALSE(BeginsWithFolded("Vol\xE1n", FoldedForFind(u"vola"))) << "a byte that is no UTF-8 matches nothing";
    EXPECT_FALSE(BeginsWithFolded("Vol\xC3", FoldedForFind(u"vol\u00E1"))) << "a cut character matches nothing";
    EXPECT_FALSE(BeginsWithFolded("ab", FoldedForFind(u"b")));
}

TEST_F(GameListTest, AHugeDescriptionIsDrawnFromItsStartAndKeptWhole)
{
    const std::string huge(10 << 20, 'x');
    auto form = Start("[games]\nbig=" + huge + "\nsmall=Small\n");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QModelIndex first = form->GameDescs->model()->index(0, 0);
    EXPECT_EQ(first.data().toString().size(), MissingMark.size() + qsizetype(huge.size()));
    const QString shown = first.data(TGameListModel::ShownTextRole).toString();
    EXPECT_EQ(shown, MissingMark + QString(TGameListModel::ShownCharacters, QLatin1Char('x')));
    form->GameDescs->viewport()->repaint();
    QTest::keyClick(form->GameDescs, Qt::Key_Escape);
    form.reset();
    EXPECT_NE(ReadAll(program / "kabinex.ini").find("big=" + huge + "\n"), std::string::npos);
}

} // namespace
