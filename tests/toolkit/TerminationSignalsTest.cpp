// Real signals sent to the test process reach the quit routine through the event loop, and the
// signals' default actions come back when the object goes.
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <csignal>

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

} // namespace
