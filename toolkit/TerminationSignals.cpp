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

// That exit() may come anywhere: in the event loop, in a modal window, on the way out after the
// event loop ended. The application, its windows and the toolkit's own threads are alive then, and
// the static destructors exit() would go on to run under them can abort the process. So after the
// save the process ends at once, with the toolkit's status; once the application is gone (main
// returned), exit() goes its ordinary way.
void EndAtExit(int status, void*)
{
    if (saveAtExit)
        std::exchange(saveAtExit, nullptr)();
    if (QCoreApplication::instance() == nullptr)
        return;
    std::fflush(nullptr);
    std::_Exit(status);
}

// Exit handlers run last registered first, so the destructors of statics made after this object
// would still run before EndAtExit. The toolkit says why it ends just before its exit(1): the
// process ends there already.
constexpr char ConnectionLost[] = "The X11 connection broke";
QtMessageHandler previousMessageHandler = nullptr;

void EndWhenConnectionLost(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (previousMessageHandler)
        previousMessageHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
    if (type == QtWarningMsg && message.startsWith(QLatin1String(ConnectionLost)))
        EndAtExit(1, nullptr);
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

    static const bool exitHookInstalled = ::on_exit(EndAtExit, nullptr) == 0;
    (void)exitHookInstalled;
    previousMessageHandler = qInstallMessageHandler(EndWhenConnectionLost);
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
    qInstallMessageHandler(std::exchange(previousMessageHandler, nullptr));
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
    // An exception must not leave a slot: it would cross the event loop and abort the process.
    try {
        quit_();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Kabinex: %s\n", error.what());
        SaveOnce();
        EndNow();
    }
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
