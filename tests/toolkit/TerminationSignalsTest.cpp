// Real signals sent to the test process reach the quit routine through the event loop, and the
// signals' default actions come back when the object goes. The ends that leave no way out through
// quit (a modal window open, the toolkit ending the process) each run in a child process.
#include "TerminationSignals.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Runs the event loop until done() holds; the cap only guards against a hang.
template <typename Done>
void ProcessEventsUntil(Done done)
{
    for (int i = 0; i < 3000 && !done(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(TerminationSignals, EachEndSignalQuitsOnceThroughTheEventLoop)
{
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        int quits = 0;
        int saves = 0;
        {
            TTerminationSignals termination([&] { ++quits; }, [&] { ++saves; });
            ASSERT_EQ(::raise(signal), 0);
            EXPECT_EQ(quits, 0) << "the handler itself must leave the work to the event loop";
            ProcessEventsUntil([&] { return quits > 0; });
            QCoreApplication::processEvents();
            EXPECT_EQ(quits, 1) << signal;
            // Quitting saves on its own way out; nothing is saved twice.
            EXPECT_EQ(saves, 0) << signal;
        }
        struct sigaction action {};
        ::sigaction(signal, nullptr, &action);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
    }
}

// What the child says on its error output: which of the two routines ran.
void SayQuit()
{
    std::fputs("quit ran\n", stderr);
}
void SaySaved()
{
    std::fputs("save ran\n", stderr);
}

using testing::AllOf;
using testing::HasSubstr;
using testing::Not;

// A modal window's own loop would run on as if the user had cancelled it.
void RunModalWindowThen(void (*endRequest)())
{
    TTerminationSignals termination(SayQuit, SaySaved);
    QDialog dialog;
    // Once the request has had its turn, the window closes as a cancel would close it.
    QTimer::singleShot(0, [&] {
        endRequest();
        QCoreApplication::processEvents();
        dialog.reject();
    });
    dialog.exec();
    std::fputs("the modal window's loop ran on\n", stderr);
    std::exit(3);
}

TEST(TerminationSignalsDeathTest, ASignalWithAModalWindowOpenSavesAndEndsAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunModalWindowThen([] { ::raise(SIGTERM); }), testing::ExitedWithCode(0),
                AllOf(HasSubstr("save ran"), Not(HasSubstr("quit ran")), Not(HasSubstr("ran on"))));
}

TEST(TerminationSignalsDeathTest, TheSessionsQuitWithAModalWindowOpenSavesAndEndsAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // As the session manager's last callback does it.
    EXPECT_EXIT(RunModalWindowThen([] {
                    QEvent quit(QEvent::Quit);
                    QCoreApplication::sendEvent(qApp, &quit);
                }),
                testing::ExitedWithCode(0),
                AllOf(HasSubstr("save ran"), Not(HasSubstr("quit ran")), Not(HasSubstr("ran on"))));
}

TEST(TerminationSignalsDeathTest, TheToolkitEndingTheProcessSavesFirstUnlessDisarmed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // As the toolkit does when it loses the X server.
    EXPECT_EXIT(
        {
            TTerminationSignals termination(SayQuit, SaySaved);
            std::exit(1);
        },
        testing::ExitedWithCode(1), AllOf(HasSubstr("save ran"), Not(HasSubstr("quit ran"))));
    EXPECT_EXIT(
        {
            TTerminationSignals termination(SayQuit, SaySaved);
            termination.Disarm();
            std::exit(1);
        },
        testing::ExitedWithCode(1), Not(HasSubstr("save ran")));
}

// Static destructors that exit() would run under the live application and the toolkit's threads
// can abort the process: the toolkit's end skips them, whenever the static was made.
struct TAbortsWhenDestroyed {
    ~TAbortsWhenDestroyed()
    {
        std::fputs("static destructor ran\n", stderr);
        std::abort();
    }
};

TEST(TerminationSignalsDeathTest, TheToolkitEndingTheProcessRunsNoStaticDestructorUnderTheApplication)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto madeBefore = [] {
        static TAbortsWhenDestroyed before;
        TTerminationSignals termination(SayQuit, SaySaved);
        termination.Disarm(); // on the way out after the event loop ended
        std::exit(1);
    };
    EXPECT_EXIT(madeBefore(), testing::ExitedWithCode(1), Not(HasSubstr("static destructor ran")));
    // As the toolkit does when it loses the X server: it says so, then calls exit(1).
    const auto madeAfter = [] {
        TTerminationSignals termination(SayQuit, SaySaved);
        static TAbortsWhenDestroyed after;
        qWarning("The X11 connection broke (error 1). Did the X11 server die?");
        std::exit(1);
    };
    EXPECT_EXIT(madeAfter(), testing::ExitedWithCode(1),
                AllOf(HasSubstr("save ran"), HasSubstr("connection broke"), Not(HasSubstr("static destructor ran"))));
}

} // namespace
