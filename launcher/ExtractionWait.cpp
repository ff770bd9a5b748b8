#include "ExtractionWait.h"

#include "FileSystem.h"
#include "FmProgr.h"
#include "ProcessIdentity.h"
#include "progress.h"

#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <csignal>

namespace {

constexpr int ProgressDelayMilliseconds = 500;
constexpr int ProgressStepMilliseconds = 100;
// Below the hook's "done" threshold, so the window stays up until the wait ends.
constexpr double ProgressCeiling = 0.99;
constexpr int GroupEndPolls = 100;
constexpr int GroupEndPollMilliseconds = 20;

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

TExtractionWait::TExtractionWait(QWidget* window, std::function<double()> progress)
    : window_(window), progress_(std::move(progress))
{
}

TWaitEnd TExtractionWait::Run(TChildProcess& script)
{
    qApp->installEventFilter(this);
    startedAt_ = QDateTime::currentMSecsSinceEpoch();
    QTimer progressTimer;
    connect(&progressTimer, &QTimer::timeout, this, &TExtractionWait::ShowProgress);
    progressTimer.start(ProgressStepMilliseconds);

    WaitForEnd(script);
    if (cancelled_) {
        // The script leads its own process group: the unzip tool goes with it.
        ::kill(-script.Pid(), SIGKILL);
        WaitForEnd(script);
        for (int i = 0; i < GroupEndPolls && GroupHasLiveProcesses(script.Pid()); ++i)
            platform::SleepMilliseconds(GroupEndPollMilliseconds);
    }
    progressTimer.stop();
    qApp->removeEventFilter(this);
    if (progressShown_ && ProgressHook)
        ProgressHook(1.0f);
    return cancelled_ ? TWaitEnd::Cancelled : TWaitEnd::ScriptEnded;
}

void TExtractionWait::WaitForEnd(TChildProcess& script)
{
    if (!script.Running())
        return;
    QEventLoop loop;
    loop_ = &loop;
    const QMetaObject::Connection ended = connect(&script, &TChildProcess::Finished, &loop, &QEventLoop::quit);
    if (script.Running())
        loop.exec();
    disconnect(ended);
    loop_ = nullptr;
}

void TExtractionWait::Cancel()
{
    if (cancelled_)
        return;
    cancelled_ = true;
    if (loop_)
        loop_->quit();
}

void TExtractionWait::ShowProgress()
{
    if (cancelled_ || !ProgressHook || QDateTime::currentMSecsSinceEpoch() - startedAt_ < ProgressDelayMilliseconds)
        return;
    progressShown_ = true;
    ProgressHook(static_cast<float>(std::clamp(progress_(), 0.0, ProgressCeiling)));
}

bool TExtractionWait::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close && watched == window_) {
        event->ignore();
        closeRequested_ = true;
        Cancel();
        return true;
    }
    // The progress window's close button cancels as Escape does; the window stays until the
    // wait has ended.
    if (event->type() == QEvent::Close && ProgressForm != nullptr && watched == ProgressForm) {
        event->ignore();
        Cancel();
        return true;
    }
    if (!IsUserInput(event->type()))
        return false;
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        Cancel();
    return true;
}
