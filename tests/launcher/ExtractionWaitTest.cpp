// The wait for a slow or stuck extraction, with real scripts and the real unzip tool: input given
// meanwhile is not replayed, Escape and closing the window cancel, progress shows through the hook.
#include "FmProgr.h"
#include "LaunchFixture.h"
#include "Locks.h"
#include "progress.h"

#include <QTimer>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

// Whether a process runs the command line "sleep SECONDS" (the stuck unzip tools below).
bool SleepRuns(const std::string& seconds)
{
    const std::string wanted = std::string("sleep") + '\0' + seconds + '\0';
    bool found = false;
    DIR* proc = opendir("/proc");
    while (const dirent* entry = readdir(proc))
        if (std::atoi(entry->d_name) > 0 && ReadAll(std::string("/proc/") + entry->d_name + "/cmdline") == wanted) {
            std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
            std::string text;
            std::getline(stat, text);
            found = found || text.substr(text.rfind(')') + 2, 1) != "Z";
        }
    closedir(proc);
    return found;
}

class ExtractionWaitTest : public LaunchTest {
protected:
    // Calls action from the event loop once the file exists.
    void Once(const std::string& file, std::function<void()> action)
    {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, file, action] {
            if (!fs::exists(file))
                return;
            timer->stop();
            timer->deleteLater();
            action();
        });
        timer->start(10);
    }

    // The form shown, with a game present on disk to show that it is usable afterwards.
    std::unique_ptr<TForm1> StartShown(const std::string& unzipper)
    {
        MakeZip("ninja", {"a", "b", "c", "d", "e"});
        MakeGameFiles("pulsar", 5);
        auto form = Start("ninja=Ninja\npulsar=Pulsar\n", "unzipper=" + unzipper + "\n");
        form->show();
        return form;
    }

    void ExpectNothingLeft(TForm1& form)
    {
        EXPECT_FALSE(fs::exists(emu + "/ninja")) << "what it extracted is removed";
        for (const auto& entry : fs::directory_iterator(emu))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".kabinex-")) << entry.path();
        EXPECT_FALSE(fs::exists(emu + "/lockfile.bat"));
        EXPECT_FALSE(fs::exists(emu + "/lockfile.$$$"));
        EXPECT_TRUE(RecordFiles().empty());
        EXPECT_EQ(form.Caption(), "Kabinex");
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
        EXPECT_TRUE(Runs().empty());
    }
};

TEST_F(ExtractionWaitTest, KeysAndClicksDuringTheWaitAreNotReplayed)
{
    const std::string go = root / "go";
    auto form = StartShown(UnzipOnceExists(go));
    Once(emu + "/lockfile.$$$", [&] {
        QTest::keyClick(form.get(), Qt::Key_Return);
        QCoreApplication::postEvent(form->GameDescs, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        QCoreApplication::postEvent(form->GameDescs, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier));
        QTest::mouseClick(form->ButtonExecute, Qt::LeftButton);
        QTimer::singleShot(50, [&] { root.Write("go", ""); });
    });
    Launch(*form, 0);
    WaitUntilEnded(*form, emu + "/ninja");
    QTest::qWait(100);
    EXPECT_EQ(Runs().size(), 1u) << dialogs.messages.join('|').toStdString();
    EXPECT_FALSE(fs::exists(emu + "/ninja"));
}

TEST_F(ExtractionWaitTest, EscapeEndsAStuckExtraction)
{
    const std::string extracted = root / "extracted";
    auto form = StartShown("f() { unzip \"$@\"; touch '" + extracted + "'; sleep 1357; }; f");
    Once(extracted, [&] {
        EXPECT_EQ(form->Caption(), "Kabinex-extrayendo  ROMs");
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        QTest::keyClick(form.get(), Qt::Key_Escape);
    });
    Launch(*form, 0);
    EXPECT_FALSE(SleepRuns("1357")) << "the unzip tool ends with its script";
    EXPECT_TRUE(form->isVisible()) << "Escape cancels the extraction, not the program";
    ExpectNothingLeft(*form);

    // Usable at once; the unzip tool "sleep 1000;" from the settings never ends by itself.
    form = StartShown("sleep 1000;");
    Once(emu + "/lockfile.$$$", [&] { QTest::keyClick(form.get(), Qt::Key_Escape); });
    Launch(*form, 0);
    ExpectNothingLeft(*form);
    Launch(*form, 1);
    WaitUntilEnded(*form, emu + "/pulsar");
    EXPECT_EQ(Runs().size(), 1u);

    // Waiting for another Kabinex's turn with the lock file and the script: Escape cancels that
    // too, and neither file is touched.
    fs::remove(record);
    form = StartShown("unzip");
    {
        const platform::TDirectoryLock otherTurn = platform::TDirectoryLock::Take(emu, platform::TLockKind::Exclusive);
        ASSERT_TRUE(otherTurn.Held());
        root.Write("emu/lockfile.bat", "theirs");
        QTimer::singleShot(300, [&] { QTest::keyClick(form.get(), Qt::Key_Escape); });
        Launch(*form, 0);
        EXPECT_EQ(ReadAll(emu + "/lockfile.bat"), "theirs");
        fs::remove(emu + "/lockfile.bat");
        ExpectNothingLeft(*form);
    }
    Launch(*form, 0);
    EXPECT_EQ(Entries("ninja").size(), 5u) << "its turn once the other's has ended";
    WaitUntilEnded(*form, emu + "/ninja");
}

