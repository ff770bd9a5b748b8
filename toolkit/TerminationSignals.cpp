#include "TerminationSignals.h"

#include "SysUtils.h"

#include <QApplication>
#include <QEvent>
#include <QSessionManager>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::array<int, 3> EndSignals = {SIGTERM, SIGHUP, SIGINT};

// The handler only writes to a pipe; the event loop reads it and does the work.
int requestPipe[2] = {-1, -1};

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(requestPipe[1], &byte, 1);
    errno = saved;
}

// The toolkit ends the process with exit() when it loses the X server.
std::function<void()> saveAtExit;

void SaveAtExit()
{
    if (saveAtExit)
        std::exchange(saveAtExit, nullptr)();
}

void EndNow()
{
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace

TTerminationSignals::TTerminationSignals(std::function<void()> quit, std::function<void()> save)
    : quit_(std::move(quit)), save_(std::move(save))
{
    if (requestPipe[0] < 0 && ::pipe2(requestPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        std::perror("Kabinex: pipe");
    notifier_ = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TTerminationSignals::Requested);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : EndSignals)
        ::sigaction(signal, &action, nullptr);

    static const bool exitHookInstalled = std::atexit(SaveAtExit) == 0;
    (void)exitHookInstalled;
    saveAtExit = [this] { SaveOnce(); };
    qApp->installEventFilter(this);
    // Sent before the session ends; the session may still be cancelled, so nothing quits here.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (armed_)
            TrySave();
    }, Qt::DirectConnection);
}

TTerminationSignals::~TTerminationSignals()
{
    for (const int signal : EndSignals)
        std::signal(signal, SIG_DFL);
    saveAtExit = nullptr;
}

void TTerminationSignals::Disarm()
{
    armed_ = false;
    saveAtExit = nullptr;
}

bool TTerminationSignals::eventFilter(QObject* watched, QEvent* event)
{
    // The session manager's last word is a quit for the whole application. With a modal window
    // open it would end that window's loop as a cancel and run on from there.
    if (watched == qApp && event->type() == QEvent::Quit && armed_ && QApplication::activeModalWidget()) {
        SaveOnce();
        EndNow();
    }
    return false;
}

void TTerminationSignals::Requested()
{
    char bytes[64];
    while (::read(requestPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (!armed_)
        EndNow();
    if (quitting_ || QApplication::activeModalWidget()) {
        SaveOnce();
        EndNow();
    }
    quitting_ = true;
    quit_();
}

void TTerminationSignals::SaveOnce()
{
    if (!std::exchange(armed_, false))
        return;
    saveAtExit = nullptr;
    TrySave();
}

void TTerminationSignals::TrySave()
{
    // No one may be there to see a message box: the reason goes to the error output.
    try {
        save_();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Kabinex: %s\n", error.what());
    }
}
