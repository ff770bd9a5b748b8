#include "ProcessIdentity.h"

#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string BootId()
{
    static const std::string id = [] {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string text;
        std::getline(in, text);
        return text;
    }();
    return id;
}

// The fields of /proc/PID/stat after the command name (which may hold blanks and parentheses):
// the state first, then the parent, the group, ...
struct TStat {
    char state = '?';
    pid_t group = 0;
    std::uint64_t startTicks = 0;
};

bool ReadStat(pid_t pid, TStat& stat)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text))
        return false;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    pid_t parent = 0;
    fields >> stat.state >> parent >> stat.group;
    // Field 22 of the line is the start time; the stream stands at field 6 now.
    for (int i = 6; i < 22 && fields; ++i)
        fields >> field;
    fields >> stat.startTicks;
    return bool(fields);
}

int OpenPidfd(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

} // namespace

TProcessIdentity TProcessIdentity::Of(pid_t pid)
{
    TStat stat;
    if (pid <= 0 || !ReadStat(pid, stat))
        return {};
    return {pid, stat.startTicks, BootId()};
}

TProcessIdentity TProcessIdentity::Self()
{
    return Of(::getpid());
}

bool TProcessIdentity::IsRunning() const
{
    TStat stat;
    return pid > 0 && bootId == BootId() && ReadStat(pid, stat) && stat.startTicks == startTicks
        && stat.state != 'Z' && stat.state != 'X';
}

void KillGroup(const TProcessIdentity& leader)
{
    if (leader.IsRunning())
        ::kill(-leader.pid, SIGKILL);
}

bool GroupHasLiveProcesses(pid_t group)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool alive = false;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        TStat stat;
        if (pid > 0 && ReadStat(pid, stat) && stat.group == group && stat.state != 'Z' && stat.state != 'X') {
            alive = true;
            break;
        }
    }
    ::closedir(proc);
    return alive;
}

TProcessWatch::TProcessWatch(const TProcessIdentity& process, QObject* parent)
    : QObject(parent), process_(process)
{
    // The descriptor names the process from here on; the identity check after opening it
    // makes sure it is the recorded one and not a later holder of the pid.
    pidfd_ = process_.pid > 0 ? OpenPidfd(process_.pid) : -1;
    if (pidfd_ >= 0) {
        notifier_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read);
        connect(notifier_, &QSocketNotifier::activated, this, &TProcessWatch::Check);
    } else if (process_.IsRunning()) {
        // No descriptor to spare: ask now and then instead.
        poll_ = new QTimer(this);
        connect(poll_, &QTimer::timeout, this, &TProcessWatch::Check);
        poll_->start(1000);
    }
    QTimer::singleShot(0, this, &TProcessWatch::Check);
}

TProcessWatch::~TProcessWatch()
{
    delete notifier_;
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

void TProcessWatch::Check()
{
    if (ended_ || process_.IsRunning())
        return;
    ended_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    if (poll_)
        poll_->stop();
    emit Ended();
}
