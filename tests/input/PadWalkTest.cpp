// Kabinex driven by pads alone, through SDL's virtual joysticks: the real main window, the read-me
// viewer, a real message box, the about window, the progress window of an extraction, a stand-in
// game that owns the pad while it runs, and the quit by Back and Start held.
#include "../launcher/LaunchFixture.h"
#include "FmProgr.h"
#include "GameList.h"
#include "PadInput.h"
#include "Unit2.h"
#include "Unit4.h"
#include "VirtualPads.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

struct TWalkStep {
    const char* what;
    std::function<bool()> done; // acts, or checks; the walk waits until it returns true
};

class PadWalkTest : public LaunchTest {
protected:
    // Runs the steps from a timer, one a tick, so that they go on inside the modal windows the pad
    // opens and the keys posted by one step have arrived by the next.
    static void Walk(const std::vector<TWalkStep>& steps)
    {
        std::size_t next = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (next < steps.size() && steps[next].done())
                ++next;
        });
        timer.start(5);
        const bool finished = QTest::qWaitFor([&] { return next == steps.size(); }, 60000); // hang guard
        EXPECT_TRUE(finished) << "stuck at: " << steps[std::min(next, steps.size() - 1)].what;
    }

    // A button pressed and let go between two reads, then read.
    static std::function<bool()> Click(TVirtualPad& pad, int button, TPadInput& pads)
    {
        return [&pad, button, &pads] {
            pad.Button(button, true);
            pads.Poll();
            pad.Button(button, false);
            pads.Poll();
            return true;
        };
    }

    std::int64_t now = 0;
};

