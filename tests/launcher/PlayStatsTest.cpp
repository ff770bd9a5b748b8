// Play statistics from real runs of the stand-in emulator: two Kabinex whose games end at the same
// moment, plays added from two threads at once under the lock, and a damaged played.tsv.
#include "LaunchFixture.h"
#include "PlayStats.h"

#include <QDate>
#include <thread>

namespace {

class PlayStatsTest : public LaunchTest {
protected:
    std::string Played() const { return root / "state/kabinex/played.tsv"; }
    long long PlaysInFile() const
    {
        const TPlayStats stats = LoadPlayStats(Played());
        long long plays = 0;
        for (const char* game : {"ninja", "galaga"})
            if (const TPlayRecord* r = stats.Find(game))
                plays += r->plays;
        return plays;
    }
};

TEST_F(PlayStatsTest, TwoKabinexEndingGamesAtOnceKeepEveryPlayWithItsTime)
{
    MakeGameFiles("ninja", 5);
    MakeGameFiles("galaga", 5);
    const std::string go = root / "go";
    setenv("MAVE_STANDIN_SECONDS", "0", 1);
    setenv("MAVE_STANDIN_UNTIL", go.c_str(), 1);
    auto first = Start("ninja=Ninja\ngalaga=Galaga\n");
    std::unique_ptr<TForm1> second;
    {
        CurrentDirScope here(root / "prog");
        second = std::make_unique<TForm1>();
    }
    first->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first.get()));
    EXPECT_EQ(first->GameDescs->toolTip(), "Escoja un ROM\nNunca jugado");
    Launch(*first, 0);
    Launch(*second, 0);
    Launch(*second, 1);
    QTest::qWait(2100); // every game runs at least two seconds
    root.Write("go", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return PlaysInFile() == 3; }, 30000)) << ReadAll(Played());

    const TPlayStats stats = LoadPlayStats(Played());
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    const TPlayRecord* ninja = stats.Find("ninja");
    const TPlayRecord* galaga = stats.Find("galaga");
    ASSERT_TRUE(ninja && galaga);
    EXPECT_EQ(ninja->plays, 2);
    EXPECT_GE(ninja->seconds, 4);
    EXPECT_EQ(galaga->plays, 1);
    EXPECT_GE(galaga->seconds, 2);
    EXPECT_TRUE(QString::fromStdString(galaga->last).startsWith(today + "T")) << galaga->last;

    // A third play, seen in the tooltip of the Kabinex that made it.
    Launch(*first, 0);
    WaitUntilEnded(*first, emu + "/ninja");
    ASSERT_TRUE(QTest::qWaitFor([&] { return PlaysInFile() == 4; }, 30000));
    EXPECT_EQ(first->GameDescs->toolTip(),
              "Escoja un ROM\nJugado 3 veces, la última el " + QDate::currentDate().toString("dd/MM/yyyy") + ", 0 min en total");
}

TEST_F(PlayStatsTest, PlaysAddedFromTwoThreadsAtOnceAreAllKept)
{
    constexpr int PlaysEach = 150;
    const QDateTime started = QDateTime::currentDateTime();
    auto play = [&](const char* game) {
        for (int i = 0; i < PlaysEach; ++i)
            RecordPlay(Played(), game, started, 2);
    };
    std::thread other(play, "galaga");
    play("ninja");
    other.join();
    const TPlayStats stats = LoadPlayStats(Played());
    ASSERT_TRUE(stats.Find("ninja") && stats.Find("galaga"));
    EXPECT_EQ(stats.Find("ninja")->plays, PlaysEach);
    EXPECT_EQ(stats.Find("galaga")->seconds, 2 * PlaysEach);
}

TEST_F(PlayStatsTest, ADamagedFileIsReadAroundAndItsForeignLinesKept)
{
    const std::string foreign = std::string("\xFF\xFE garbage\0here\n", 17) + "galaga\t-1\t2026-01-02T03:04:05\t5\n"
        + "tab\tonly\n" + "zzz\t1\tnot-a-date\t3\n" + "ninja\t9\t2026-01-02T03:04:05\t60\textra\n";
    root.Write("state/kabinex/played.tsv", "ninja\t2\t2026-01-02T03:04:05\t60\n" + foreign
                                               + "pacman\t1\t2026-02-03T04:05:06\t7\r\n"
                                                 "long\t3\t2026-12-08T20:00:00\t4800\n");
    const TPlayStats stats = LoadPlayStats(Played());
    EXPECT_EQ(stats.Find("galaga"), nullptr);
    EXPECT_EQ(stats.Find("zzz"), nullptr);
    ASSERT_NE(stats.Find("pacman"), nullptr);
    EXPECT_EQ(PlayFigures(stats.Find("long")), "Jugado 3 veces, la última el 08/12/2026, 1 h 20 min en total");
    EXPECT_EQ(PlayFigures(stats.Find("pacman")), "Jugado 1 vez, la última el 03/02/2026, 0 min en total");

    MakeGameFiles("ninja", 5);
    auto form = Start("ninja=Ninja\n");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->GameDescs->toolTip(), "Escoja un ROM\nJugado 2 veces, la última el 02/01/2026, 1 min en total");
    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/ninja");
    ASSERT_TRUE(QTest::qWaitFor([&] { return PlaysInFile() == 3; }, 30000));
    const std::string text = ReadAll(Played());
    EXPECT_TRUE(text.starts_with("ninja\t3\t")) << text;
    EXPECT_NE(text.find("pacman\t1\t2026-02-03T04:05:06\t7\nlong\t3\t2026-12-08T20:00:00\t4800\n" + foreign),
              std::string::npos)
        << "the records, then every line that is none, as it stood";
}

} // namespace
