#include "ExtractionWait.h"

#include "FileSystem.h"
#include "FmProgr.h"
#include "ProcessIdentity.h"
#include "ZipDirectory.h"
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
constexpr int ReadyPollMilliseconds = 50;
// The session's members and the private directory are looked over at most this often.
constexpr qint64 LookMilliseconds = 1000;
constexpr std::size_t MostTools = 16;

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

void TExtractionWait::Watch(bool on)
{
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

TWaitEnd TExtractionWait::RunUntil(const std::function<bool()>& ready)
{
    if (ready())
        return TWaitEnd::ScriptEnded;
    Watch(true);
    QEventLoop loop;
    loop_ = &loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ready())
            loop.quit();
    });
    poll.start(ReadyPollMilliseconds);
    loop.exec();
    loop_ = nullptr;
    Watch(false);
    return cancelled_ ? TWaitEnd::Cancelled : TWaitEnd::ScriptEnded;
}

TWaitEnd TExtractionWait::Run(TChildProcess& script)
{
    Watch(true);
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
    Watch(false);
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

TExtractionShare::TExtractionShare(pid_t script, const std::string& archive, std::string stagingDir)
    : script_(TProcessIdentity::Of(script)), archive_(archive), stagingDir_(std::move(stagingDir))
{
    if (const std::optional<platform::TEntryStatus> status = platform::PathStatus(archive); status && !status->directory)
        archiveBytes_ = static_cast<std::uint64_t>(status->size);
}

std::optional<std::uint64_t> TExtractionShare::BytesRead()
{
    const std::optional<std::uint64_t> script = BytesReadBy(script_.pid);
    if (!script || archiveBytes_ == 0)
        return std::nullopt;
    std::erase_if(tools_, [](const TProcessIdentity& tool) { return !tool.IsRunning(); });
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (tools_.empty() && now - lastLook_ >= LookMilliseconds) {
        lastLook_ = now;
        tools_ = LiveSessionMembers(script_, MostTools);
        std::erase(tools_, script_);
    }
    std::uint64_t bytes = *script;
    for (const TProcessIdentity& tool : tools_)
        bytes += BytesReadBy(tool.pid).value_or(0);
    return bytes;
}

double TExtractionShare::TreeShare()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastLook_ < LookMilliseconds)
        return shown_;
    lastLook_ = now;
    if (!uncompressed_)
        uncompressed_ = UncompressedSize(archive_).value_or(0);
    return *uncompressed_ > 0 ? double(platform::TreeBytes(stagingDir_)) / double(*uncompressed_) : 0.0;
}

double TExtractionShare::Fraction()
{
    const std::optional<std::uint64_t> read = BytesRead();
    shown_ = std::max(shown_, read ? double(*read) / double(archiveBytes_) : TreeShare());
    return shown_;
}