TEST_F(PadWalkTest, EveryWindowByPadAndStick)
{
    if (ProgressForm == nullptr)
        CreateProgressForm();
    MakeGameFiles("alpha", 7);
    MakeZip("zeta", {"a", "b"});
    for (const char* game : {"b", "c", "d", "e", "f"})
        MakeGameFiles(game, 7);
    root.Write(fs::path(emu).lexically_relative(root.Path()).string() + "/readme.txt", "mave readme");
    root.Write("prog/KABINEX.TXT", "kabinex readme");
    const std::string go = root / "go";
    const std::string gameOver = root / "game-over";
    setenv("MAVE_STANDIN_UNTIL", gameOver.c_str(), 1);
    auto form = Start("alpha=Alpha\nb=B\nc=C\nd=D\ne=E\nf=F\nzeta=Zeta\n", "unzipper=" + UnzipOnceExists(go) + "\n");
    TAboutBox about;
    TForm2 viewer([&] { return ToStd(form->MaveDir->text()); }, [&] { return form->ProgramDir(); });
    form->SetAuxiliaryWindows(&about, &viewer);
    form->show();
    TPadInput pads({form.get(), form->ButtonHelp, ProgressForm, [&] { return form->Runs().AnyRunning(); }},
                   [this] { return now; });
    TVirtualPad pad(true);
    TVirtualPad stick(false);
    auto row = [&] { return form->GameDescs->currentRow(); };
    auto active = [](QWidget& window) { return [&window] { return window.isActiveWindow(); }; };
    auto at = [&](std::int64_t time) {
        return [&, time] {
            now = time;
            pads.Poll();
            return true;
        };
    };
    auto rowIs = [&](int wanted) { return [&, wanted] { return row() == wanted; }; };
    auto viewIs = [&](TGameView wanted) {
        return [&, wanted] { return static_cast<TGameListModel*>(form->GameDescs->model())->View() == wanted; };
    };
    auto expectRow = [&](int wanted, const char* why) {
        return [&, wanted, why] {
            EXPECT_EQ(row(), wanted) << why;
            return true;
        };
    };
    Walk({
        {"main window active", active(*form)},
        {"both devices seen", [&] { pads.Poll(); return pads.Devices() == 2; }},
        {"pad down held", [&] { pad.Button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true); return at(1000)(); }},
        {"one row down", rowIs(1)},
        {"399 ms later", at(1399)},
        {"no repeat yet", expectRow(1, "no repeat before 400 ms")},
        {"400 ms", at(1400)},
        {"first repeat", rowIs(2)},
        {"then 80 ms", at(1480)},
        {"second repeat", rowIs(3)},
        {"let go", [&] { pad.Button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, false); return at(1500)(); }},
        {"long after", at(3000)},
        {"no repeat after the release", expectRow(3, "released")},
        {"stick hat up", [&] { stick.Hat(0, SDL_HAT_UP); at(3100)(); stick.Hat(0, SDL_HAT_CENTERED); return at(3100)(); }},
        {"one row up", rowIs(2)},
        {"stick axis down", [&] { stick.Axis(1, 32767); at(3200)(); stick.Axis(1, 0); return at(3200)(); }},
        {"one row down again", rowIs(3)},
        {"B in the main window", Click(stick, 1, pads)},
        {"B did nothing", [&] { EXPECT_TRUE(form->isVisible()); return expectRow(3, "B")(); }},
        // The list has views: the shoulders step through them, the selection staying on its game.
        {"right shoulder", Click(pad, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, pads)},
        {"the next view", viewIs(TGameView::Available)},
        {"same game", expectRow(3, "the available view shows every game here")},
        {"left shoulder", Click(pad, SDL_CONTROLLER_BUTTON_LEFTSHOULDER, pads)},
        {"back to every game", viewIs(TGameView::All)},
        {"right on the pad: a page down", [&] { pad.Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true); at(3250)();
                                               pad.Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false); return at(3250)(); }},
        {"last row", rowIs(6)},
        {"left on the pad: a page up", [&] { pad.Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true); at(3300)();
                                            pad.Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false); return at(3300)(); }},
        {"first row", rowIs(0)},
        // Back alone: the read-me viewer, on the emulator's read-me with the focus on its close button.
        {"Back", Click(pad, SDL_CONTROLLER_BUTTON_BACK, pads)},
        {"viewer open", active(viewer)},
        {"right: to the other button", Click(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, pads)},
        {"focus on it", [&] { return viewer.Button1->hasFocus(); }},
        {"A presses it", Click(stick, 0, pads)},
        {"the other read-me", [&] { return viewer.Memo1->toPlainText() == "kabinex readme"; }},
        {"B closes the viewer", Click(pad, SDL_CONTROLLER_BUTTON_B, pads)},
        {"back in the main window", active(*form)},
        // A real message box: Help without an emulator directory warns.
        {"Back without a directory", [&] {
             SetDialogs(nullptr);
             form->MaveDir->setText(NotDefinedMarker);
             return Click(pad, SDL_CONTROLLER_BUTTON_BACK, pads)();
         }},
        {"warning shown", [] { auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                               return box && box->isActiveWindow(); }},
        {"A closes it", Click(pad, SDL_CONTROLLER_BUTTON_A, pads)},
        {"box gone", [&] { return QApplication::activeModalWidget() == nullptr && form->isActiveWindow(); }},
        {"about window", [&] {
             SetDialogs(&dialogs);
             form->MaveDir->setText(QString::fromStdString(emu + "/"));
             QMetaObject::invokeMethod(form->ButtonAbout, &QAbstractButton::click, Qt::QueuedConnection);
             return true;
         }},
        {"about open", active(about)},
        {"Start alone is A", Click(pad, SDL_CONTROLLER_BUTTON_START, pads)},
        {"about closed", [&] { return !about.isVisible() && form->isActiveWindow(); }},
        // The extraction waits for a file that never comes; its progress window shows, and B cancels.
        {"zeta launched by A", [&] { form->GameDescs->setCurrentRow(6); return Click(pad, SDL_CONTROLLER_BUTTON_A, pads)(); }},
        {"progress shown", [] { return ProgressForm->isVisible(); }},
        {"B cancels", Click(stick, 1, pads)},
        {"wait over", [&] { return !ProgressForm->isVisible() && form->Caption() == "Kabinex" && !fs::exists(emu + "/zeta"); }},
        // The progress window took the focus when it showed; hidden, it leaves none, and a
        // window manager hands it back to the main window (the offscreen platform does not).
        {"focus handed back", [&] { form->activateWindow(); return true; }},
        {"main active after the wait", active(*form)},
        {"nothing ran", [&] { EXPECT_TRUE(Runs().empty()); EXPECT_TRUE(form->isVisible()); return true; }},
        // While the stand-in game runs the pad is the game's.
        {"alpha launched by A", [&] { form->GameDescs->setCurrentRow(0); return Click(pad, SDL_CONTROLLER_BUTTON_A, pads)(); }},
        {"game running", [&] { return form->Runs().AnyRunning() && Runs().size() == 1; }},
        {"down and A during the game", [&] {
             pad.Button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
             stick.Button(0, true);
             at(5000)();
             stick.Button(0, false);
             return at(5000)();
         }},
        {"let go and held on", [&] { pad.Button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, false); return at(6000)(); }},
        {"ignored", [&] {
             EXPECT_EQ(form->Runs().Running(emu + "/alpha"), 1) << "A launched nothing more";
             return expectRow(0, "during the game")();
         }},
        {"game ends", [&] { root.Write("game-over", ""); return !form->Runs().AnyRunning(); }},
        {"down after the game", Click(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN, pads)},
        {"the pad is Kabinex's again", rowIs(1)},
        // Back and Start together: two seconds to quit, as Escape does.
        {"Back and Start held", [&] {
             pad.Button(SDL_CONTROLLER_BUTTON_BACK, true);
             pad.Button(SDL_CONTROLLER_BUTTON_START, true);
             return at(10000)();
         }},
        {"1999 ms", at(11999)},
        {"still open", [&] { EXPECT_TRUE(form->isVisible()); EXPECT_EQ(row(), 1); return true; }},
        {"2000 ms", at(12000)},
        {"closed", [&] { return !form->isVisible(); }},
    });
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    SetDialogs(&dialogs);
}

} // namespace