TEST_F(ExtractionWaitTest, ClosingTheWindowCancelsTheExtractionAndCloses)
{
    // Closed at once, and again after the unzip tool has put files down, every time.
    for (int round = 0; round < 3; ++round) {
        const std::string extracted = root / ("extracted" + std::to_string(round));
        auto form = StartShown(round == 0 ? "sleep 1358;"
                                          : "f() { unzip \"$@\"; touch '" + extracted + "'; sleep 1358; }; f");
        Once(round == 0 ? emu + "/lockfile.$$$" : extracted, [&] { form->close(); });
        Launch(*form, 0);
        EXPECT_FALSE(SleepRuns("1358"));
        EXPECT_FALSE(form->isVisible()) << round;
        ExpectNothingLeft(*form);
        EXPECT_TRUE(Runs().empty());
    }
}

TEST_F(ExtractionWaitTest, ClosingTheProgressWindowCancelsAsEscapeDoes)
{
    CreateProgressForm();
    const std::string extracted = root / "extracted";
    auto form = StartShown("f() { unzip \"$@\"; touch '" + extracted + "'; sleep 1359; }; f");
    bool closed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (closed || !ProgressForm->isVisible() || !fs::exists(extracted))
            return;
        closed = true;
        ProgressForm->close(); // as its title bar's close button does
    });
    poll.start(10);
    Launch(*form, 0);
    poll.stop();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(SleepRuns("1359")) << "the unzip tool ends with its script";
    EXPECT_FALSE(ProgressForm->isVisible());
    EXPECT_TRUE(form->isVisible()) << "it cancels the extraction, not the program";
    ExpectNothingLeft(*form);
    EXPECT_TRUE(Runs().empty()) << "nothing starts";
    DestroyProgressForm();
}

std::vector<float> reported;
std::vector<bool> windowShown;

void RecordProgress(float fraction)
{
    reported.push_back(fraction);
    ProgressToWindow(fraction);
    windowShown.push_back(ProgressForm->isVisible());
}

TEST_F(ExtractionWaitTest, ALongWaitShowsTheShareOfTheArchiveRead)
{
    CreateProgressForm();
    ProgressHook = RecordProgress;
    reported.clear();
    windowShown.clear();
    // Stored, so the archive is its members: the first one (three quarters of it) comes out at
    // once, the rest once progress has shown. The share is what the tools have read (the unzip
    // tool looks for the directory at the end in the last 64 KiB too), the first one's included
    // although it has ended; it never walks the files.
    root.Write("staging/ninja/big", std::string(2400000, 'x'));
    root.Write("staging/ninja/rest", std::string(800000, 'y'));
    for (const char* small : {"c", "d", "e"})
        root.Write(std::string("staging/ninja/") + small, small);
    root.MakeDir("zips");
    ASSERT_EQ(std::system(("cd '" + root / "staging/ninja" + "' && zip -q -0 '" + root / "zips/ninja.zip" + "' big rest c d e")
                              .c_str()),
              0);
    const std::string go = root / "go";
    ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
    auto form = Start("ninja=Ninja\n", "unzipper=f() { unzip -n \"$2\" big -d \"$4\"; read go < '" + go +
                                           "'; unzip \"$@\"; }; f\n");
    bool released = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!reported.empty() && !released) {
            released = true;
            std::ofstream(go) << "go\n";
        }
    });
    poll.start(10);
    Launch(*form, 0);
    DestroyProgressForm();

    ASSERT_GE(reported.size(), 2u);
    EXPECT_NEAR(reported.front(), 0.77, 0.03);
    EXPECT_TRUE(windowShown.front());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end() - 1)) << "the needle never goes back";
    EXPECT_EQ(reported.back(), 1.0f);
    EXPECT_FALSE(windowShown.back()) << "hidden when the wait ends";
    WaitUntilEnded(*form, emu + "/ninja");
    EXPECT_EQ(Runs().size(), 1u);
}

} // namespace
